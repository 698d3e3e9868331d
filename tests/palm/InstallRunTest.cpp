#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "app/progress/ProgressState.h"
#include "audio/LegacyCodePage.h"
#include "audio/SmfItem.h"
#include "audio/WaveItem.h"
#include "palm/AudioRow.h"
#include "palm/InstallNamer.h"
#include "palm/InstallRun.h"

namespace tonaro {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A format-0 file with one note; its last byte tells the entries apart.
Bytes SmfBytes(uint8_t key) {
    return {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 8,
            0x00, 0x90, key, 0x40, 0x00, 0xFF, 0x2F, 0x00};
}

std::unique_ptr<CAudioRow> SmfRow(const std::string& name, bool withBytes = true) {
    static uint8_t key = 0;
    auto item = std::make_unique<CSmfItem>();
    if (withBytes) item->SetSmfBytes(SmfBytes(++key & 0x7F).data(), 30);
    item->SetName(name);
    item->SetRecordCode(MakeFourCC("PMrc"));
    auto row = std::make_unique<CAudioRow>();
    row->InstallItem(std::move(item), AudioClass::Smf, "/music/" + name + ".mid");
    return row;
}

std::unique_ptr<CAudioRow> WaveRow(const std::string& name) {
    auto item = std::make_unique<CWaveItem>();
    AdpcmWaveFormat format;
    format.wave = {kWaveFormatImaAdpcm, 1, 11025, 5588, 512, 4, 2};
    format.samplesPerBlock = 1017;
    const Bytes block(512, 0x11);
    item->SetAdpcm(format, block.data(), uint32_t(block.size()));
    item->SetName(name);
    item->SetRecordCode(MakeFourCC("PArc"));
    auto row = std::make_unique<CAudioRow>();
    row->InstallItem(std::move(item), AudioClass::Wave, "/sounds/" + name + ".wav");
    return row;
}

struct Recorder {
    std::vector<int32_t> positions;
    static void Callback(int, void* target, int32_t value) {
        static_cast<Recorder*>(target)->positions.push_back(value);
    }
};

class InstallRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        SelectLegacyCodePage(LegacyCodePage::Windows1252);
        folder = fs::temp_directory_path() / ("tonaro-install-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        time.tm_year = 2026 - 1900;
        time.tm_mon = 11;
        time.tm_mday = 10;
        time.tm_hour = 4;
        time.tm_min = 5;
        time.tm_sec = 6;
        progress.BeginProgress(&recorder, &Recorder::Callback, 0, 100);
    }
    void TearDown() override { fs::remove_all(folder); }

    void Add(std::unique_ptr<CAudioRow> row, bool checked = true) {
        list.push_back({row.get(), checked});
        rows.push_back(std::move(row));
    }
    InstallOutcome Run(InstallMode mode = InstallMode::kQueue) {
        CInstallObserver observer;
        return CInstallRun(mode, folder, time).Run(list, progress, observer);
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    Bytes Read(const std::string& name) const {
        std::ifstream in(folder / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string DatabaseNameIn(const std::string& file) const {
        const Bytes bytes = Read(file);
        return std::string(reinterpret_cast<const char*>(bytes.data()));
    }

    fs::path folder;
    std::tm time{};
    CProgressState progress;
    Recorder recorder;
    std::vector<std::unique_ptr<CAudioRow>> rows;
    std::vector<InstallListEntry> list;
};

TEST_F(InstallRunTest, NamesThatDifferInCaseGetSuffixesInListOrder) {
    Add(SmfRow("Alarm"));
    Add(SmfRow("alarm"));
    Add(SmfRow("BELL"), false);  // unchecked: not counted
    Add(SmfRow("Bell"));
    const InstallOutcome outcome = Run();
    EXPECT_EQ(outcome.succeeded, (std::vector<int32_t>{0, 1, 3}));
    EXPECT_TRUE(outcome.failed.empty());
    EXPECT_EQ(Files(), (std::vector<std::string>{"Alarm-001.PDB", "Bell.PDB", "alarm-002.PDB"}));
    EXPECT_EQ(DatabaseNameIn("Alarm-001.PDB"), "AlarmSound2026121004050600001");
    EXPECT_EQ(DatabaseNameIn("alarm-002.PDB"), "AlarmSound2026121004050600002");
    EXPECT_EQ(DatabaseNameIn("Bell.PDB"), "AlarmSound2026121004050600003");
    EXPECT_EQ(recorder.positions, (std::vector<int32_t>{33, 67, 100}));
}

TEST_F(InstallRunTest, FailedDatabaseIsRemovedAndDoesNotAdvanceTheCounter) {
    Add(SmfRow("A"));
    Add(SmfRow("B", false));  // no SMF bytes: writing its record fails
    Add(SmfRow("C"));
    const InstallOutcome outcome = Run();
    EXPECT_EQ(outcome.succeeded, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(outcome.failed, (std::vector<std::string>{"B"}));
    EXPECT_EQ(Files(), (std::vector<std::string>{"A.PDB", "C.PDB"}));
    EXPECT_EQ(DatabaseNameIn("C.PDB"), "AlarmSound2026121004050600002");
}

TEST_F(InstallRunTest, FileThatCannotBeCreatedIsListedByFileNameAndDoesNotMoveTheBar) {
    for (const char* name : {"A", "X", "B", "X"}) Add(SmfRow(name));
    fs::create_directory(folder / "X-002.PDB");
    const InstallOutcome outcome = Run();
    EXPECT_EQ(outcome.failed, (std::vector<std::string>{"X-002"}));
    EXPECT_EQ(outcome.succeeded, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(recorder.positions, (std::vector<int32_t>{25, 50, 75}));
}

TEST_F(InstallRunTest, NoFileIsWrittenTwice) {
    Add(SmfRow("Alarm"));
    Add(SmfRow("Alarm"));
    Add(SmfRow("alarm-001"));
    const InstallOutcome outcome = Run();
    EXPECT_EQ(outcome.succeeded.size(), 3u);
    EXPECT_EQ(Files(), (std::vector<std::string>{"Alarm-001.PDB", "Alarm-002.PDB", "alarm-001-001.PDB"}));
}

TEST_F(InstallRunTest, ThousandthEntryOfOneNameFails) {
    for (int i = 0; i < 1001; ++i) Add(SmfRow("Tick"));
    const InstallOutcome outcome = Run(InstallMode::kDump);
    EXPECT_EQ(outcome.succeeded.size(), 999u);
    EXPECT_EQ(outcome.failed, (std::vector<std::string>{"Tick", "Tick"}));
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 999u);
    EXPECT_EQ(files.front(), "Tick-001.MID");
    EXPECT_EQ(files.back(), "Tick-999.MID");
}

TEST_F(InstallRunTest, DumpWritesPayloadsWithTheExtensionOfTheirClass) {
    Add(SmfRow("Tune"));
    Add(WaveRow("Tune"));
    const InstallOutcome outcome = Run(InstallMode::kDump);
    EXPECT_EQ(outcome.succeeded, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(Files(), (std::vector<std::string>{"Tune-001.MID", "Tune-002.WAV"}));
    CMemoryFile smf, wave;
    rows[0]->Item()->WritePayload(smf);
    rows[1]->Item()->WritePayload(wave);
    EXPECT_EQ(Read("Tune-001.MID"), smf.Bytes());
    EXPECT_EQ(Read("Tune-002.WAV"), wave.Bytes());
    EXPECT_TRUE(rows[0]->DatabaseName().empty());
}

class CancelOnSecondPump : public CInstallObserver {
public:
    explicit CancelOnSecondPump(CProgressState& progress) : progress_(progress) {}
    void PumpMessages() override {
        if (++pumps_ == 2) progress_.RequestCancel();
    }
    void SetCurrentText(const std::string& fileName) override { texts.push_back(fileName); }
    std::vector<std::string> texts;

private:
    CProgressState& progress_;
    int pumps_ = 0;
};

TEST_F(InstallRunTest, CancelStopsAfterTheEntryBeingWritten) {
    for (const char* name : {"One", "Two", "Three"}) Add(SmfRow(name));
    CancelOnSecondPump observer(progress);
    const InstallOutcome outcome = CInstallRun(InstallMode::kQueue, folder, time).Run(list, progress, observer);
    EXPECT_EQ(outcome.succeeded, (std::vector<int32_t>{0, 1}));
    EXPECT_TRUE(outcome.failed.empty());
    EXPECT_EQ(observer.texts, (std::vector<std::string>{"One.PDB", "Two.PDB"}));
}

TEST_F(InstallRunTest, NothingCheckedWritesNothing) {
    Add(SmfRow("Quiet"), false);
    const InstallOutcome outcome = Run();
    EXPECT_TRUE(outcome.succeeded.empty() && outcome.failed.empty());
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(recorder.positions.empty());
}

TEST(InstallNamer, LowerCasesTheLettersOfTheLegacyCodePage) {
    const std::pair<const char*, const char*> cases[] = {
        {"Alarm ABC", "alarm abc"},
        {"\u00C9T\u00C9", "\u00E9t\u00E9"},          // accented capitals
        {"\u0152\u0160\u017D\u0178", "\u0153\u0161\u017E\u00FF"},  // the four outside Latin-1
        {"\u00D7\u00DF", "\u00D7\u00DF"},            // multiplication sign and sharp s have no partner
        {"\u30A2\u30E9\u30FC\u30E0", "\u30A2\u30E9\u30FC\u30E0"},
        {"bad\xC3", "bad\xC3"},                      // a cut sequence is kept as it is
    };
    for (const auto& [name, lower] : cases) EXPECT_EQ(LowerCaseName(name), lower) << name;
}

}  // namespace
}  // namespace tonaro
