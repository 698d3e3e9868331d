#pragma once

#include "synth/ScoreTarget.h"
#include "synth/SynthEngine.h"

namespace mevo {

// Plays a score on a SynthEngine: messages through its dispatcher, voice definitions into its
// voice table (and, as every voice definition does, into the other registered engines).
class EngineScoreTarget : public ScoreTarget {
public:
    explicit EngineScoreTarget(SynthEngine& engine) : engine_(engine) {}

    void dispatch(std::span<const std::uint8_t> message) override;
    void storeVoiceDefinition(std::span<const std::uint8_t> definition) override;
    void registerWave(std::uint32_t id, std::span<const std::uint8_t> adpcm, std::uint32_t rate) override;
    void deleteWave(std::uint32_t id) override;
    void stopWaveVoice() override;
    void render(std::int16_t* buffer, std::size_t frames) override;

private:
    SynthEngine& engine_;
};

} // namespace mevo
