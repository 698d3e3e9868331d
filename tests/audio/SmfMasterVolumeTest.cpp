#include <gtest/gtest.h>

#include "audio/SmfFixture.h"
#include "audio/SmfItem.h"

namespace tonaro {
namespace {

using test::Bytes;
using test::Join;
using test::kEndOfTrack;
using test::MakeSmf;

const Bytes kInserted = {0x00, 0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7};
const Bytes kOwnVolume = {0x00, 0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64, 0xF7};  // coarse 100
const Bytes kGmOn = {0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
const Bytes kReset = {0x00, 0xF7, 0x01, 0xFF};
const Bytes kProgram = {0x00, 0xC0, 0x05};
const Bytes kNote = {0x00, 0x90, 0x3C, 0x40};
const Bytes kNoteOff = {0x60, 0x80, 0x3C, 0x00};
const Bytes kSilentNote = {0x00, 0x90, 0x3C, 0x00};
const Bytes kRunningNote = {0x00, 0x3E, 0x40};
const Bytes kRunningNoteWithStatus = {0x00, 0x90, 0x3E, 0x40};

Bytes PayloadOf(CSmfItem& item) {
    const uint8_t* data = item.LockPayload();
    Bytes bytes(data, data + item.GetPayloadSize());
    item.UnlockPayload();
    return bytes;
}

struct InsertCase {
    const char* name;
    Bytes track;
    Bytes expected;
};

class SmfInsertMasterVolume : public ::testing::TestWithParam<InsertCase> {};

TEST_P(SmfInsertMasterVolume, FollowsTheNoteAndResetRules) {
    // The second track of a format-2 file is never scanned and is kept as it is.
    const Bytes second = Join({kNote, kEndOfTrack});
    const Bytes source = MakeSmf(2, 96, {GetParam().track, second});
    CSmfItem item;
    ASSERT_TRUE(item.SetSmfBytes(source.data(), uint32_t(source.size())));
    ASSERT_EQ(item.InsertMasterVolume(), kResultOk);
    EXPECT_EQ(PayloadOf(item), MakeSmf(2, 96, {GetParam().expected, second}));
    EXPECT_EQ(item.GetVolume(), 127);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SmfInsertMasterVolume,
    ::testing::Values(
        InsertCase{"BeforeFirstNote", Join({kProgram, kNote, kNoteOff, kEndOfTrack}),
                   Join({kProgram, kInserted, kNote, kNoteOff, kEndOfTrack})},
        InsertCase{"OwnVolumeBeforeFirstNote", Join({kOwnVolume, kNote, kEndOfTrack}),
                   Join({kOwnVolume, kNote, kEndOfTrack})},
        InsertCase{"RunningStatusNoteGetsItsStatus", Join({kSilentNote, kRunningNote, kEndOfTrack}),
                   Join({kSilentNote, kInserted, kRunningNoteWithStatus, kEndOfTrack})},
        InsertCase{"AfterGmOnThatFollowsANote", Join({kNote, kGmOn, kNote, kEndOfTrack}),
                   Join({kInserted, kNote, kGmOn, kInserted, kNote, kEndOfTrack})},
        InsertCase{"NotAfterGmOnWhenVolumeWasSent", Join({kNote, kOwnVolume, kGmOn, kEndOfTrack}),
                   Join({kInserted, kNote, kOwnVolume, kGmOn, kEndOfTrack})},
        InsertCase{"AfterEscapedReset", Join({kNote, kReset, kEndOfTrack}),
                   Join({kInserted, kNote, kReset, kInserted, kEndOfTrack})},
        InsertCase{"NotAfterGmOnBeforeAnyNote", Join({kGmOn, kNote, kEndOfTrack}),
                   Join({kGmOn, kInserted, kNote, kEndOfTrack})},
        InsertCase{"OnceForTwoResetsWithoutNote", Join({kNote, kGmOn, kGmOn, kNote, kGmOn, kEndOfTrack}),
                   Join({kInserted, kNote, kGmOn, kInserted, kGmOn, kNote, kGmOn, kInserted, kEndOfTrack})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SmfInsertMasterVolumeFailure, RefusesWhatItCannotScan) {
    const std::pair<Bytes, int> cases[] = {
        {MakeSmf(0, 96, {kNote}), kResultUnsupported},                                  // no End of Track
        {MakeSmf(0, 96, {Join({kNote, Bytes{0x00, 0xF5}})}), kResultUnsupported},       // unknown status
        {Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'X'}, kResultUnsupported},  // no header
    };
    for (const auto& [bytes, result] : cases) {
        CSmfItem item;
        ASSERT_TRUE(item.SetSmfBytes(bytes.data(), uint32_t(bytes.size())));
        EXPECT_EQ(item.InsertMasterVolume(), result);
        EXPECT_EQ(PayloadOf(item), bytes);
    }
    CSmfItem empty;
    EXPECT_EQ(empty.InsertMasterVolume(), kResultFailed);
    EXPECT_EQ(empty.CollectMasterVolume(), kResultFailed);
    EXPECT_EQ(empty.AdjustMasterVolume(1), kResultFailed);
}

TEST(SmfMasterVolume, AdjustMovesEveryValueWithinRange) {
    const Bytes quiet = {0x00, 0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x3C, 0xF7};  // coarse 60
    const Bytes shortVolume = {0x00, 0xF0, 0x05, 0x7F, 0x7F, 0x04, 0x01, 0x00};         // no coarse byte
    const Bytes bytes = MakeSmf(0, 96, {Join({kOwnVolume, kNote, quiet, shortVolume, kEndOfTrack})});
    CSmfItem item;
    ASSERT_TRUE(item.SetSmfBytes(bytes.data(), uint32_t(bytes.size())));
    ASSERT_EQ(item.CollectMasterVolume(), kResultOk);
    // The first data byte of each complete message: after the 22 header bytes, delta, F0 and length.
    EXPECT_EQ(item.MasterVolumePositions(), (std::vector<uint32_t>{25, 39}));
    EXPECT_EQ(item.GetVolume(), 100);

    const std::pair<int, std::pair<int, int>> steps[] = {{+50, {127, 110}}, {-200, {0, 0}}, {+20, {20, 20}}};
    for (const auto& [delta, values] : steps) {
        ASSERT_EQ(item.AdjustMasterVolume(delta), kResultOk);
        const Bytes payload = PayloadOf(item);
        EXPECT_EQ(payload[25 + 5], values.first) << delta;
        EXPECT_EQ(payload[39 + 5], values.second) << delta;
        EXPECT_EQ(item.GetVolume(), std::max(values.first, values.second));
    }
}

TEST(SmfMasterVolume, VolumeIs127WithoutMasterVolumeMessages) {
    const Bytes bytes = MakeSmf(0, 96, {Join({kProgram, kEndOfTrack})});
    CSmfItem item;
    ASSERT_TRUE(item.SetSmfBytes(bytes.data(), uint32_t(bytes.size())));
    ASSERT_EQ(item.CollectMasterVolume(), kResultOk);
    EXPECT_TRUE(item.MasterVolumePositions().empty());
    EXPECT_EQ(item.GetVolume(), 127);
    EXPECT_EQ(item.GetMaxMasterVolume(), 0);
}

}  // namespace
}  // namespace tonaro
