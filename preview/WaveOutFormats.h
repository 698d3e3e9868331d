#pragma once

#include <array>
#include <cstdint>

#include "audio/WaveFormat.h"

namespace tonaro {

// Rates and channel counts of the IMA ADPCM formats a device must play, in the order a
// capability probe asks for them.
inline constexpr std::array<uint32_t, 4> kAdpcmPreviewRates = {8000, 11025, 22050, 44100};
inline constexpr std::array<uint16_t, 2> kAdpcmPreviewChannels = {1, 2};

// The synthesizer's output: 22050 Hz, 16-bit, stereo PCM.
AdpcmWaveFormat PcmPreviewFormat();
// True for the PCM preview format and the eight IMA ADPCM formats of the rates and channels above.
bool IsPlayableFormat(const AdpcmWaveFormat& format);

}  // namespace tonaro
