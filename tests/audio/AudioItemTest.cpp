#include <gtest/gtest.h>

#include <vector>

#include "audio/ByteBlock.h"
#include "audio/LegacyCodePage.h"
#include "audio/MulDiv.h"
#include "audio/SmfItem.h"
#include "audio/WaveItem.h"

namespace tonaro {
namespace {

std::vector<uint8_t> RecordHeaderOf(CAudioItem& item) {
    CMemoryFile file;
    item.WriteRecordCode(file);
    item.WriteNameBlock(file);
    return file.Bytes();
}

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

class AudioItemTest : public ::testing::Test {
protected:
    void SetUp() override { SelectLegacyCodePage(LegacyCodePage::Windows1252); }
};

TEST_F(AudioItemTest, NewItemWritesSpacesAsCodeAndAnEmptyName) {
    CSmfItem item;
    std::vector<uint8_t> expected = {' ', ' ', ' ', ' ', 38, 0};
    expected.resize(38, 0);
    EXPECT_EQ(RecordHeaderOf(item), expected);
}

TEST_F(AudioItemTest, NameFieldIsZeroPaddedOrFilledWithoutTerminator) {
    struct Case {
        std::string name;
        std::string stored;
    };
    const std::vector<Case> cases = {
        {"Alarm", "Alarm"},
        {"abcdefghijklmnopqrstuvwxyz01234", "abcdefghijklmnopqrstuvwxyz01234"},           // 31 bytes
        {"abcdefghijklmnopqrstuvwxyz0123456789ABCD", "abcdefghijklmnopqrstuvwxyz01234"},  // 40 bytes
    };
    for (const auto& c : cases) {
        CSmfItem item;
        item.SetRecordCode(MakeFourCC("PMrc"));
        item.SetName(c.name);
        EXPECT_EQ(item.GetName(), c.stored);
        std::vector<uint8_t> expected = {'P', 'M', 'r', 'c', 0x26, 0x00};
        for (char ch : c.stored) expected.push_back(uint8_t(ch));
        expected.resize(37, 0);
        expected.push_back(0);  // reserved byte B
        EXPECT_EQ(RecordHeaderOf(item), expected) << c.name;
    }
}

TEST_F(AudioItemTest, ShiftJisNameIsCutBeforeADoubleByteCharacter) {
    SelectLegacyCodePage(LegacyCodePage::ShiftJis);
    CSmfItem item;
    const std::string thirty(30, 'a');
    item.SetName(thirty + "\u3042");  // HIRAGANA A: 0x82 0xA0, bytes 31 and 32
    EXPECT_EQ(item.GetName(), thirty);

    item.SetName(std::string(29, 'a') + "\u3042");  // fits exactly: 29 + 2 bytes
    const auto header = RecordHeaderOf(item);
    EXPECT_EQ(header[6 + 29], 0x82);
    EXPECT_EQ(header[6 + 30], 0xA0);
    EXPECT_EQ(header[37], 0);
}

TEST_F(AudioItemTest, CharactersTheCodePageLacksBecomeQuestionMarks) {
    CSmfItem item;
    item.SetName("caf\u00e9 \u3042");
    const auto header = RecordHeaderOf(item);
    EXPECT_EQ(std::vector<uint8_t>(header.begin() + 6, header.begin() + 12), Bytes("caf\xe9 ?"));
}

TEST_F(AudioItemTest, RecordSizeCountsHeaderAndPayload) {
    const std::vector<uint8_t> thousand(1000, 0x55);
    CSmfItem smf;
    ASSERT_TRUE(smf.SetSmfBytes(thousand.data(), 1000));
    EXPECT_EQ(smf.GetRecordSize(), 1038u);
    CWaveItem wave;
    ASSERT_TRUE(wave.SetAdpcm({}, thousand.data(), 1000));
    EXPECT_EQ(wave.GetRecordSize(), 1086u);
}

TEST_F(AudioItemTest, WritingWithoutPayloadFailsAndWritesNothing) {
    CMemoryFile file;
    CSmfItem smf;
    EXPECT_EQ(smf.WriteRecord(&file), kResultFailed);
    CWaveItem wave;
    EXPECT_EQ(wave.WriteRecord(&file), kResultFailed);
    EXPECT_EQ(file.Length(), 0u);
}

TEST_F(AudioItemTest, SmfCopyAssignmentCopiesEverything) {
    const std::vector<uint8_t> payload = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    CSmfItem source;
    source.SetName("Song");
    source.SetRecordCode(MakeFourCC("PMrc"));
    source.SetShortened(1);
    ASSERT_TRUE(source.SetSmfBytes(payload.data(), uint32_t(payload.size())));

    CSmfItem copy;
    copy = source;
    EXPECT_EQ(copy.GetName(), "Song");
    EXPECT_EQ(copy.GetRecordCode(), MakeFourCC("PMrc"));
    EXPECT_EQ(copy.IsShortened(), 1);
    CMemoryFile a, b;
    source.WriteRecord(&a);
    copy.WriteRecord(&b);
    EXPECT_EQ(a.Bytes(), b.Bytes());
}

bool RefuseAll(size_t) { return false; }

class AllocationsFail {
public:
    AllocationsFail() { CByteBlock::SetAllocationGate(RefuseAll); }
    ~AllocationsFail() { CByteBlock::SetAllocationGate(nullptr); }
};

TEST_F(AudioItemTest, RunningOutOfMemoryKeepsWhatTheTargetHad) {
    const std::vector<uint8_t> mine = {1, 2, 3}, theirs = {9, 9, 9, 9};
    CSmfItem smfTarget, smfSource;
    ASSERT_TRUE(smfTarget.SetSmfBytes(mine.data(), 3));
    ASSERT_TRUE(smfSource.SetSmfBytes(theirs.data(), 4));
    CWaveItem waveTarget, waveSource;
    ASSERT_TRUE(waveTarget.SetPcm({}, mine.data(), 3) && waveTarget.SetAdpcm({}, mine.data(), 3));
    ASSERT_TRUE(waveSource.SetPcm({}, theirs.data(), 4) && waveSource.SetAdpcm({}, theirs.data(), 4));
    {
        AllocationsFail failing;
        smfTarget = smfSource;
        waveTarget = waveSource;
        EXPECT_FALSE(waveTarget.TakePcm(&waveSource));
        EXPECT_FALSE(waveTarget.TakeOutput(&waveSource));
    }
    EXPECT_EQ(smfTarget.GetPayloadSize(), 3u);
    EXPECT_EQ(waveTarget.GetPayloadSize(), 3u);
    EXPECT_EQ(waveTarget.GetPcmSize(), 3u);
}

TEST_F(AudioItemTest, TakeOutputCopiesGainAndShortenedButNeverThePcm) {
    const std::vector<uint8_t> filePcm(400, 7), workPcm(100, 1), workAdpcm(256, 3);
    WaveFormat fileFormat{kWaveFormatPcm, 1, 44100, 88200, 2, 16, 0};
    WaveFormat workFormat{kWaveFormatPcm, 1, 11025, 22050, 2, 16, 0};
    AdpcmWaveFormat output{{kWaveFormatImaAdpcm, 1, 11025, 5588, 256, 4, 2}, 505};

    CWaveItem listed, working;
    ASSERT_TRUE(listed.SetPcm(fileFormat, filePcm.data(), uint32_t(filePcm.size())));
    ASSERT_TRUE(working.SetPcm(workFormat, workPcm.data(), uint32_t(workPcm.size())));
    ASSERT_TRUE(working.SetAdpcm(output, workAdpcm.data(), uint32_t(workAdpcm.size())));
    working.SetShortened(1);

    ASSERT_TRUE(listed.TakeOutput(&working));
    EXPECT_EQ(listed.GetOutputFormat(), output);
    EXPECT_EQ(listed.GetPayloadSize(), 256u);
    EXPECT_EQ(listed.IsShortened(), 1);
    EXPECT_EQ(listed.GetPcmFormat(), fileFormat);
    EXPECT_EQ(listed.GetPcmSize(), 400u);
    EXPECT_FALSE(listed.TakeOutput(nullptr));
    CWaveItem empty;
    EXPECT_FALSE(listed.TakePcm(&empty));
}

TEST(ByteBlockTest, LocksAreCountedAndBlocksStartZeroed) {
    CByteBlock block = CByteBlock::Allocate(16);
    ASSERT_TRUE(block.IsAllocated());
    {
        CBlockLock lock(block);
        EXPECT_EQ(block.LockCount(), 1);
        for (size_t i = 0; i < 16; ++i) EXPECT_EQ(lock.data()[i], 0);
    }
    EXPECT_EQ(block.LockCount(), 0);
    CByteBlock none;
    EXPECT_EQ(none.Lock(), nullptr);
}

TEST(MulDivTest, RoundsToNearestAndReportsOverflowAsMinusOne) {
    struct Case {
        int32_t a, b, c, expected;
    };
    for (const Case& c : std::vector<Case>{{10, 3, 4, 8},
                                           {-10, 3, 4, -8},
                                           {10, 3, -4, -8},
                                           {7, 1, 2, 4},
                                           {5, 1, 3, 2},
                                           {480000, 500000, 480, 500000000},
                                           {1, 1, 0, -1},
                                           {0x7FFFFFFF, 2, 1, -1},
                                           {INT32_MIN, 1, 1, INT32_MIN}}) {
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << " * " << c.b << " / " << c.c;
    }
}

}  // namespace
}  // namespace tonaro
