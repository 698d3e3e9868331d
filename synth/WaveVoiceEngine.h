#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "synth/WaveSample.h"

namespace mevo {

// The registered wave samples (ids 1..255) and the one wave voice that plays them.
class WaveVoiceEngine : public WaveRegistry {
public:
    std::uint32_t registerWave(std::uint32_t id, std::span<const std::uint8_t> adpcm, std::uint32_t rate) override;
    void deleteWave(std::uint32_t id) override;
    const WaveSample* sample(std::uint32_t id) const;

    // Starts `id` from its beginning, stopping what plays.
    void restart(std::uint32_t id);
    // Starts `id` when idle, or counts one more start of the sample that plays.
    void startOrNest(std::uint32_t id);
    // Ends one start; the voice goes idle with the last.
    void stopWave();
    // Goes idle whatever the start count.
    void stopAll();
    // Attenuation index in 0.5 dB steps, limited to 192 (silence).
    void setGain(unsigned index);

    // Adds the voice to `frames` stereo frames, clamping each sample to -32767..32767.
    void mix(std::int16_t* out, std::uint32_t frames);

    bool idle() const { return idle_; }
    std::uint32_t currentId() const { return id_; }
    std::uint8_t startCount() const { return startCount_; }
    std::uint16_t gain() const { return gain_; }

private:
    void start(std::uint32_t id);

    std::array<std::unique_ptr<WaveSample>, kMaxWaveId + 1> samples_;  // index = id, 0 unused
    std::uint32_t id_ = 0;
    const WaveSample* playing_ = nullptr;
    std::uint64_t phase_ = 0;      // sample position, 12 fractional bits
    std::uint32_t increment_ = 0;  // per output frame, 12 fractional bits
    std::uint16_t gain_ = 0;       // Q15
    bool idle_ = true;
    std::uint8_t startCount_ = 0;
};

}  // namespace mevo
