#include "synth/FmOperator.h"

#include <array>

namespace mevo {

namespace {

constexpr std::array<std::uint8_t, 16> kMultipleMap{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 12, 12, 15, 15};
constexpr std::array<std::uint8_t, 4> kKeyScaleLevelMap{0, 2, 1, 3};

}  // namespace

void FmOperator::loadParameters(const OperatorParams& p, bool modulated) {
    multiple = kMultipleMap[p.multiple & 15];
    vibrato = p.vibrato & 1;
    keyScaleRate = p.keyScaleRate & 1;
    attackRate = p.attackRate & 15;
    decayRate = p.decayRate & 15;
    const std::uint8_t releaseRate = p.releaseRate & 15;
    rateRelease = p.slowRelease ? 4 : releaseRate;
    rateSustain = p.sustainHold ? 0 : releaseRate;
    sustainLevel = p.sustainLevel & 15;
    totalLevel = p.totalLevel & 63;
    keyScaleLevel = kKeyScaleLevelMap[p.keyScaleLevel & 3];
    tremoloDepth = p.tremoloDepth & 3;
    tremolo = p.tremolo & 1;
    waveformIndex = p.waveform < kWaveformCount ? p.waveform : 0;
    vibratoOn = modulated ? vibrato : 0;
}

}  // namespace mevo
