#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "audio/LegacyCodePage.h"
#include "audio/SmfItem.h"
#include "cli/InfoCommand.h"
#include "palm/AudioRow.h"

namespace tonaro {
namespace {

namespace fs = std::filesystem;

std::time_t FixedClock() { return 1796875200; }  // 2026-12-10 04:00:00 UTC

class InfoCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        SelectLegacyCodePage(LegacyCodePage::Windows1252);
        dir = fs::temp_directory_path() / ("tonaro-info-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        good = (dir / "good.pdb").string();
        WriteSmfDatabase(good);
    }
    void TearDown() override { fs::remove_all(dir); }

    static void WriteSmfDatabase(const std::string& path) {
        // Header of a format-0 file with one empty track: MThd, 6, format 0, 1 track, division 96.
        const std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                                          'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
        auto item = std::make_unique<CSmfItem>();
        item->SetSmfBytes(smf.data(), uint32_t(smf.size()));
        item->SetName("Morning Bell");
        item->SetRecordCode(MakeFourCC("PMrc"));
        CAudioRow row;
        row.InstallItem(std::move(item), AudioClass::Smf, path);
        row.SetDatabaseName("AlarmSound2026121004000000001");
        CAudioRow::SetClock(FixedClock);
        auto file = CDiskFile::Open(path, CDiskFile::Mode::CreateWrite);
        ASSERT_TRUE(file && row.WriteDatabase(file.get()) && file->Close());
        CAudioRow::SetClock(nullptr);
    }

    std::string WriteFile(const std::string& name, const std::vector<char>& bytes) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return path;
    }

    std::vector<char> ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir;
    std::string good;
};

TEST_F(InfoCommandTest, ShowsHeaderRecordAndPayloadFields) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunInfo({good}, out, err), 0);
    EXPECT_EQ(err.str(), "");
    const std::string text = out.str();
    for (const char* line : {"database name     AlarmSound2026121004000000001", "type              smfr",
                             "creator           SmMd", "attributes        0x0000", "version           1",
                             "created           2026-12-10 04:00:00 UTC", "modified          2026-12-10 04:00:00 UTC",
                             "records           1", "record offset     86", "record attributes 0x40",
                             "record code       PMrc", "record name       Morning Bell",
                             "payload           SMF, 26 bytes: format 0, 1 track(s), division 96"}) {
        EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line << "\n" << text;
    }
}

TEST_F(InfoCommandTest, ForeignAndDamagedFilesGetAReasonAndTheOthersAreStillShown) {
    std::vector<char> bytes = ReadFile(good);
    struct Case {
        std::string name;
        std::vector<char> bytes;
        std::string reason;
    };
    std::vector<Case> cases = {
        {"empty.pdb", {}, "too short"},
        {"header-only.pdb", std::vector<char>(bytes.begin(), bytes.begin() + 50), "too short"},
        {"no-record.pdb", std::vector<char>(bytes.begin(), bytes.begin() + 100), "shorter than its 38-byte header"},
        {"cut-smf.pdb", std::vector<char>(bytes.begin(), bytes.begin() + 130), "does not hold a Standard MIDI File"},
        {"text.pdb", std::vector<char>(200, 'x'), "not a sound database"},
    };
    Case twoRecords{"two.pdb", bytes, "holds 2 records"};
    twoRecords.bytes[77] = 2;
    cases.push_back(twoRecords);
    Case offset{"offset.pdb", bytes, "record offset 4294967295"};
    for (int i = 78; i < 82; ++i) offset.bytes[i] = char(0xFF);
    cases.push_back(offset);

    std::vector<std::string> paths = {good};
    for (const Case& c : cases) paths.push_back(WriteFile(c.name, c.bytes));
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunInfo(paths, out, err), 1);
    EXPECT_NE(out.str().find("record name       Morning Bell"), std::string::npos);
    std::istringstream lines(err.str());
    for (const Case& c : cases) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line)) << c.name;
        EXPECT_NE(line.find(c.name), std::string::npos) << line;
        EXPECT_NE(line.find(c.reason), std::string::npos) << line;
    }
}

TEST_F(InfoCommandTest, ExecutableExitsNonZeroOnAForeignFile) {
    const std::string foreign = WriteFile("foreign.pdb", std::vector<char>(90, 'z'));
    const std::string cli = std::string(TONARO_BIN_DIR) + "/tonaro2-cli";
    EXPECT_EQ(std::system((cli + " info " + good + " > /dev/null").c_str()), 0);
    const int status = std::system((cli + " info " + good + " " + foreign + " > /dev/null 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

}  // namespace
}  // namespace tonaro
