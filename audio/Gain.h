#pragma once

#include <array>
#include <cstdint>

#include "audio/WaveFormat.h"

namespace tonaro {

inline constexpr int kMinGainDb = -12;
inline constexpr int kMaxGainDb = 12;

// Gain factors in Q15 (32768 = 1.0) for -12..+12 dB: round(32768 × 10^(dB / 20)).
extern const std::array<uint32_t, kMaxGainDb - kMinGainDb + 1> kGainTableQ15;

// Q15 factor of `decibels`, clamped to -12..+12.
uint32_t GainFactorQ15(int decibels);

// Scales PCM samples in place by a Q15 factor, rounding toward minus infinity and clipping to the
// sample range; 8-bit samples are unsigned around 128. Other widths or channel counts are left alone.
void ApplyGainQ15(uint8_t* pcm, uint32_t size, const WaveFormat& format, uint32_t factorQ15);

}  // namespace tonaro
