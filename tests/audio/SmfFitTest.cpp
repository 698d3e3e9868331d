#include <gtest/gtest.h>

#include "audio/SmfFixture.h"
#include "audio/SmfItem.h"

namespace tonaro {
namespace {

using test::Bytes;
using test::Join;
using test::kEndOfTrack;
using test::MakeSmf;

// All Sound Off on channels 0..15, then End of Track.
Bytes Tail() {
    Bytes tail;
    for (uint8_t channel = 0; channel < 16; ++channel)
        tail.insert(tail.end(), {0x00, uint8_t(0xB0 | channel), 0x78, 0x00});
    return Join({tail, kEndOfTrack});
}

Bytes PayloadOf(CSmfItem& item) {
    const uint8_t* data = item.LockPayload();
    Bytes bytes(data, data + item.GetPayloadSize());
    item.UnlockPayload();
    return bytes;
}

// The kept bytes with the header's track count 1 and the first track's length rewritten.
Bytes CutResult(const Bytes& source, size_t kept) {
    Bytes expected = Join({Bytes(source.begin(), source.begin() + long(kept)), Tail()});
    PutBe16(&expected[10], 1);
    PutBe32(&expected[18], uint32_t(expected.size() - 22));
    return expected;
}

TEST(SmfFit, CutsAtTheLastSilentPointAndDropsLaterTracks) {
    // Event offsets in the file:          22           26           30           34
    const Bytes track = {0x00, 0x90, 0x3C, 0x40, 0x00, 0x90, 0x3E, 0x40, 0x10, 0x80, 0x3C, 0x00, 0x10, 0x80, 0x3E, 0x00,
                         //                38           42           46           50
                         0x00, 0x90, 0x40, 0x40, 0x00, 0x90, 0x43, 0x40, 0x10, 0x80, 0x40, 0x00, 0x10, 0x80, 0x43, 0x00,
                         0x00, 0xFF, 0x2F, 0x00};
    const Bytes source = MakeSmf(2, 96, {track, Join({Bytes{0x00, 0x90, 0x30, 0x40}, kEndOfTrack})});
    CSmfItem item;
    ASSERT_TRUE(item.SetSmfBytes(source.data(), uint32_t(source.size())));
    // Limit 120 leaves events up to byte 51 (120 - 68 = 52). The note-off at 46 still leaves a note
    // sounding and the one at 50 ends past 51, so the cut follows the note-off at 34..37.
    ASSERT_EQ(item.FitToSize(120), kResultOk);
    EXPECT_EQ(PayloadOf(item), CutResult(source, 38));
    EXPECT_EQ(item.IsShortened(), 1);
}

TEST(SmfFit, FallsBackToTheLastEventThatStartsNothing) {
    // Channel 1 keeps a note sounding after its release at 30, so no point is silent.
    const Bytes track = {0x00, 0x91, 0x3C, 0x40,  // 22 note on
                         0x00, 0x91, 0x3E, 0x40,  // 26 note on
                         0x00, 0x81, 0x3C, 0x00,  // 30 note off, one still sounds
                         0x00, 0xB0, 0x07, 0x64,  // 34 controller
                         0x00, 0xC0, 0x05,        // 38 program change: never a cut point
                         0x00, 0x90, 0x40, 0x00,  // 41 note on with velocity 0: a cut point
                         0x00, 0x90, 0x41, 0x40,  // 45 note on
                         0x00, 0xFF, 0x2F, 0x00};
    const Bytes source = MakeSmf(0, 96, {track});
    const std::pair<uint32_t, size_t> cases[] = {{68 + 45, 45}, {68 + 44, 38}};
    for (const auto& [limit, kept] : cases) {
        CSmfItem item;
        ASSERT_TRUE(item.SetSmfBytes(source.data(), uint32_t(source.size())));
        ASSERT_EQ(item.FitToSize(limit), kResultOk) << limit;
        EXPECT_EQ(PayloadOf(item), CutResult(source, kept)) << limit;
        EXPECT_LE(item.GetPayloadSize(), limit);
    }
}

TEST(SmfFit, RefusesWithoutCutPointOrRoom) {
    const Bytes notesOnly = {0x00, 0x90, 0x3C, 0x40, 0x00, 0x90, 0x3E, 0x40, 0x00, 0xFF, 0x2F, 0x00};
    const Bytes source = MakeSmf(0, 96, {notesOnly});
    const std::pair<uint32_t, int> cases[] = {{200, kResultFailed}, {22 + 68, kResultNoInput}};
    for (const auto& [limit, result] : cases) {
        CSmfItem item;
        ASSERT_TRUE(item.SetSmfBytes(source.data(), uint32_t(source.size())));
        EXPECT_EQ(item.FitToSize(limit), result);
        EXPECT_EQ(PayloadOf(item), source);
        EXPECT_EQ(item.IsShortened(), 0);
    }
}

TEST(SmfFit, SteadyNotesOf70000BytesFitTheDatabase) {
    // Note-on and note-off alternate, four bytes each: event k starts at 22 + 4k.
    Bytes track;
    const Bytes on = {0x00, 0x90, 0x3C, 0x40}, off = {0x60, 0x80, 0x3C, 0x00};
    for (int k = 0; k < 17500; ++k) track.insert(track.end(), (k % 2 ? off : on).begin(), (k % 2 ? off : on).end());
    track.insert(track.end(), kEndOfTrack.begin(), kEndOfTrack.end());
    const Bytes source = MakeSmf(0, 96, {track});
    CSmfItem item;
    ASSERT_TRUE(item.SetSmfBytes(source.data(), uint32_t(source.size())));
    // The limit 63876 ends events at 63807: the last note-off before it is k = 15945 at 63802..63805.
    ASSERT_EQ(item.FitToSize(63876), kResultOk);
    EXPECT_EQ(PayloadOf(item), CutResult(source, 63806));
    EXPECT_LE(78 + 8 + item.GetRecordSize(), 64000u);
}

}  // namespace
}  // namespace tonaro
