#pragma once

#include "synth/VoiceRecord.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mevo {

constexpr std::size_t kVoiceDefinitionSize = 30;

// A voice definition (engine command or score set-up) decoded into its target and record.
struct VoiceDefinition {
    int bank = 0;  // 0..39
    int index = 0; // program (melodic banks) or key (drum banks)
    VoiceRecord voice;
};

// Empty for a definition shorter than 30 bytes or one that names a bank of 40 or above.
std::optional<VoiceDefinition> parseVoiceDefinition(std::span<const std::uint8_t> bytes);

} // namespace mevo
