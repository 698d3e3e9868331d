// Table entries worked out by hand from their rules.
#include <gtest/gtest.h>

#include "synth/FmTables.h"
#include "synth/MixTables.h"

namespace mevo {
namespace {

struct Entry {
    const char* table;
    int index;
    long long expected;
};

long long lookup(const Entry& e) {
    const FmTables& f = fmTables();
    const MixTables& m = mixTables();
    const std::string name = e.table;
    if (name == "gainF") return f.gainF[e.index];
    if (name == "gainW") return m.gainW[e.index];
    if (name == "level") return m.level[e.index];
    if (name == "panLeft") return m.panLeft[e.index];
    if (name == "panRight") return m.panRight[e.index];
    if (name == "totalLevel") return f.totalLevelGain[e.index];
    if (name == "sustain") return f.sustainThreshold[e.index];
    return -1;
}

TEST(MixTables, GainAttenuationAndPanEntries) {
    const Entry entries[] = {
        {"gainF", 0, 32768},        {"gainF", 1, 30935},       {"gainF", 12, 16423},    {"gainF", 40, 3277},
        {"gainF", 191, 1},          {"gainF", 192, 0},         {"gainW", 0, 32767},     {"gainW", 1, 30935},
        {"gainW", 192, 0},          {"level", 0, 192},         {"level", 1, 168},       {"level", 64, 24},
        {"level", 100, 8},          {"level", 127, 0},         {"panLeft", 0, 0},       {"panLeft", 64, 6},
        {"panLeft", 127, 192},      {"panRight", 0, 192},      {"panRight", 64, 6},     {"panRight", 127, 0},
        {"totalLevel", 0, 32512},   {"totalLevel", 8, 16423},  {"totalLevel", 63, 142}, {"sustain", 0, 2147483648LL},
        {"sustain", 1, 1520301996}, {"sustain", 14, 17058069}, {"sustain", 15, 48076},
    };
    for (const Entry& e : entries) EXPECT_EQ(lookup(e), e.expected) << e.table << "[" << e.index << "]";
}

TEST(FmTables, WaveformsFollowTheirShapes) {
    const auto& w = fmTables().waveform;
    EXPECT_EQ(w[0][0], 0);
    EXPECT_EQ(w[0][1024], 32767);  // 32768 limited
    EXPECT_EQ(w[0][3072], -32767);
    EXPECT_EQ(w[1][3072], 0);      // half sine
    EXPECT_EQ(w[2][3072], 32767);  // absolute sine
    EXPECT_EQ(w[3][1024], 32767);  // rising quarter waves
    EXPECT_EQ(w[3][1025], 0);
    EXPECT_EQ(w[4][512], 32767);  // double speed
    EXPECT_EQ(w[4][2560], 0);
    EXPECT_EQ(w[5][1536], 32767);
    EXPECT_EQ(w[6][0], 32767);
    EXPECT_EQ(w[6][2048], -32767);
    EXPECT_EQ(w[7][0], 32767);    // 32768 limited
    EXPECT_EQ(w[7][128], 16384);  // one halving per 128 entries
    EXPECT_EQ(w[7][4095], -32767);
    EXPECT_EQ(w[7][4095 - 128], -16384);
}

TEST(FmTables, LfoTablesPeakWhereTheTriangleDoes) {
    const FmTables& t = fmTables();
    const uint32_t vibratoPeaks[] = {1050635, 1052638, 1056777, 1064918};
    for (int d = 0; d < kLfoDepthCount; ++d) {
        EXPECT_EQ(t.vibrato[d][0], 1u << 20);
        EXPECT_EQ(t.vibrato[d][1024], vibratoPeaks[d]);
        EXPECT_EQ(t.vibrato[d][2048], 1u << 20);
        EXPECT_LT(t.vibrato[d][3072], 1u << 20);
        EXPECT_EQ(t.tremolo[d][0], 32768);
    }
    // 11.8 dB at the deepest point of tremolo depth 3: 32768 * 10^(-0.59).
    EXPECT_EQ(t.tremolo[3][2048], 8423);
}

TEST(FmTables, KeyScaleRowsHalveAndDoubleTheAttenuation) {
    const auto& k = fmTables().keyScale;
    // Block 7, F-number 0x3FF (index 7 + 8 * 15): 21 dB on row 2, 10.5 on row 1, 42 on row 3.
    EXPECT_EQ(k[0][127], 32768);
    EXPECT_EQ(k[2][127], 2920);
    EXPECT_EQ(k[1][127], 9783);
    EXPECT_EQ(k[3][127], 260);
    // Block 0 attenuates nothing below 21 dB - 21 dB: the entry for no attenuation is 32512.
    EXPECT_EQ(k[2][8 * 15], 32512);
}

}  // namespace
}  // namespace mevo
