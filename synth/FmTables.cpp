#include "synth/FmTables.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace mevo {

namespace {

constexpr int kHalf = kTableSize / 2;

int roundToInt(double x) {
    return static_cast<int>(std::lround(x));
}

double decibelsToGain(double db) {
    return std::pow(10.0, -db / 20.0);
}

void buildWaveforms(FmTables& t) {
    auto& w = t.waveform;
    for (int i = 0; i < kTableSize; ++i) {
        const double phase = 2.0 * std::numbers::pi * i / kTableSize;
        const int sine = std::clamp(roundToInt(32768.0 * std::sin(phase)), -32767, 32767);
        const int doubleSine = std::clamp(roundToInt(32768.0 * std::sin(2.0 * phase)), -32767, 32767);
        const bool firstHalf = i < kHalf;
        w[0][i] = static_cast<std::int16_t>(sine);
        w[1][i] = static_cast<std::int16_t>(firstHalf ? sine : 0);
        w[2][i] = static_cast<std::int16_t>(std::abs(sine));
        w[3][i] = static_cast<std::int16_t>(i % kHalf <= kTableSize / 4 ? std::abs(sine) : 0);
        w[4][i] = static_cast<std::int16_t>(firstHalf ? doubleSine : 0);
        w[5][i] = static_cast<std::int16_t>(firstHalf ? std::abs(doubleSine) : 0);
        w[6][i] = static_cast<std::int16_t>(firstHalf ? 32767 : -32767);
        // Exponential decay in the first half, its negated mirror image in the second.
        const int falling = firstHalf ? std::min(32767, roundToInt(32768.0 * std::exp2(-i / 128.0)))
                                      : std::max(-32767, roundToInt(-32768.0 * std::exp2(-(4095 - i) / 128.0)));
        w[7][i] = static_cast<std::int16_t>(falling);
    }
}

void buildLevelTables(FmTables& t) {
    t.totalLevelGain[0] = 32512;
    for (int n = 1; n < 64; ++n) t.totalLevelGain[n] = roundToInt(32768.0 * decibelsToGain(0.75 * n));
    for (int n = 0; n < 15; ++n)
        t.sustainThreshold[n] = static_cast<std::uint32_t>(std::llround(2147483648.0 * decibelsToGain(3.0 * n)));
    t.sustainThreshold[15] = 48076;
    for (int i = 0; i < kMaxGainIndex; ++i)
        t.gainF[i] = static_cast<std::uint16_t>(roundToInt(32768.0 * std::pow(10.0, -i / 40.0)));
    t.gainF[kMaxGainIndex] = 0;
}

void buildLfoTables(FmTables& t) {
    constexpr std::array<double, kLfoDepthCount> tremoloDb{1.3, 2.8, 5.8, 11.8};
    // The peaks of the stored vibrato tables (about 3.4, 6.7, 13.5 and 26.8 cents); the triangle
    // scales their exponent so that the peaks are met exactly.
    constexpr std::array<double, kLfoDepthCount> vibratoPeak{1050635, 1052638, 1056777, 1064918};
    constexpr double unity = 1 << 20;
    for (int i = 0; i < kTableSize; ++i) {
        const double tremoloT = i <= kHalf ? double(i) / kHalf : double(kTableSize - i) / kHalf;
        const int quarter = kTableSize / 4;
        double vibratoT = 0;
        if (i <= quarter)
            vibratoT = double(i) / quarter;
        else if (i <= 3 * quarter)
            vibratoT = double(kHalf - i) / quarter;
        else
            vibratoT = double(i - kTableSize) / quarter;
        for (int d = 0; d < kLfoDepthCount; ++d) {
            t.tremolo[d][i] = roundToInt(32768.0 * decibelsToGain(tremoloDb[d] * tremoloT));
            t.vibrato[d][i] =
                static_cast<std::uint32_t>(std::llround(unity * std::pow(vibratoPeak[d] / unity, vibratoT)));
        }
    }
}

void buildKeyScale(FmTables& t) {
    constexpr std::array<double, 16> k{0,  9,     12,     13.875, 15,     16.125, 16.875, 17.625,
                                       18, 18.75, 19.125, 19.5,   19.875, 20.25,  20.625, 21};
    t.keyScale[0].fill(32768);
    for (int row = 1; row < 4; ++row) {
        for (int fnumberHigh = 0; fnumberHigh < 16; ++fnumberHigh) {
            for (int block = 0; block < 8; ++block) {
                const double base = (row == 2 && fnumberHigh == 3) ? 13.125 : k[fnumberHigh];
                const double a = std::max(0.0, base - 3.0 * (7 - block));
                const double db = row == 1 ? a / 2 : row == 2 ? a : 2 * a;
                t.keyScale[row][block + 8 * fnumberHigh] = db == 0 ? 32512 : roundToInt(32768.0 * decibelsToGain(db));
            }
        }
    }
}

FmTables build() {
    FmTables t{};
    buildWaveforms(t);
    buildLevelTables(t);
    buildLfoTables(t);
    buildKeyScale(t);
    return t;
}

}  // namespace

const FmTables& fmTables() {
    static const FmTables tables = build();
    return tables;
}

}  // namespace mevo
