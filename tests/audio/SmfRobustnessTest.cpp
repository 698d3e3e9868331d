#include <gtest/gtest.h>

#include <random>

#include "audio/SmfFixture.h"
#include "audio/SmfItem.h"

namespace tonaro {
namespace {

using test::Bytes;
using test::Join;
using test::kEndOfTrack;
using test::MakeSmf;

const Bytes kTrackA = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,
                       0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00, 0x00, 0xF7, 0x01, 0xFF};
const Bytes kTrackB = {0x00, 0xC1, 0x05, 0x10, 0x91, 0x40, 0x40, 0x00, 0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00,
                       0x50, 0xF7, 0x60, 0x81, 0x40, 0x00, 0x00, 0xE1, 0x00, 0x40};

// Runs every step that adding a file runs, then the later queries; any code is fine, a read
// outside the bytes is not (the sanitizer build checks that).
void RunAllSteps(const Bytes& bytes) {
    CMemoryFile file(bytes);
    CSmfItem item;
    const int loaded = item.Load(file);
    EXPECT_TRUE(loaded == kResultOk || loaded == kResultUnsupported || loaded == kResultFailed);
    if (loaded != kResultOk) return;
    item.InsertMasterVolume();
    item.FitToSize(22 + 68 + uint32_t(bytes.size() / 2));
    item.CollectMasterVolume();
    item.AdjustMasterVolume(-30);
    item.GetPlayTime();
    EXPECT_LE(item.GetMaxMasterVolume(), 127);
}

TEST(SmfRobustness, EveryTruncationIsRefusedOrReadWithinItsBytes) {
    for (const Bytes& whole : {MakeSmf(1, 96, {Join({kTrackA, kEndOfTrack}), Join({kTrackB, kEndOfTrack})}),
                               MakeSmf(0, 96, {Join({kTrackA, kTrackB, kEndOfTrack})})}) {
        for (size_t size = 0; size <= whole.size(); ++size)
            RunAllSteps(Bytes(whole.begin(), whole.begin() + long(size)));
    }
}

TEST(SmfRobustness, RandomlyDamagedFilesAreRefusedOrReadWithinTheirBytes) {
    const Bytes sources[] = {MakeSmf(1, 96, {Join({kTrackA, kEndOfTrack}), Join({kTrackB, kEndOfTrack})}),
                             MakeSmf(0, 0x8000, {Join({kTrackA, kTrackB, kEndOfTrack})})};
    std::mt19937 random(20261210);
    for (int round = 0; round < 4000; ++round) {
        Bytes bytes = sources[round % 2];
        // Damage past the first 14 bytes mostly, so that most files still reach the event scans.
        const int damages = 1 + int(random() % 4);
        for (int i = 0; i < damages; ++i) bytes[10 + random() % (bytes.size() - 10)] = uint8_t(random());
        RunAllSteps(bytes);
    }
}

TEST(SmfRobustness, OutOfMemoryIsReportedAndKeepsTheBytes) {
    const Bytes bytes = MakeSmf(1, 96, {Join({kTrackA, kEndOfTrack}), Join({kTrackB, kEndOfTrack})});
    CSmfItem item;
    CMemoryFile file(bytes);
    ASSERT_EQ(item.Load(file), kResultOk);
    const uint32_t size = item.GetPayloadSize();
    CByteBlock::SetAllocationGate([](size_t) { return false; });
    CSmfItem other;
    CMemoryFile again(bytes);
    EXPECT_EQ(other.Load(again), kResultNoMemory);
    EXPECT_EQ(item.InsertMasterVolume(), kResultNoMemory);
    EXPECT_EQ(item.FitToSize(22 + 68 + 10), kResultNoMemory);
    CByteBlock::SetAllocationGate(nullptr);
    EXPECT_EQ(item.GetPayloadSize(), size);
    EXPECT_EQ(item.IsShortened(), 0);
}

}  // namespace
}  // namespace tonaro
