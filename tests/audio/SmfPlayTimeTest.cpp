#include <gtest/gtest.h>

#include "audio/SmfFixture.h"
#include "audio/SmfItem.h"

namespace tonaro {
namespace {

using test::Bytes;
using test::Join;
using test::kEndOfTrack;
using test::MakeSmf;

Bytes Tempo(uint8_t delta, uint32_t microseconds) {
    return {delta, 0xFF, 0x51, 0x03, uint8_t(microseconds >> 16), uint8_t(microseconds >> 8), uint8_t(microseconds)};
}

struct PlayTimeCase {
    const char* name;
    uint16_t division;
    Bytes track;
    uint32_t milliseconds;
};

class SmfPlayTime : public ::testing::TestWithParam<PlayTimeCase> {};

TEST_P(SmfPlayTime, AccumulatesTempoSections) {
    const Bytes bytes = MakeSmf(0, GetParam().division, {GetParam().track});
    CSmfItem item;
    ASSERT_TRUE(item.SetSmfBytes(bytes.data(), uint32_t(bytes.size())));
    EXPECT_EQ(item.GetPlayTime(), GetParam().milliseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmfPlayTime,
    ::testing::Values(
        // 96 ticks at 0.5 s, 96 at 0.25 s, 48 at 1 s per quarter note.
        PlayTimeCase{"TwoTempoChanges", 96,
                     Join({Tempo(0x60, 250000), Tempo(0x60, 1000000), Bytes{0x30, 0xFF, 0x2F, 0x00}}), 1250},
        // Each one-tick section rounds on its own: 5.208 ms -> 5, three times, not 15.625 -> 16.
        PlayTimeCase{"SectionsRoundSeparately", 96,
                     Join({Tempo(1, 500000), Tempo(1, 500000), Tempo(1, 500000), kEndOfTrack}), 15},
        PlayTimeCase{"DefaultTempo", 96, Bytes{0x83, 0x00, 0xFF, 0x2F, 0x00}, 2000},  // 384 ticks
        PlayTimeCase{"ZeroDivisionTimesAt480", 0, Bytes{0x83, 0x60, 0xFF, 0x2F, 0x00}, 500},  // 480 ticks
        PlayTimeCase{"SmpteDivisionTimesAt480", 0xE728, Bytes{0x83, 0x60, 0xFF, 0x2F, 0x00}, 500},
        PlayTimeCase{"NoEndOfTrack", 96, Bytes{0x60, 0x90, 0x3C, 0x40}, 0},
        PlayTimeCase{"UnknownStatus", 96, Bytes{0x60, 0xF9, 0x00, 0xFF, 0x2F, 0x00}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SmfPlayTimeHeader, IsZeroWithoutAnSmfHeader) {
    CSmfItem empty;
    EXPECT_EQ(empty.GetPlayTime(), 0u);
    Bytes bytes = MakeSmf(0, 96, {Bytes{0x60, 0xFF, 0x2F, 0x00}});
    bytes[7] = 7;  // header length other than 6
    CSmfItem item;
    ASSERT_TRUE(item.SetSmfBytes(bytes.data(), uint32_t(bytes.size())));
    EXPECT_EQ(item.GetPlayTime(), 0u);
}

}  // namespace
}  // namespace tonaro
