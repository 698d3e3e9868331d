#include "synth/FmOperator.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace mevo {

namespace {

constexpr std::array<std::uint8_t, 16> kMultipleMap{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 12, 12, 15, 15};
constexpr std::array<std::uint8_t, 4> kKeyScaleLevelMap{0, 2, 1, 3};

}  // namespace

void FmOperator::loadParameters(const OperatorParams& p, bool modulated) {
    multiple = kMultipleMap[p.multiple & 15];
    vibrato = p.vibrato & 1;
    keyScaleRate = p.keyScaleRate & 1;
    attackRate = p.attackRate & 15;
    decayRate = p.decayRate & 15;
    const std::uint8_t releaseRate = p.releaseRate & 15;
    rateRelease = p.slowRelease ? 4 : releaseRate;
    rateSustain = p.sustainHold ? 0 : releaseRate;
    sustainLevel = p.sustainLevel & 15;
    totalLevel = p.totalLevel & 63;
    keyScaleLevel = kKeyScaleLevelMap[p.keyScaleLevel & 3];
    tremoloDepth = p.tremoloDepth & 3;
    tremolo = p.tremolo & 1;
    waveformIndex = p.waveform < kWaveformCount ? p.waveform : 0;
    vibratoOn = modulated ? vibrato : 0;
}

void FmOperator::syncEnvelope() {
    stepFactor = 1u << 30;  // level holds, never settles
    stepAdd = 0;
    settleLow = 0;
    settleSpan = ~0u;
    // A falling state ends when the level reaches `boundary`.
    const auto fallTo = [this](std::uint32_t factor, std::uint32_t boundary) {
        stepFactor = factor;
        settleLow = boundary + 1;
        settleSpan = kFullLevel - boundary;
    };
    switch (state) {
        case EnvelopeState::Off:
            break;
        case EnvelopeState::Release:
            fallTo(releaseFactor, 0);
            break;
        case EnvelopeState::Sustain:
            fallTo(sustainFactor, 0);
            break;
        case EnvelopeState::Decay:
            fallTo(decayFactor, sustainThreshold);
            break;
        case EnvelopeState::Attack:  // ends at full level
            stepAdd = attackStep;
            settleSpan = kFullLevel;
            break;
        case EnvelopeState::AttackStart:  // one step each
        case EnvelopeState::Retrigger:
            stepAdd = attackStep;
            settleSpan = 0;
            break;
    }
    stepHeadroom = kFullLevel - stepAdd;
}

void FmOperator::settle() {
    switch (state) {
        case EnvelopeState::AttackStart:
            phase = 0;
            [[fallthrough]];
        case EnvelopeState::Attack:
            state = level == kFullLevel ? EnvelopeState::Decay : EnvelopeState::Attack;
            break;
        case EnvelopeState::Retrigger:
            phase = 0;
            state = EnvelopeState::Release;
            break;
        default:  // a falling state reached its boundary: 0 ends the sound, decay turns to sustain
            state = level == 0 ? EnvelopeState::Off : EnvelopeState::Sustain;
            break;
    }
    syncEnvelope();
}

// Each step of a fade keeps at most `keep` = factor / 2^30 of the level and takes at least 1 off
// it. After g steps with keep^g <= 2^30 / (level * loss) the level is at most 2^30 / loss (and
// never above where it started), and at most that many steps more take it to 0, which turns the
// operator off.
bool FmOperator::fadesOutWithin(std::uint32_t frames) const {
    if (state != EnvelopeState::Release && state != EnvelopeState::Sustain) return false;
    const std::uint64_t loss = (std::uint64_t(1) << 30) - stepFactor;
    if (loss == 0 || frames <= std::min<std::uint64_t>(level, (std::uint64_t(1) << 30) / loss)) return false;
    const double unit = double(1 << 30);
    const double start = double(level) * double(loss) / unit;
    const double geometric = start > 1.0 ? std::ceil(std::log(start) / -std::log1p(-double(loss) / unit)) : 0.0;
    const double bound = geometric + std::min(double(level), unit / double(loss));
    return double(frames) > bound * 1.001 + 4;  // well clear of rounding
}

// A step takes d = ceil(level * (2^30 - factor) / 2^30) off the level (floor(level * factor /
// 2^30) = level - d), and d stays the same for every level down to the lowest one that still
// gives it, so runs of such steps are taken at once.
void FmOperator::skipInaudible(std::uint32_t frames) {
    phase += frames * phaseStep;
    if (fadesOutWithin(frames)) {
        level = 0;
        state = EnvelopeState::Off;
        syncEnvelope();
        return;
    }
    while (frames > 0 && state != EnvelopeState::Off) {
        const std::uint64_t loss = (std::uint64_t(1) << 30) - stepFactor;  // a falling state's factor
        if (loss == 0 && state != EnvelopeState::Decay) break;             // the level holds
        // Runs of fewer than 8 steps are cheaper one step at a time than through two divisions.
        if (loss > (std::uint64_t(1) << 27)) {
            stepEnvelope();
            --frames;
            continue;
        }
        std::uint64_t decrement = 0;
        std::uint32_t steps = 0;
        if (level != 0 && loss != 0 && !(state == EnvelopeState::Decay && level <= sustainThreshold)) {
            decrement = (std::uint64_t(level) * loss + (std::uint64_t(1) << 30) - 1) >> 30;
            // The quiet tail of a fade takes 1 a step all the way down: no division needed.
            std::uint64_t run = level;
            if (decrement > 1) {
                const std::uint64_t lowest = ((decrement - 1) << 30) / loss + 1;  // <= level
                run = (level - lowest) / decrement + 1;
            }
            if (state == EnvelopeState::Decay)  // up to the step that reaches the sustain threshold
                run = std::min(run, (level - sustainThreshold + decrement - 1) / decrement);
            steps = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, run));
        }
        if (steps == 0) {
            stepEnvelope();  // falling states leave the phase alone
            --frames;
            if (loss == 0 && state == EnvelopeState::Decay) break;  // decay that holds above sustain
            continue;
        }
        level -= static_cast<std::uint32_t>(steps * decrement);
        frames -= steps;
        if (level == 0)
            state = EnvelopeState::Off;
        else if (state == EnvelopeState::Decay && level <= sustainThreshold)
            state = EnvelopeState::Sustain;
        syncEnvelope();
    }
}

}  // namespace mevo
