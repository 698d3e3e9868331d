#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mevo {

// The 4-bit ADPCM of wave samples; each byte holds two codes, low nibble first.
class AdpcmDecoder {
public:
    std::int16_t decode(std::uint8_t code);
    std::int32_t predictor() const { return predictor_; }
    std::uint16_t step() const { return step_; }

    // Decodes `adpcm` from a reset decoder: two samples per byte.
    static std::vector<std::int16_t> decodeAll(std::span<const std::uint8_t> adpcm);

private:
    std::int32_t predictor_ = 0;
    std::uint16_t step_ = 127;
};

}  // namespace mevo
