#pragma once

#include <array>
#include <cstdint>

namespace tonaro {

inline constexpr uint16_t kWaveFormatPcm = 0x0001;
inline constexpr uint16_t kWaveFormatImaAdpcm = 0x0011;

// The 18-byte WAVEFORMATEX layout.
struct WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;

    bool operator==(const WaveFormat&) const = default;
    // Little-endian, as in a RIFF fmt chunk.
    std::array<uint8_t, 18> ToBytes() const;
};

// WAVEFORMATEX followed by samples per block: the IMA ADPCM format of a payload.
struct AdpcmWaveFormat {
    WaveFormat wave;
    uint16_t samplesPerBlock = 0;

    bool operator==(const AdpcmWaveFormat&) const = default;
    std::array<uint8_t, 20> ToBytes() const;
};

}  // namespace tonaro
