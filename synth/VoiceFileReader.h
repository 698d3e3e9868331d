#pragma once

#include "synth/VoiceRecord.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace mevo {

class VoiceTable;

constexpr std::size_t kVoiceFileSize = 86948;
constexpr std::size_t kFileVoiceSize = 26;

// One 26-byte voice of the FM voice file.
VoiceRecord unpackFileVoice(std::span<const std::uint8_t, kFileVoiceSize> bytes);

// Reads the melodic banks 0..9 and drum banks 10..19 (keys 13..90) of an FM voice file image
// into `table`, then refreshes the user banks. An image of any size but 86948 bytes changes
// nothing and returns false; a wrong magic still refreshes the user banks.
bool readVoiceFile(std::span<const std::uint8_t> image, VoiceTable& table);

} // namespace mevo
