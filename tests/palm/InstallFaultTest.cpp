// Installation and loading when the system fails underneath: a disk that fills, a folder that
// cannot take files, a folder removed while the run goes on, and memory that runs out.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <set>

#include "app/progress/ProgressState.h"
#include "audio/ByteBlock.h"
#include "audio/File.h"
#include "audio/LegacyCodePage.h"
#include "audio/ResultCode.h"
#include "palm/AudioRow.h"
#include "palm/InstallRun.h"
#include "palm/WaveAdjustment.h"

namespace tonaro {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v) {
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
}
void Put32(Bytes& b, uint32_t v) {
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

// Format 1, a tempo track and a note track: loading merges them and inserts a Master Volume.
Bytes FormatOneSmf() {
    return {'M', 'T', 'h', 'd', 0,    0,    0,    6,    0,    1,    0,    2,    0,    96,   'M',  'T',  'r', 'k',
            0,   0,   0,   11,  0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00, 'M',  'T', 'r',
            'k', 0,   0,   0,   12,   0x00, 0x90, 60,   100,  0x60, 0x80, 60,   0,    0x00, 0xFF, 0x2F, 0x00};
}

// 16-bit mono PCM at 11025 Hz: `frames` frames of a square wave.
Bytes PcmWave(uint32_t frames) {
    Bytes b{'R', 'I', 'F', 'F'};
    Put32(b, 36 + frames * 2);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(b, 16);
    Put16(b, 1);
    Put16(b, 1);
    Put32(b, 11025);
    Put32(b, 22050);
    Put16(b, 2);
    Put16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    Put32(b, frames * 2);
    for (uint32_t i = 0; i < frames; ++i) Put16(b, (i / 20) % 2 ? 8000 : uint16_t(-8000));
    return b;
}

std::unique_ptr<CAudioRow> LoadedRow(const Bytes& bytes, const std::string& path) {
    CMemoryFile file(bytes);
    auto row = std::make_unique<CAudioRow>();
    const bool wave = path.ends_with(".wav");
    const int result = wave ? row->LoadWave(file, path) : row->LoadSmf(file, path);
    EXPECT_EQ(result, kResultOk) << path;
    return row;
}

// What a row shows in the list; a failed installation must leave it alone.
struct RowState {
    std::string name;
    uint32_t convertedSize;
    uint32_t payloadSize;
    bool operator==(const RowState&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const RowState& s) {
        return out << s.name << ": " << s.convertedSize << " bytes, payload " << s.payloadSize;
    }
};
RowState StateOf(const CAudioRow& row) {
    return {row.GetName(), row.ConvertedSize(), row.Item() ? row.Item()->GetPayloadSize() : 0};
}

// Records what the run reports, and checks each file reported written while it is still there.
class CheckingObserver : public CInstallObserver {
public:
    CheckingObserver(const fs::path& folder, const std::vector<InstallListEntry>& list)
        : folder_(folder), list_(list) {}
    void SetCurrentText(const std::string& fileName) override {
        if (beforeEntry) beforeEntry(fileName);
    }
    void EntryFinished(const InstallEntryResult& result) override {
        statuses.push_back(result.status);
        if (result.status != InstallEntryStatus::kWritten) {
            EXPECT_FALSE(fs::exists(folder_ / result.fileName)) << "a failed entry left " << result.fileName;
            return;
        }
        std::error_code error;
        EXPECT_EQ(fs::file_size(folder_ / result.fileName, error), list_[result.index].row->ConvertedSize())
            << result.fileName << " is reported written but is not whole";
    }

    std::function<void(const std::string&)> beforeEntry;
    std::vector<InstallEntryStatus> statuses;

private:
    fs::path folder_;
    const std::vector<InstallListEntry>& list_;
};

class InstallFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        SelectLegacyCodePage(LegacyCodePage::Windows1252);
        folder = fs::temp_directory_path() / ("tonaro-fault-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        progress.BeginProgress(nullptr, nullptr, 0, 100);
    }
    void TearDown() override { fs::remove_all(folder); }

    void Add(std::unique_ptr<CAudioRow> row) {
        list.push_back({row.get(), true});
        rows.push_back(std::move(row));
    }
    std::vector<RowState> States() const {
        std::vector<RowState> states;
        for (const auto& row : rows) states.push_back(StateOf(*row));
        return states;
    }
    InstallOutcome Run(const fs::path& target, CheckingObserver& observer) {
        std::tm time{};
        time.tm_year = 126;
        return CInstallRun(InstallMode::kQueue, target, time).Run(list, progress, observer);
    }

    fs::path folder;
    CProgressState progress;
    std::vector<std::unique_ptr<CAudioRow>> rows;
    std::vector<InstallListEntry> list;
};

using Status = InstallEntryStatus;

// The file size limit makes the kernel refuse bytes past it (EFBIG) as a full disk would, and it
// binds root as well. The small MIDI databases fit under it, the WAVE database does not.
TEST_F(InstallFaultTest, DatabaseThatDoesNotFitOnTheDiskFailsAndIsRemoved) {
    Add(LoadedRow(FormatOneSmf(), "/m/first.mid"));
    Add(LoadedRow(PcmWave(11025), "/s/long.wav"));
    Add(LoadedRow(FormatOneSmf(), "/m/last.mid"));
    ASSERT_LT(rows[0]->ConvertedSize(), 1024u);
    ASSERT_GT(rows[1]->ConvertedSize(), 4096u);
    const std::vector<RowState> before = States();

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    CheckingObserver observer(folder, list);
    const InstallOutcome outcome = Run(folder, observer);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);

    EXPECT_EQ(outcome.succeeded, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(outcome.failed, (std::vector<std::string>{"long"}));
    EXPECT_EQ(observer.statuses, (std::vector<Status>{Status::kWritten, Status::kWriteFailed, Status::kWritten}));
    EXPECT_FALSE(fs::exists(folder / "long.PDB"));
    EXPECT_EQ(States(), before);
}

TEST_F(InstallFaultTest, DatabaseWrittenToAFullDeviceIsNotReportedWritten) {
    CAudioRow& row = *LoadedRow(FormatOneSmf(), "/m/song.mid").release();
    std::unique_ptr<CAudioRow> owner(&row);
    row.SetDatabaseName("AlarmSound");
    auto full = CDiskFile::Open("/dev/full", CDiskFile::Mode::CreateWrite);
    ASSERT_TRUE(full);
    const bool written = row.WriteDatabase(full.get());
    EXPECT_FALSE(full->Close() && written);
}

// Root writes into folders whatever their mode bits, so the folders here fail for every user:
// a "folder" that is a regular file, and one below a regular file.
TEST_F(InstallFaultTest, FolderThatCannotTakeFilesFailsEveryEntryAndKeepsTheRows) {
    Add(LoadedRow(FormatOneSmf(), "/m/a.mid"));
    Add(LoadedRow(PcmWave(400), "/s/b.wav"));
    const std::vector<RowState> before = States();
    std::ofstream(folder / "plain-file") << "x";
    for (const fs::path& target : {folder / "plain-file", folder / "plain-file" / "below"}) {
        CheckingObserver observer(target, list);
        const InstallOutcome outcome = Run(target, observer);
        EXPECT_TRUE(outcome.succeeded.empty()) << target;
        EXPECT_EQ(outcome.failed, (std::vector<std::string>{"a", "b"})) << target;
        EXPECT_EQ(observer.statuses, (std::vector<Status>{Status::kCannotCreate, Status::kCannotCreate}));
    }
    EXPECT_EQ(States(), before);
}

TEST_F(InstallFaultTest, FolderRemovedDuringTheRunFailsTheEntriesAfterIt) {
    for (const char* path : {"/m/one.mid", "/m/two.mid", "/m/three.mid"}) Add(LoadedRow(FormatOneSmf(), path));
    const std::vector<RowState> before = States();
    CheckingObserver observer(folder, list);
    observer.beforeEntry = [this](const std::string& fileName) {
        if (fileName == "two.PDB") fs::remove_all(folder);
    };
    const InstallOutcome outcome = Run(folder, observer);
    EXPECT_EQ(outcome.succeeded, (std::vector<int32_t>{0}));
    EXPECT_EQ(outcome.failed, (std::vector<std::string>{"two", "three"}));
    EXPECT_EQ(observer.statuses, (std::vector<Status>{Status::kWritten, Status::kCannotCreate, Status::kCannotCreate}));
    EXPECT_EQ(States(), before);
}

// Fails the n-th block allocation from the gate's arming on, counting from 0.
class FailingAllocation {
public:
    explicit FailingAllocation(int failing) {
        count_ = 0;
        failing_ = failing;
        CByteBlock::SetAllocationGate(&Gate);
    }
    ~FailingAllocation() { CByteBlock::SetAllocationGate(nullptr); }
    static bool Hit() { return count_ > failing_; }

private:
    static bool Gate(size_t) { return count_++ != failing_; }
    static inline int count_ = 0;
    static inline int failing_ = 0;
};

// Walks every block allocation of an operation on a fresh row: when one fails, the operation
// either still succeeds with the same outcome (the block was not needed in the end) or answers one
// of `allowed` and leaves the row as it was. Returns the results seen; the walk ends once no
// allocation fails.
template <typename MakeRow, typename Operation>
std::set<int> EveryAllocationFailure(MakeRow makeRow, Operation operation, std::set<int> allowed) {
    std::set<int> seen;
    auto reference = makeRow();
    const RowState untouched = StateOf(*reference);
    EXPECT_EQ(operation(*reference), kResultOk);
    const RowState succeeded = StateOf(*reference);
    for (int failing = 0; failing < 1000; ++failing) {
        auto row = makeRow();
        int result;
        bool hit;
        {
            FailingAllocation gate(failing);
            result = operation(*row);
            hit = FailingAllocation::Hit();
        }
        if (!hit) return seen;
        seen.insert(result);
        if (result == kResultOk) {
            EXPECT_EQ(StateOf(*row), succeeded) << "allocation " << failing;
            continue;
        }
        EXPECT_TRUE(allowed.count(result)) << "allocation " << failing << " answered " << result;
        EXPECT_EQ(StateOf(*row), untouched) << "allocation " << failing;
    }
    ADD_FAILURE() << "the operation does not finish";
    return seen;
}

auto EmptyRow() {
    return std::make_unique<CAudioRow>();
}

TEST(InsufficientMemoryTest, LoadingAFormatOneSmfAnswersThreeAtEveryAllocation) {
    const std::set<int> seen = EveryAllocationFailure(EmptyRow,
                                                      [](CAudioRow& row) {
                                                          CMemoryFile file(FormatOneSmf());
                                                          return row.LoadSmf(file, "/m/song.mid");
                                                      },
                                                      {kResultNoMemory});
    EXPECT_EQ(seen, (std::set<int>{kResultNoMemory}));
}

// Twelve seconds of 11025 Hz hold more than a database does, so loading and rebuilding also cut:
// the cut's new block is the allocation that answers "Insufficient memory". Blocks of the PCM
// and the encoding fail the load as an unsupported file.
TEST(InsufficientMemoryTest, CuttingAWaveAnswersThreeWhenItsBlockCannotBeObtained) {
    const Bytes longWave = PcmWave(11025 * 12);
    const std::set<int> seen = EveryAllocationFailure(EmptyRow,
                                                      [&](CAudioRow& row) {
                                                          CMemoryFile file(longWave);
                                                          return row.LoadWave(file, "/s/long.wav");
                                                      },
                                                      {kResultUnsupported, kResultNoMemory});
    EXPECT_TRUE(seen.count(kResultNoMemory));
}

TEST(InsufficientMemoryTest, RebuildingAWaveRowKeepsTheRowWhenMemoryRunsOut) {
    const Bytes longWave = PcmWave(11025 * 12);
    const std::set<int> seen = EveryAllocationFailure([&] { return LoadedRow(longWave, "/s/long.wav"); },
                                                      [](CAudioRow& row) { return AdjustWaveRow(row, 22050, -6); },
                                                      {kResultUnsupported, kResultNoMemory, kResultFailed});
    EXPECT_TRUE(seen.count(kResultNoMemory));
}

}  // namespace
}  // namespace tonaro
