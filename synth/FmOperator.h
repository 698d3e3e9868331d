#pragma once

#include <algorithm>
#include <cstdint>

#include "synth/FmTables.h"
#include "synth/VoiceRecord.h"

namespace mevo {

enum class EnvelopeState : std::uint8_t { Off, Release, AttackStart, Attack, Decay, Sustain, Retrigger };

// One table-lookup oscillator with its envelope. Parameters come from a voice's operator block;
// the derived values are refreshed by the owning voice when its pitch, voice or LFO changes.
struct FmOperator {
    // Parameters, mapped at voice load.
    std::uint8_t multiple = 0;  // 0..15 frequency multiple, 0 = one half
    std::uint8_t vibrato = 0;
    std::uint8_t keyScaleRate = 0;
    std::uint8_t attackRate = 0;
    std::uint8_t decayRate = 0;
    std::uint8_t rateSustain = 0;  // 0 when the sustain holds, else the release rate
    std::uint8_t rateRelease = 0;  // 4 for slow release, else the release rate
    std::uint8_t sustainLevel = 0;
    std::uint8_t totalLevel = 0;
    std::uint8_t keyScaleLevel = 0;  // table row 0..3 after mapping
    std::uint8_t tremoloDepth = 0;
    std::uint8_t tremolo = 0;
    std::uint8_t waveformIndex = 0;
    std::uint8_t vibratoOn = 0;
    std::uint8_t vibratoDepth = 0;  // 0..3

    // Derived values.
    const std::int16_t* wave = nullptr;
    std::uint32_t phaseStepBase = 0;     // 12.20 phase step before vibrato
    std::uint32_t phaseStep = 0;         // 12.20 phase step in use
    std::int32_t totalLevelGain = 0;     // Q15
    std::int32_t keyScaleGain = 0;       // Q15
    std::int32_t levelGain = 0;          // Q15, total level times key scale
    std::int32_t outputGain = 0;         // Q15, level gain after tremolo
    std::uint32_t attackStep = 0;        // 1.31 level increment per attack sample
    std::uint32_t decayFactor = 0;       // 2.30 level factor per sample
    std::uint32_t sustainFactor = 0;     // 2.30
    std::uint32_t releaseFactor = 0;     // 2.30
    std::uint32_t sustainThreshold = 0;  // 1.31

    // Running state.
    EnvelopeState state = EnvelopeState::Off;
    std::uint32_t level = 0;  // 1.31 envelope level, kFullLevel at full output
    std::uint32_t phase = 0;  // 12.20: the top 12 bits index the waveform

    // The step of the current state, one form for all states:
    //   level' = min(level * stepFactor >> 30, stepHeadroom) + stepAdd
    // Falling states scale (add 0, headroom full); rising ones add (factor 1, headroom full -
    // add). The state changes when (level' - settleLow) >= settleSpan, compared unsigned.
    std::uint32_t stepFactor = 1u << 30;  // 2.30
    std::uint32_t stepHeadroom = kFullLevel;
    std::uint32_t stepAdd = 0;
    std::uint32_t settleLow = 0;
    std::uint32_t settleSpan = ~0u;

public:
    void loadParameters(const OperatorParams& p, bool modulated);

    // True while the operator cannot produce a non-zero sample before its next key-on: off, or
    // falling with an amplitude (level >> 16) of 0.
    bool inaudible() const {
        return state == EnvelopeState::Off ||
               ((state == EnvelopeState::Release || state == EnvelopeState::Decay || state == EnvelopeState::Sustain) &&
                (level >> 16) == 0);
    }
    // Runs `frames` envelope steps of an inaudible operator without computing its (zero) output.
    void skipInaudible(std::uint32_t frames);
    // True when a fade certainly reaches 0 within `frames` steps.
    bool fadesOutWithin(std::uint32_t frames) const;

    static std::uint32_t scaled(std::uint32_t level, std::uint32_t factor) {
        return static_cast<std::uint32_t>((std::uint64_t(level) * factor) >> 30);
    }

    // Sets the step of the current state; call after the state or a rate changes.
    void syncEnvelope();
    // Makes the state change that a step asked for, and sets the new state's step.
    void settle();

    [[gnu::always_inline]] bool stepLevel() {
        level = std::min(scaled(level, stepFactor), stepHeadroom) + stepAdd;
        return level - settleLow >= settleSpan;
    }
    [[gnu::always_inline]] void stepEnvelope() {
        if (stepLevel()) [[unlikely]]
            settle();
    }

    // One sample: envelope step, then output for modulation input `m` (a signed sample).
    // The amplitude is at most 32512 (Q15), so |wave * amplitude| >> 15 stays below 32767 and
    // the output needs no limiting; a zero output gain gives a zero amplitude.
    [[gnu::always_inline]] std::int32_t tick(std::int32_t m) {
        stepEnvelope();
        const std::int32_t amplitude = (outputGain * std::int32_t(level >> 16)) >> 15;  // Q15
        const std::int32_t out = (wave[((phase >> 20) + std::uint32_t(m >> 1)) & 0xFFF] * amplitude) >> 15;
        phase += phaseStep;
        return out;
    }
};

}  // namespace mevo
