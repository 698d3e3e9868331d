#pragma once

#include <array>
#include <cstdint>

namespace mevo {

// Attenuation tables of the channel mix, in 0.5 dB steps (192 = silence), computed once.
struct MixTables {
    std::array<std::uint8_t, 128> level;    // volume, expression and velocity 0..127
    std::array<std::uint8_t, 128> panLeft;  // pan 0..127
    std::array<std::uint8_t, 128> panRight;
    std::array<std::uint16_t, 193> gainW;  // Q15 wave voice gain by attenuation index
};

const MixTables& mixTables();

}  // namespace mevo
