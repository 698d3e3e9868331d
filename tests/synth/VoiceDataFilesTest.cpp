// The FM voice file, the wave bank file and where they are looked for. Every file is made here.

#include "synth/VoiceFileLocator.h"
#include "synth/VoiceFileReader.h"
#include "synth/VoiceTable.h"
#include "synth/WaveBankReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMelodicAt = 33131;
constexpr std::size_t kDrumAt = 66411;

// A file voice of algorithm 1 whose first operator has total level `level`.
void putVoice(Bytes& image, std::size_t at, std::uint8_t level)
{
    image[at] = 0x01;
    image[at + 1] = 0x01;
    image[at + 2 + 3] = static_cast<std::uint8_t>(level << 2);
    image[at + 22] = 0x33;
}

Bytes voiceFile(std::size_t size = mevo::kVoiceFileSize, const char* magic = "FM  ")
{
    Bytes image(size, 0);
    std::copy(magic, magic + 4, image.begin());
    return image;
}

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("voicedata-" + std::to_string(::getpid()) + "-" +
                                                   std::to_string(counter_++)))
    {
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    fs::path write(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(path_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path_ / name;
    }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

mevo::VoiceTable builtIn()
{
    mevo::VoiceTable table;
    table.loadBuiltInBanks();
    return table;
}

bool sameBank(const mevo::VoiceTable& a, int bankA, const mevo::VoiceTable& b, int bankB)
{
    for (int i = 0; i < mevo::kVoicesPerBank; ++i) {
        if (!(*a.find(bankA, i) == *b.find(bankB, i))) {
            return false;
        }
    }
    return true;
}

TEST(VoiceFile, ReplacesMelodicAndDrumBanksAtTheirOffsets)
{
    Bytes image = voiceFile();
    putVoice(image, kMelodicAt + (3 * 128 + 7) * 26, 11);   // bank 3, program 7
    putVoice(image, kDrumAt + 2 * 2054 + 0 * 26, 12);       // bank 12, key 13
    putVoice(image, kDrumAt + 9 * 2054 + 77 * 26, 13);      // bank 19, key 90: the file's last voice
    putVoice(image, kDrumAt + 9 * 2054 + 78 * 26 - 1, 14);  // padding of bank 19, partly absent
    TempDir dir;
    mevo::VoiceTable table = builtIn();
    ASSERT_TRUE(table.loadVoiceFile(dir.write("tzvoice.vxb", image)));

    EXPECT_EQ(table.find(3, 7)->operators[0].totalLevel, 11);
    EXPECT_EQ(table.find(3, 7)->operatorCount, 2);
    EXPECT_EQ(table.find(3, 7)->drumKey, 0x33);
    EXPECT_EQ(table.find(12, 13)->operators[0].totalLevel, 12);
    EXPECT_EQ(table.find(19, 90)->operators[0].totalLevel, 13);
    // Every file voice replaces its entry, the zero ones too; keys outside 13..90 keep theirs.
    EXPECT_EQ(table.find(0, 0)->operators[0], mevo::OperatorParams{});
    EXPECT_EQ(*table.find(10, 91), *builtIn().find(10, 91));
    EXPECT_EQ(*table.find(19, 12), mevo::VoiceRecord{});
    EXPECT_TRUE(sameBank(table, 20, table, 0));
    EXPECT_TRUE(sameBank(table, 30, table, 10));
}

TEST(VoiceFile, AnyOtherLengthIsIgnoredCompletely)
{
    TempDir dir;
    for (std::size_t size : {mevo::kVoiceFileSize - 1, mevo::kVoiceFileSize + 1, std::size_t{0}, std::size_t{4}}) {
        Bytes image = voiceFile(std::max<std::size_t>(size, 4));
        image.resize(size);
        if (image.size() > kMelodicAt + 26) {
            putVoice(image, kMelodicAt, 11);
        }
        mevo::VoiceTable table = builtIn();
        table.copyBank(1, 20); // so a refresh of the user banks would show
        EXPECT_FALSE(table.loadVoiceFile(dir.write("v", image))) << size;
        EXPECT_TRUE(sameBank(table, 0, builtIn(), 0)) << size;
        EXPECT_TRUE(sameBank(table, 20, builtIn(), 1)) << size;
    }
    mevo::VoiceTable table = builtIn();
    EXPECT_FALSE(table.loadVoiceFile(dir.path() / "missing"));
    EXPECT_FALSE(table.loadVoiceFile(dir.path())) << "a folder is no voice file";
}

TEST(VoiceFile, WrongMagicOnlyRefreshesTheUserBanks)
{
    Bytes image = voiceFile(mevo::kVoiceFileSize, "FM ?");
    putVoice(image, kMelodicAt, 11);
    mevo::VoiceTable table = builtIn();
    table.copyBank(1, 20);
    table.copyBank(1, 30);
    EXPECT_TRUE(mevo::readVoiceFile(image, table));
    EXPECT_TRUE(sameBank(table, 0, builtIn(), 0));
    EXPECT_TRUE(sameBank(table, 20, builtIn(), 0));
    EXPECT_TRUE(sameBank(table, 30, builtIn(), 10));
}

// Records what the wave bank reader registers; ids are handed out from 63 as the engine does.
class RecordingRegistry : public mevo::WaveRegistry {
public:
    struct Registration {
        Bytes adpcm;
        std::uint32_t rate;
    };
    std::uint32_t registerWave(std::uint32_t id, std::span<const std::uint8_t> adpcm, std::uint32_t rate) override
    {
        EXPECT_EQ(id, 0u) << "the wave bank asks for automatic ids";
        registered.push_back({Bytes(adpcm.begin(), adpcm.end()), rate});
        return nextId <= mevo::kMaxWaveId ? nextId++ : 0;
    }
    void deleteWave(std::uint32_t id) override { deleted.push_back(id); }

    std::vector<Registration> registered;
    std::vector<std::uint32_t> deleted;
    std::uint32_t nextId = mevo::kFirstAutoWaveId;
};

void put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
}

struct FormatEntry {
    char id0, id1;
    std::uint8_t bankOffset, key, kind, zero;
    std::uint16_t rate;
};

// Header, format table, then the chunks as given (raw bytes).
Bytes waveBank(const std::vector<FormatEntry>& entries, const Bytes& chunks)
{
    Bytes b(16 + entries.size() * 24, 0);
    std::copy_n("ADP ", 4, b.begin());
    std::copy_n("FMT ", 4, b.begin() + 8);
    put32(b, 12, static_cast<std::uint32_t>(entries.size() * 24));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FormatEntry& e = entries[i];
        std::uint8_t* p = &b[16 + i * 24];
        p[0] = static_cast<std::uint8_t>(e.id0);
        p[1] = static_cast<std::uint8_t>(e.id1);
        p[18] = e.bankOffset;
        p[19] = e.key;
        p[20] = e.kind;
        p[21] = e.zero;
        p[22] = static_cast<std::uint8_t>(e.rate >> 8);
        p[23] = static_cast<std::uint8_t>(e.rate);
    }
    b.insert(b.end(), chunks.begin(), chunks.end());
    put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
    return b;
}

Bytes chunk(char id0, char id1, const Bytes& data, std::uint32_t length)
{
    Bytes c{'W', 'A', static_cast<std::uint8_t>(id0), static_cast<std::uint8_t>(id1), 0, 0, 0, 0};
    put32(c, 4, length);
    c.insert(c.end(), data.begin(), data.end());
    return c;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(WaveBank, RegistersEachMatchingChunkAndNamesItInItsDrumVoice)
{
    const Bytes image = waveBank({{'k', '1', 0, 5, 4, 0, 8000},
                                  {'s', '2', 3, 100, 4, 0, 0x2B11},
                                  {'x', '3', 1, 7, 3, 0, 8000}, // kind other than 4
                                  {'y', '4', 1, 8, 4, 1, 8000}}, // byte 21 not zero
                                 Bytes{0x57, 0x41} + chunk('s', '2', {0xAB}, 1) + chunk('k', '1', {1, 2, 3}, 3) +
                                     chunk('x', '3', {9}, 1) + chunk('y', '4', {9}, 1));
    mevo::VoiceTable table = builtIn();
    RecordingRegistry waves;
    ASSERT_TRUE(mevo::readWaveBank(image, table, waves));
    EXPECT_EQ(waves.deleted, std::vector<std::uint32_t>{0});
    ASSERT_EQ(waves.registered.size(), 2u);
    EXPECT_EQ(waves.registered[0].adpcm, (Bytes{1, 2, 3}));
    EXPECT_EQ(waves.registered[0].rate, 8000u);
    EXPECT_EQ(table.find(10, 5)->waveId, 63u);
    EXPECT_EQ(waves.registered[1].adpcm, Bytes{0xAB});
    EXPECT_EQ(waves.registered[1].rate, 11025u);
    EXPECT_EQ(table.find(13, 100)->waveId, 64u);
    EXPECT_EQ(table.find(11, 7)->waveId, 0u);
    EXPECT_EQ(table.find(11, 8)->waveId, 0u);
}

TEST(WaveBank, MalformedBanksNeverReadPastTheirBytes)
{
    const Bytes good = waveBank({{'k', '1', 0, 5, 4, 0, 8000}}, chunk('k', '1', {1, 2, 3}, 3));
    struct Case {
        const char* what;
        Bytes image;
        bool deletes;
        std::size_t registrations;
    };
    Bytes badSize = good;
    put32(badSize, 4, static_cast<std::uint32_t>(good.size()));
    Bytes badTag = good;
    badTag[9] = 'X';
    Bytes tableTooLong = good;
    put32(tableTooLong, 12, static_cast<std::uint32_t>(good.size() - 16 - 4));
    const std::vector<Case> cases{
        {"shorter than its header", Bytes(good.begin(), good.begin() + 15), false, 0},
        {"another tag", badTag, false, 0},
        {"size field not the length - 8", badSize, true, 0},
        {"format table reaching the last 4 bytes", tableTooLong, true, 0},
        {"chunk longer than the file", waveBank({{'k', '1', 0, 5, 4, 0, 8000}}, chunk('k', '1', {1, 2, 3}, 4)), true, 0},
        {"chunk header cut short", waveBank({{'k', '1', 0, 5, 4, 0, 8000}}, Bytes{'W', 'A', 'k', '1', 0, 0}), true, 0},
        {"drum bank beyond 39", waveBank({{'k', '1', 30, 5, 4, 0, 8000}}, chunk('k', '1', {1}, 1)), true, 0},
        {"key above 127", waveBank({{'k', '1', 0, 128, 4, 0, 8000}}, chunk('k', '1', {1}, 1)), true, 0},
        {"last bank and key", waveBank({{'k', '1', 29, 127, 4, 0, 8000}}, chunk('k', '1', {1}, 1)), true, 1},
    };
    for (const Case& c : cases) {
        mevo::VoiceTable table = builtIn();
        RecordingRegistry waves;
        // A copy sized exactly, so a sanitizer sees any read past the end.
        const auto exact = std::make_unique<std::uint8_t[]>(c.image.size());
        std::copy(c.image.begin(), c.image.end(), exact.get());
        mevo::readWaveBank(std::span(exact.get(), c.image.size()), table, waves);
        EXPECT_EQ(waves.deleted.size(), c.deletes ? 1u : 0u) << c.what;
        EXPECT_EQ(waves.registered.size(), c.registrations) << c.what;
    }
}

TEST(WaveBank, ReadFromAFile)
{
    TempDir dir;
    mevo::VoiceTable table = builtIn();
    RecordingRegistry waves;
    EXPECT_TRUE(table.loadWaveBank(dir.write("tzvoice.adp", waveBank({{'k', '1', 0, 5, 4, 0, 8000}},
                                                                      chunk('k', '1', {1, 2}, 2))),
                                   waves));
    EXPECT_EQ(table.find(10, 5)->waveId, 63u);
    EXPECT_FALSE(table.loadWaveBank(dir.path() / "missing", waves));
}

class VoiceDirEnvironment : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("MEVO22K_VOICE_DIR")) {
            saved_ = old;
        }
    }
    void TearDown() override
    {
        if (saved_) {
            ::setenv("MEVO22K_VOICE_DIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("MEVO22K_VOICE_DIR");
        }
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(VoiceDirEnvironment, FoldersAreTheVariableTheLibraryFolderThenTheSharedFolder)
{
    ::setenv("MEVO22K_VOICE_DIR", "/some/voices", 1);
    const auto folders = mevo::voiceFileFolders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0], fs::path("/some/voices"));
    // The code is linked into this test program, so its folder is the library's folder.
    EXPECT_EQ(folders[1], fs::canonical("/proc/self/exe").parent_path());
    EXPECT_EQ(folders[2], fs::path("/usr/share/mevo22k"));

    ::setenv("MEVO22K_VOICE_DIR", "", 1);
    EXPECT_EQ(mevo::voiceFileFolders().size(), 2u) << "an empty variable names no folder";
    ::unsetenv("MEVO22K_VOICE_DIR");
    EXPECT_EQ(mevo::voiceFileFolders().front(), folders[1]);
}

TEST_F(VoiceDirEnvironment, TheFirstFolderHoldingTheFileWins)
{
    TempDir first, second;
    second.write("tzvoice.vxb", {1});
    fs::create_directory(first.path() / "tzvoice.adp"); // a folder of that name is skipped
    second.write("tzvoice.adp", {2});
    const std::vector<fs::path> folders{first.path(), second.path()};
    EXPECT_EQ(mevo::locateVoiceFile("tzvoice.vxb", folders), second.path() / "tzvoice.vxb");
    EXPECT_EQ(mevo::locateVoiceFile("tzvoice.adp", folders), second.path() / "tzvoice.adp");
    first.write("tzvoice.vxb", {3});
    EXPECT_EQ(mevo::locateVoiceFile("tzvoice.vxb", folders), first.path() / "tzvoice.vxb");
    EXPECT_EQ(mevo::locateVoiceFile("none", folders), std::nullopt);
}

TEST_F(VoiceDirEnvironment, StartUpReadsBothFilesFromTheNamedFolder)
{
    TempDir dir;
    Bytes image = voiceFile();
    putVoice(image, kMelodicAt + 2 * 26, 11);
    dir.write("tzvoice.vxb", image);
    dir.write("tzvoice.adp", waveBank({{'k', '1', 0, 5, 4, 0, 8000}}, chunk('k', '1', {1}, 1)));
    ::setenv("MEVO22K_VOICE_DIR", dir.path().c_str(), 1);
    mevo::VoiceTable table = builtIn();
    RecordingRegistry waves;
    table.loadAtStartUp(waves);
    EXPECT_EQ(table.find(0, 2)->operators[0].totalLevel, 11);
    EXPECT_EQ(table.find(20, 2)->operators[0].totalLevel, 11);
    EXPECT_EQ(table.find(10, 5)->waveId, 63u);
}

TEST(VoiceFileBytes, ReadWholeFileIsBoundedByItsLimit)
{
    TempDir dir;
    const auto path = dir.write("f", Bytes(100, 7));
    EXPECT_EQ(mevo::readWholeFile(path, 100), Bytes(100, 7));
    EXPECT_EQ(mevo::readWholeFile(path, 99), std::nullopt);
    EXPECT_EQ(mevo::readWholeFile(dir.write("empty", {}), 10), Bytes{});
}

TEST(VoiceTableLookup, OutOfRangeBanksAndIndexesFindNothing)
{
    mevo::VoiceTable table;
    EXPECT_EQ(table.find(-1, 0), nullptr);
    EXPECT_EQ(table.find(40, 0), nullptr);
    EXPECT_EQ(table.find(0, -1), nullptr);
    EXPECT_EQ(table.find(0, 128), nullptr);
    EXPECT_NE(table.find(39, 127), nullptr);
    table.copyBank(0, 40); // ignored
    table.copyBank(-1, 0);
}

} // namespace
