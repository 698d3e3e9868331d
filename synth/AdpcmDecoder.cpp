#include "synth/AdpcmDecoder.h"

#include <algorithm>
#include <array>

namespace mevo {

namespace {

// Step factors (Q14) by the magnitude bits of the code.
constexpr std::array<std::int32_t, 8> kStepFactor{14720, 14720, 14720, 14720, 19648, 26176, 32768, 39296};

}  // namespace

std::int16_t AdpcmDecoder::decode(std::uint8_t code) {
    std::int32_t d = step_ / 8;
    if (code & 4) d += step_;
    if (code & 2) d += step_ / 2;
    if (code & 1) d += step_ / 4;
    if (code & 8) d = -d;
    predictor_ = std::clamp(predictor_ + d, -32768, 32767);
    step_ = static_cast<std::uint16_t>(std::clamp(step_ * kStepFactor[code & 7] / 16384, 127, 24576));
    return static_cast<std::int16_t>(predictor_);
}

std::vector<std::int16_t> AdpcmDecoder::decodeAll(std::span<const std::uint8_t> adpcm) {
    AdpcmDecoder decoder;
    std::vector<std::int16_t> samples;
    samples.reserve(adpcm.size() * 2);
    for (std::uint8_t byte : adpcm) {
        samples.push_back(decoder.decode(byte & 0x0F));
        samples.push_back(decoder.decode(byte >> 4));
    }
    return samples;
}

}  // namespace mevo
