#include <gtest/gtest.h>

#include "app/progress/ProgressState.h"
#include "audio/SmfFixture.h"
#include "audio/SmfItem.h"

namespace tonaro {
namespace {

using test::Bytes;
using test::kEndOfTrack;
using test::MakeSmf;

Bytes PayloadOf(CSmfItem& item) {
    const uint8_t* data = item.LockPayload();
    Bytes bytes(data, data + item.GetPayloadSize());
    item.UnlockPayload();
    return bytes;
}

int LoadBytes(CSmfItem& item, const Bytes& bytes) {
    CMemoryFile file(bytes);
    return item.Load(file);
}

// Tempo track, a track on channel 1 with running status, a track on channel 0 with a System
// Exclusive message; several events share the times 0 and 96.
const Bytes kTempoTrack = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // t=0 tempo 500000
                           0x60, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,  // t=96 tempo 250000
                           0x00, 0xFF, 0x2F, 0x00};
const Bytes kChannel1Track = {0x00, 0xC1, 0x05,        // t=0 program
                              0x00, 0x91, 0x40, 0x40,  // t=0 note on
                              0x00, 0x43, 0x40,        // t=0 note on, running status
                              0x60, 0x81, 0x40, 0x00,  // t=96 note off
                              0x00, 0x43, 0x00,        // t=96 note off, running status
                              0x00, 0xFF, 0x2F, 0x00};
const Bytes kChannel0Track = {0x00, 0x90, 0x3C, 0x40,                          // t=0 note on
                              0x00, 0xB0, 0x07, 0x64,                          // t=0 volume
                              0x60, 0x80, 0x3C, 0x00,                          // t=96 note off
                              0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  // t=96 GM System On
                              0x00, 0xFF, 0x2F, 0x00};

// At equal times: channel 0 first (tempo and System Exclusive count as channel 0), within a
// channel the earlier track; the status byte is left out only between channel messages of one status.
const Bytes kMerged = {
    'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 55,
    0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,        // t=0 tempo (track 0, channel 0)
    0x00, 0x90, 0x3C, 0x40,                          // t=0 (track 2, channel 0)
    0x00, 0xB0, 0x07, 0x64,                          //
    0x00, 0xC1, 0x05,                                // t=0 (track 1, channel 1)
    0x00, 0x91, 0x40, 0x40,                          //
    0x00, 0x43, 0x40,                                //
    0x60, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,        // t=96 tempo
    0x00, 0x80, 0x3C, 0x00,                          //
    0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  //
    0x00, 0x81, 0x40, 0x00,                          // status again after the F0
    0x00, 0x43, 0x00,                                //
    0x00, 0xFF, 0x2F, 0x00};

TEST(SmfLoad, MergesFormat1ByTimeThenChannelThenTrack) {
    CSmfItem item;
    ASSERT_EQ(LoadBytes(item, MakeSmf(1, 96, {kTempoTrack, kChannel1Track, kChannel0Track})), kResultOk);
    EXPECT_EQ(PayloadOf(item), kMerged);
}

TEST(SmfLoad, KeepsOtherFormatsByteForByte) {
    // Format 2 with two tracks and format 0 with trailing bytes are taken whole.
    for (const Bytes& bytes : {MakeSmf(2, 96, {kChannel1Track, kChannel0Track}),
                               test::Join({MakeSmf(0, 96, {kChannel0Track}), Bytes{1, 2, 3}})}) {
        CSmfItem item;
        ASSERT_EQ(LoadBytes(item, bytes), kResultOk);
        EXPECT_EQ(PayloadOf(item), bytes);
    }
}

struct RefusedCase {
    const char* name;
    Bytes bytes;
    int result;
};

Bytes WithTrackLength(Bytes bytes, size_t chunkAt, uint32_t length) {
    PutBe32(&bytes[chunkAt + 4], length);
    return bytes;
}

class SmfLoadRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SmfLoadRefuses, WithItsCode) {
    CSmfItem item;
    EXPECT_EQ(LoadBytes(item, GetParam().bytes), GetParam().result);
    EXPECT_EQ(item.GetPayloadSize(), 0u);
}

const Bytes kNote = {0x00, 0x90, 0x3C, 0x40};

INSTANTIATE_TEST_SUITE_P(
    Malformed, SmfLoadRefuses,
    ::testing::Values(
        RefusedCase{"Empty", {}, kResultFailed},
        RefusedCase{"EighteenByteHeader", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'},
                    kResultUnsupported},
        RefusedCase{"GarbageAfterMThd", Bytes{'M', 'T', 'h', 'd', 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                              10, 11, 12, 13, 14, 15},
                    kResultUnsupported},
        RefusedCase{"Format0TrackPastTheEnd", WithTrackLength(MakeSmf(0, 96, {kEndOfTrack}), 14, 5),
                    kResultUnsupported},
        RefusedCase{"ZeroTrackLength", WithTrackLength(MakeSmf(0, 96, {kEndOfTrack}), 14, 0), kResultUnsupported},
        RefusedCase{"DeclaresMoreTracksThanItHolds", MakeSmf(1, 96, {kEndOfTrack, kEndOfTrack}, 3), kResultUnsupported},
        RefusedCase{"SecondChunkNotATrack",
                    test::Join({MakeSmf(1, 96, {kEndOfTrack}, 2), Bytes{'M', 'T', 'r', 'x', 0, 0, 0, 4}, kEndOfTrack}),
                    kResultUnsupported},
        RefusedCase{"EmptySecondChunk", MakeSmf(1, 96, {kEndOfTrack, Bytes{}}), kResultUnsupported},
        RefusedCase{"BytesAfterEndOfTrackInChunk", MakeSmf(1, 96, {test::Join({kEndOfTrack, kNote})}),
                    kResultUnsupported},
        RefusedCase{"EventPastItsChunk",
                    WithTrackLength(MakeSmf(1, 96, {test::Join({kNote, kEndOfTrack}), kEndOfTrack}), 14, 6),
                    kResultFailed},
        RefusedCase{"EventPastTheFile",
                    WithTrackLength(MakeSmf(1, 96, {Bytes{0x00, 0x90, 0x3C}}), 14, 100), kResultUnsupported},
        RefusedCase{"NoEndOfTrack", MakeSmf(1, 96, {kNote}), kResultUnsupported},
        RefusedCase{"FirstEventWithoutStatus", MakeSmf(1, 96, {Bytes{0x00, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}}),
                    kResultFailed},
        RefusedCase{"UnknownStatus", MakeSmf(1, 96, {Bytes{0x00, 0xF2, 0x01, 0x02, 0x00, 0xFF, 0x2F, 0x00}}),
                    kResultFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// Cancels the operation at the first report that reaches `trigger`.
struct CancelAt {
    static inline int32_t trigger = 0;
    static void Callback(int /*kind*/, void* /*target*/, int32_t value) {
        if (value >= trigger) CProgressState::Global().RequestCancel();
    }
};

class SmfLoadCancel : public ::testing::Test {
protected:
    void TearDown() override { CProgressState::Global().EndProgress(); }
    int LoadWithCancelAt(int32_t trigger) {
        CancelAt::trigger = trigger;
        CProgressState::Global().BeginProgress(nullptr, &CancelAt::Callback, 0, 1000);
        CSmfItem item;
        return LoadBytes(item, MakeSmf(1, 96, {kTempoTrack, kChannel1Track, kChannel0Track}));
    }
};

TEST_F(SmfLoadCancel, ReturnsCancelledWhereverItIsNoticed) {
    // 100 is the end of reading (10 % of 0..1000): the merge notices it; 0 stops the reading at
    // its first track; 700 is the end of merging, so the writing notices it.
    for (const int32_t trigger : {100, 0, 700}) EXPECT_EQ(LoadWithCancelAt(trigger), kResultCancelled) << trigger;
    CProgressState::Global().RequestCancel();
    CSmfItem item;
    EXPECT_EQ(LoadBytes(item, MakeSmf(1, 96, {kChannel0Track})), kResultCancelled);
}

}  // namespace
}  // namespace tonaro
