#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mevo {

constexpr std::uint32_t kMaxWaveId = 255;
constexpr std::uint32_t kFirstAutoWaveId = 63; // id 0 asks for the first free id from here

// One registered wave sample, decoded from 4-bit ADPCM.
struct WaveSample {
    std::vector<std::int16_t> samples; // two per ADPCM byte, low nibble first
    std::uint32_t rate = 0;            // playback rate in Hz
};

// Where wave samples are kept; the wave voice engine implements it, the wave bank reader fills it.
class WaveRegistry {
public:
    virtual ~WaveRegistry() = default;
    // Decodes and stores `adpcm` under `id` (0 = first free id from 63), replacing what was there.
    // Returns the id used, or 0 when `id` is above 255 or no id is free.
    virtual std::uint32_t registerWave(std::uint32_t id, std::span<const std::uint8_t> adpcm,
                                       std::uint32_t rate) = 0;
    // Frees the sample under `id`; id 0 frees every sample.
    virtual void deleteWave(std::uint32_t id) = 0;
};

} // namespace mevo
