#pragma once

#include "synth/WaveSample.h"

#include <cstdint>
#include <span>

namespace mevo {

class VoiceTable;

// Reads a wave bank file image: a 16-byte header ("ADP ", size, "FMT ", format table length F,
// big-endian), a table of 24-byte format entries and "WA" chunks of 4-bit ADPCM. Each matching
// chunk is registered under an automatic id and becomes the wave id of its drum voice.
// Once both tags match every wave sample is deleted, whatever follows. Returns whether the
// header was accepted.
bool readWaveBank(std::span<const std::uint8_t> image, VoiceTable& table, WaveRegistry& waves);

} // namespace mevo
