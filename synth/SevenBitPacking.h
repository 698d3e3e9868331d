#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mevo {

// Undoes the 7-bit transport of engine commands: in each group of up to 8 bytes the first byte
// carries bit 7 of the following ones (bit 6 for the first, bit 5 for the second, ...). A group
// of n bytes yields n - 1 bytes. Unpacking stops after `limit` bytes.
std::vector<std::uint8_t> unpackSevenBit(std::span<const std::uint8_t> packed, std::size_t limit = SIZE_MAX);

}  // namespace mevo
