#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace mevo {

// What the score sequencer drives: the engine's one message dispatcher, its wave and voice
// stores and its renderer. Kept abstract so that the sequencer is tested without the engine.
class ScoreTarget {
public:
    virtual ~ScoreTarget() = default;

    // One channel message (real length: 2 or 3 bytes) or a complete F0..F7 message.
    virtual void dispatch(std::span<const std::uint8_t> message) = 0;
    // A 30-byte voice definition, bank byte already set to its user bank.
    virtual void storeVoiceDefinition(std::span<const std::uint8_t> definition) = 0;
    virtual void registerWave(std::uint32_t id, std::span<const std::uint8_t> adpcm,
                              std::uint32_t rate) = 0;
    virtual void deleteWave(std::uint32_t id) = 0;
    // Silences the wave voice outright, whatever its nesting count.
    virtual void stopWaveVoice() = 0;
    // Overwrites `frames` interleaved stereo frames (left, right) and advances every voice.
    virtual void render(std::int16_t* buffer, std::size_t frames) = 0;
};

} // namespace mevo
