#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "audio/LegacyCodePage.h"
#include "audio/SmfItem.h"
#include "palm/AudioRow.h"

namespace tonaro {
namespace {

// 2026-12-10 04:00:00 UTC: 1796875200 s after 1970, so 3879720000 = 0xE73FD440 after 1904.
constexpr std::time_t kNow = 1796875200;
std::time_t FixedClock() { return kNow; }

std::unique_ptr<CSmfItem> SmfItemWithRecordOf(uint32_t recordBytes) {
    auto item = std::make_unique<CSmfItem>();
    std::vector<uint8_t> payload(recordBytes - 38, 0xA5);
    item->SetSmfBytes(payload.data(), uint32_t(payload.size()));
    item->SetName("Song");
    item->SetRecordCode(MakeFourCC("PMrc"));
    return item;
}

class DatabaseWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        SelectLegacyCodePage(LegacyCodePage::Windows1252);
        CAudioRow::SetClock(FixedClock);
        row.InstallItem(SmfItemWithRecordOf(1000), AudioClass::Smf, "/music/Song.mid");
    }
    void TearDown() override { CAudioRow::SetClock(nullptr); }
    CAudioRow row;
};

TEST_F(DatabaseWriterTest, WritesTheHeaderRecordEntryAndRecordByteForByte) {
    row.SetDatabaseName("AlarmSound2026121004000000001");  // 29 characters
    CMemoryFile file;
    ASSERT_TRUE(row.WriteDatabase(&file));
    const std::vector<uint8_t>& bytes = file.Bytes();
    ASSERT_EQ(bytes.size(), 1086u);

    const std::vector<uint8_t> expected = {
        'A', 'l', 'a', 'r', 'm', 'S', 'o', 'u', 'n', 'd', '2', '0', '2', '6', '1', '2',  // 0
        '1', '0', '0', '4', '0', '0', '0', '0', '0', '0', '0', '0', '1', 0, 0, 0,        // 16
        0x00, 0x00, 0x00, 0x01,                                                          // 32 attributes, version
        0xE7, 0x3F, 0xD4, 0x40, 0xE7, 0x3F, 0xD4, 0x40,                                  // 36 created, modified
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                  // 44 backup .. sortInfo
        's', 'm', 'f', 'r', 'S', 'm', 'M', 'd',                                          // 60 type, creator
        0, 0, 0, 0, 0, 0, 0, 0,                                                          // 68 seed, next list
        0x00, 0x01,                                                                      // 76 record count
        0x00, 0x00, 0x00, 0x56, 0x40, 0x00, 0x00, 0x00,                                  // 78 record entry
        'P', 'M', 'r', 'c', 0x26, 0x00, 'S', 'o', 'n', 'g'};                             // 86 record
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + expected.size()), expected);
    EXPECT_EQ(bytes[86 + 37], 0);
    EXPECT_EQ(bytes[86 + 38], 0xA5);
    EXPECT_EQ(bytes.back(), 0xA5);
    EXPECT_EQ(row.ConvertedSize(), bytes.size());
    EXPECT_EQ(row.CreationDate(), 3879720000u);
}

TEST_F(DatabaseWriterTest, DatesComeFromTheUtcClockWhateverTheTimeZone) {
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    CMemoryFile first, second;
    ASSERT_TRUE(row.WriteDatabase(&first));
    ASSERT_TRUE(row.WriteDatabase(&second));
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(std::vector<uint8_t>(first.Bytes().begin() + 36, first.Bytes().begin() + 44),
              (std::vector<uint8_t>{0xE7, 0x3F, 0xD4, 0x40, 0xE7, 0x3F, 0xD4, 0x40}));
    EXPECT_EQ(first.Bytes(), second.Bytes());
}

TEST_F(DatabaseWriterTest, ThirtyTwoByteDatabaseNameIsRefusedBeforeAnyByteIsWritten) {
    row.SetDatabaseName(std::string(32, 'N'));
    CMemoryFile file;
    EXPECT_FALSE(row.WriteDatabase(&file));
    EXPECT_EQ(file.Length(), 0u);
    row.SetDatabaseName(std::string(31, 'N'));
    EXPECT_TRUE(row.WriteDatabase(&file));
}

TEST_F(DatabaseWriterTest, RowWithoutAudioOrFileWritesNothing) {
    CAudioRow empty;
    CMemoryFile file;
    EXPECT_FALSE(empty.WriteDatabase(&file));
    EXPECT_EQ(file.Length(), 0u);
    EXPECT_FALSE(row.WriteDatabase(nullptr));
    EXPECT_EQ(empty.GetName(), "");
    EXPECT_EQ(empty.UpdatePlayTime(), 0u);
}

TEST_F(DatabaseWriterTest, WriteErrorsFailTheDatabase) {
    for (size_t failAfter : {0u, 40u, 86u, 100u, 1085u}) {
        CMemoryFile file;
        file.FailWritesAfter(failAfter);
        EXPECT_FALSE(row.WriteDatabase(&file)) << "failing after " << failAfter << " bytes";
    }
    auto full = CDiskFile::Open("/dev/full", CDiskFile::Mode::CreateWrite);
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(row.WriteDatabase(full.get()));
}

TEST_F(DatabaseWriterTest, ConvertedSizeEqualsTheLengthOfTheFileOnDisk) {
    const auto path = std::filesystem::temp_directory_path() / "tonaro-writer-test.pdb";
    {
        auto file = CDiskFile::Open(path.string(), CDiskFile::Mode::CreateWrite);
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(row.WriteDatabase(file.get()));
        ASSERT_TRUE(file->Close());
    }
    EXPECT_EQ(std::filesystem::file_size(path), row.ConvertedSize());
    std::filesystem::remove(path);
}

TEST_F(DatabaseWriterTest, LoadingSetsTheClassCodesAndRenamingReachesTheItem) {
    EXPECT_EQ(row.Class(), AudioClass::Smf);
    EXPECT_EQ(row.Type(), MakeFourCC("smfr"));
    EXPECT_EQ(row.Creator(), MakeFourCC("SmMd"));
    EXPECT_EQ(row.RecordCount(), 1);
    EXPECT_EQ(row.ConvertedSize(), 1086u);
    row.SetName("Wake up");
    EXPECT_EQ(row.GetName(), "Wake up");
}

TEST(BaseNameTest, StripsDirectoryAndExtension) {
    EXPECT_EQ(BaseNameOf("/home/u/Songs/Morning.Call.mid"), "Morning.Call");
    EXPECT_EQ(BaseNameOf("C:\\Sounds\\bell.wav"), "bell");
    EXPECT_EQ(BaseNameOf("noext"), "noext");
    EXPECT_EQ(BaseNameOf("/x/.hidden"), ".hidden");
}

}  // namespace
}  // namespace tonaro
