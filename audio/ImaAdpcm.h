#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "audio/WaveFormat.h"

namespace tonaro {

// Standard IMA ADPCM as stored in RIFF WAVE blocks (format tag 0x0011): per channel a 4-byte
// header (first sample, step index, reserved 0), then groups of 4 bytes per channel holding
// 8 samples, low nibble first.
inline constexpr int kImaMaxStepIndex = 88;
inline constexpr uint32_t kImaHeaderBytesPerChannel = 4;
inline constexpr uint32_t kImaGroupBytes = 4;    // one channel's share of an interleave group
inline constexpr uint32_t kImaGroupSamples = 8;  // samples in those 4 bytes

extern const std::array<int32_t, kImaMaxStepIndex + 1> kImaStepTable;
extern const std::array<int8_t, 16> kImaIndexTable;

// One channel's decoder state: predicted sample and step index.
struct ImaState {
    int32_t predictor = 0;
    int32_t stepIndex = 0;
};

// Magnitude that a 3-bit code adds or removes at a given step (the shift-and-add of the standard).
constexpr int32_t ImaDifference(int32_t step, int magnitude) {
    int32_t diff = step >> 3;
    if (magnitude & 4) diff += step;
    if (magnitude & 2) diff += step >> 1;
    if (magnitude & 1) diff += step >> 2;
    return diff;
}

// Applies one 4-bit code; returns the decoded sample.
inline int32_t ImaDecodeNibble(ImaState& state, int nibble) {
    const int32_t diff = ImaDifference(kImaStepTable[state.stepIndex], nibble & 7);
    const int32_t next = (nibble & 8) ? state.predictor - diff : state.predictor + diff;
    state.predictor = std::clamp(next, -32768, 32767);
    state.stepIndex = std::clamp(state.stepIndex + kImaIndexTable[nibble & 15], 0, kImaMaxStepIndex);
    return state.predictor;
}

// The IMA ADPCM output format for `channels` (1 or 2) at `rate`: block align 256 per channel,
// multiplied by rate / 11000 above 11025 Hz; samples per block and average bytes per second follow.
AdpcmWaveFormat ImaAdpcmFormat(uint16_t channels, uint32_t rate);

}  // namespace tonaro
