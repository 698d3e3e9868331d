#include "synth/EngineScoreTarget.h"

#include "synth/EngineRegistry.h"

namespace mevo {

void EngineScoreTarget::dispatch(std::span<const std::uint8_t> message)
{
    engine_.dispatch(message);
}

void EngineScoreTarget::storeVoiceDefinition(std::span<const std::uint8_t> definition)
{
    if (engine_.voices().storeVoiceDefinition(definition)) {
        EngineRegistry::forEachOther(&engine_, [&](SynthEngine& e) { e.voices().storeVoiceDefinition(definition); });
    }
}

void EngineScoreTarget::registerWave(std::uint32_t id, std::span<const std::uint8_t> adpcm, std::uint32_t rate)
{
    engine_.waves().registerWave(id, adpcm, rate);
}

void EngineScoreTarget::deleteWave(std::uint32_t id)
{
    engine_.waves().deleteWave(id);
}

void EngineScoreTarget::stopWaveVoice()
{
    engine_.waves().stopAll();
}

void EngineScoreTarget::render(std::int16_t* buffer, std::size_t frames)
{
    engine_.render(buffer, static_cast<std::uint32_t>(frames));
}

} // namespace mevo
