#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/progress/ProgressState.h"
#include "audio/LegacyCodePage.h"
#include "audio/SmfItem.h"
#include "cli/ConvertCommand.h"
#include "palm/AudioRow.h"

namespace tonaro {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Format 1, division 96: a tempo track and a track with one note of 384 ticks (2 s).
const Bytes kTune = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0, 96,
                     'M', 'T', 'r', 'k', 0, 0, 0, 11, 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00,
                     'M', 'T', 'r', 'k', 0, 0, 0, 13, 0x00, 0x90, 0x3C, 0x40, 0x83, 0x00, 0x80, 0x3C, 0x00,
                     0x00, 0xFF, 0x2F, 0x00};
// Its payload: the merged track with a Master Volume of 127 before the note.
const Bytes kTunePayload = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 30,
                            0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
                            0x00, 0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7,
                            0x00, 0x90, 0x3C, 0x40, 0x83, 0x00, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00};
// Format 0 that sets its own Master Volume of 100 before its note.
const Bytes kOwnVolume = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 23,
                          0x00, 0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64, 0xF7,
                          0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00, 0x00};

class ConvertCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        SelectLegacyCodePage(LegacyCodePage::Windows1252);
        dir = fs::temp_directory_path() / ("tonaro-convert-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
        CProgressState::Global().EndProgress();
    }
    std::string Write(const std::string& name, const Bytes& bytes) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
        return path.string();
    }
    static Bytes Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path dir;
};

TEST_F(ConvertCommandTest, ExecutableWritesWhatLoadsAndReportsTheRest) {
    const std::string tune = Write("tune.mid", kTune);
    const std::string junk = Write("junk.mid", Bytes{'h', 'e', 'l', 'l', 'o'});
    const std::string command = std::string(TONARO_BIN_DIR) + "/tonaro2-cli convert " + tune + " " + junk + " -o " +
                                (dir / "out").string() + " >" + (dir / "stdout").string() + " 2>" +
                                (dir / "stderr").string();
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const Bytes out = Read(dir / "stdout"), err = Read(dir / "stderr");
    // 86 bytes of database header and record entry, 38 of record header, 52 of payload.
    EXPECT_EQ(std::string(out.begin(), out.end()), "tune.PDB  MIDI  00:02  176 bytes\n");
    EXPECT_EQ(std::string(err.begin(), err.end()), junk + ": This file format is not supported.\n");
    const Bytes database = Read(dir / "out" / "tune.PDB");
    ASSERT_EQ(database.size(), 176u);
    EXPECT_EQ(Bytes(database.begin() + 124, database.end()), kTunePayload);
}

TEST_F(ConvertCommandTest, DumpWritesPayloadsWithTheChosenMasterVolume) {
    cli::ConvertOptions options;
    options.files = {Write("tune.mid", kTune), Write("own.mid", kOwnVolume)};
    options.outputDir = (dir / "dump").string();
    options.dump = true;
    options.entry.volume = 64;
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunConvert(options, out, err), 0) << err.str();
    Bytes expected = kTunePayload;
    expected[37] = 64;  // coarse byte of the inserted message
    EXPECT_EQ(Read(dir / "dump" / "tune.MID"), expected);
    // The file's own message moves to 64 and keeps its place; no message is inserted.
    Bytes own = kOwnVolume;
    own[30] = 64;
    EXPECT_EQ(Read(dir / "dump" / "own.MID"), own);
}

TEST_F(ConvertCommandTest, VolumeOutsideTheMidiRangeFailsTheEntry) {
    cli::ConvertOptions options;
    options.files = {Write("tune.mid", kTune)};
    options.outputDir = (dir / "out").string();
    options.entry.volume = 128;
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunConvert(options, out, err), 1);
    EXPECT_NE(err.str().find("outside 0..127"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out" / "tune.PDB"));
}

TEST_F(ConvertCommandTest, LoadSmfFillsTheRowAndKeepsItOnFailure) {
    const std::string own = Write("Own Volume.mid", kOwnVolume);
    CAudioRow row;
    auto file = CDiskFile::Open(own, CDiskFile::Mode::Read);
    ASSERT_EQ(row.LoadSmf(*file, own), kResultOk);
    EXPECT_EQ(row.GetName(), "Own Volume");
    EXPECT_EQ(row.Class(), AudioClass::Smf);
    EXPECT_EQ(row.Type(), MakeFourCC("smfr"));
    EXPECT_EQ(row.Creator(), MakeFourCC("SmMd"));
    EXPECT_EQ(row.Item()->GetRecordCode(), MakeFourCC("PMrc"));
    EXPECT_EQ(row.GetVolume(), 100);  // the file's own Master Volume
    EXPECT_EQ(row.PlayTime(), 500u);
    EXPECT_EQ(row.ConvertedSize(), 86u + 38u + uint32_t(kOwnVolume.size()));

    // A refused file and a cancelled load leave the row as it was.
    const std::string junk = Write("junk.mid", Bytes(30, 'x'));
    auto junkFile = CDiskFile::Open(junk, CDiskFile::Mode::Read);
    EXPECT_EQ(row.LoadSmf(*junkFile, junk), kResultUnsupported);
    CProgressState::Global().BeginProgress(nullptr, nullptr, 0, 100);
    CProgressState::Global().RequestCancel();
    const std::string tune = Write("tune.mid", kOwnVolume);
    auto tuneFile = CDiskFile::Open(tune, CDiskFile::Mode::Read);
    EXPECT_EQ(row.LoadSmf(*tuneFile, tune), kResultCancelled);
    EXPECT_EQ(row.GetName(), "Own Volume");
    EXPECT_EQ(row.SourcePath(), own);
}

}  // namespace
}  // namespace tonaro
