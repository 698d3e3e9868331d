#pragma once

#include "synth/ScoreTarget.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace mevo {

constexpr std::size_t kCompactVoiceSize = 12;

// Converts a compact two-operator voice (12 bytes) to a 30-byte voice definition for user
// bank 20 + c[0]. Layout, one row a byte:
//   c[0]      user bank 0..15
//   c[1]      bits 6..0 program
//   c[2]      bits 7..6 LFO rate, 5..3 feedback, 2..1 octave, 0 algorithm (0 or 1)
//   c[3]      bit 7 / bits 6..4: tremolo / waveform of operator 1; bit 3 / bits 2..0: operator 2
//   c[4..7]   operator 1, c[8..11] operator 2:
//     o[0]    as packed byte 0 (multiple, vibrato, sustain hold, slow release, key scale rate)
//     o[1]    bits 7..4 attack code, 3..0 decay code
//     o[2]    bits 7..4 sustain level, 3..0 release code
//     o[3]    as packed byte 3 (total level, key scale level)
// Attack and release codes go through the table that never yields 0, so every compact voice
// sounds and ends; decay codes may give 0 (hold the level).
std::array<std::uint8_t, 30> compactVoiceToDefinition(std::span<const std::uint8_t, kCompactVoiceSize> c);

// A voice set-up exclusive body (the bytes after F0 and the length byte). Kind 2 carries a
// compact voice at body[2..13]; kind 3 a 30-byte definition at body[1..30] whose bank byte
// (body[2], n = its bits 6..0, below 16) becomes 20 + n, or 30 + n when bit 7 is set. Bodies
// shorter than their layout and other kinds are ignored.
void applyVoiceSetup(std::span<const std::uint8_t> body, ScoreTarget& target);

// A score track's set-up data ("Mtsu"): 0xFF 0xF0 L and L bytes is a voice set-up, 0xFF and
// another byte are skipped together, any other byte alone. A set-up cut short ends the scan.
void applySetUpData(std::span<const std::uint8_t> data, ScoreTarget& target);

} // namespace mevo
