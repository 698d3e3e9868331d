#include "synth/SevenBitPacking.h"

#include <algorithm>

namespace mevo {

std::vector<std::uint8_t> unpackSevenBit(std::span<const std::uint8_t> packed, std::size_t limit) {
    std::vector<std::uint8_t> out;
    out.reserve(std::min(limit, packed.size()));
    for (std::size_t group = 0; group < packed.size() && out.size() < limit; group += 8) {
        const std::uint8_t topBits = packed[group];
        const std::size_t end = std::min(group + 8, packed.size());
        for (std::size_t i = group + 1; i < end && out.size() < limit; ++i) {
            const int bit = (topBits >> (6 - (i - group - 1))) & 1;
            out.push_back(static_cast<std::uint8_t>((packed[i] & 0x7F) | (bit << 7)));
        }
    }
    return out;
}

}  // namespace mevo
