#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace mevo {

constexpr std::string_view kVoiceFileName = "tzvoice.vxb";
constexpr std::string_view kWaveBankFileName = "tzvoice.adp";

// Folders searched for voice files, in order: $MEVO22K_VOICE_DIR (when set and not empty),
// the folder of the binary that holds this library, /usr/share/mevo22k.
std::vector<std::filesystem::path> voiceFileFolders();

// The first `folders` entry that holds a regular file `name`.
std::optional<std::filesystem::path> locateVoiceFile(std::string_view name,
                                                     std::span<const std::filesystem::path> folders);

// The whole file, or nothing when it cannot be read or is larger than `maxBytes`.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

} // namespace mevo
