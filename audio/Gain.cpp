#include "audio/Gain.h"

#include <algorithm>

#include "audio/Endian.h"

namespace tonaro {

const std::array<uint32_t, kMaxGainDb - kMinGainDb + 1> kGainTableQ15 = {
    8231,  9235,  10362, 11627, 13045, 14637, 16423, 18427, 20675, 23198,  26029,  29205, 32768,
    36766, 41252, 46286, 51934, 58271, 65381, 73358, 82309, 92353, 103622, 116265, 130452};

uint32_t GainFactorQ15(int decibels) {
    return kGainTableQ15[size_t(std::clamp(decibels, kMinGainDb, kMaxGainDb) - kMinGainDb)];
}

namespace {
// floor(value × factor / 32768): an arithmetic shift of the 64-bit product.
int64_t ScaleQ15(int64_t value, uint32_t factorQ15) {
    return (value * factorQ15) >> 15;
}
}  // namespace

void ApplyGainQ15(uint8_t* pcm, uint32_t size, const WaveFormat& format, uint32_t factorQ15) {
    if (format.channels != 1 && format.channels != 2) return;
    if (format.bitsPerSample == 8) {
        for (uint32_t i = 0; i < size; ++i)
            pcm[i] = uint8_t(std::clamp<int64_t>(ScaleQ15(pcm[i] - 128, factorQ15), -128, 127) + 128);
    } else if (format.bitsPerSample == 16) {
        for (uint32_t i = 0; i + 1 < size; i += 2) {
            const int64_t scaled = ScaleQ15(int16_t(GetLe16(pcm + i)), factorQ15);
            PutLe16(pcm + i, uint16_t(int16_t(std::clamp<int64_t>(scaled, -32768, 32767))));
        }
    }
}

}  // namespace tonaro
