#include "synth/FmVoice.h"

#include <algorithm>
#include <utility>

namespace mevo {

namespace {

constexpr std::array<std::int8_t, 4> kOctaveShift{1, 0, -1, -2};
// Phase step (12.20) of one F-number unit at block 0: 2^32 / (22050 * 21.098109).
constexpr std::uint32_t kPhaseStepUnit = 9232;

std::int32_t scaledByGain(std::int32_t y, std::uint16_t gain) {
    return static_cast<std::int32_t>((std::int64_t(gain) * y) >> 15);
}

}  // namespace

void FmVoice::load(const VoiceRecord& voice) {
    operatorCount_ = operatorCountFor(voice.algorithm);
    octaveShift_ = kOctaveShift[voice.octave & 3];
    lfoRate_ = voice.lfoRate & 7;
    feedback_ = voice.feedback & 7;
    algorithm_ = voice.algorithm;
    for (int i = 0; i < 4; ++i) operators_[i].loadParameters(voice.operators[i], modulationDepth_ != 0);
    pending_ |= kNewVoice;
}

void FmVoice::setGain(unsigned leftIndex, unsigned rightIndex) {
    const auto& gainF = fmTables().gainF;
    leftGain_ = gainF[std::min<unsigned>(leftIndex, kMaxGainIndex)];
    rightGain_ = gainF[std::min<unsigned>(rightIndex, kMaxGainIndex)];
    laneStale_ = true;
}

void FmVoice::setPitch(unsigned block, unsigned fnumber) {
    // Kept unlimited (the pitch of the top keys asks for block 8) until the octave shift is applied.
    block_ = static_cast<std::uint8_t>(std::min(block, 15u));
    fnumber_ = static_cast<std::uint16_t>(fnumber & 0x3FF);
    pending_ |= kPitch;
}

void FmVoice::setFnumberLow(std::uint8_t value) {
    fnumber_ = static_cast<std::uint16_t>((fnumber_ & 0x300) | value);
    pending_ |= kPitch;
}

void FmVoice::setBlockAndFnumberHigh(std::uint8_t value) {
    block_ = (value >> 2) & 7;
    fnumber_ = static_cast<std::uint16_t>((fnumber_ & 0xFF) | ((value & 3) << 8));
    pending_ |= kPitch;
}

void FmVoice::setModulationDepth(std::uint8_t depth) {
    modulationDepth_ = depth;
    pending_ |= kModulation;
}

void FmVoice::keyOn() {
    keyOn_ = 1;
    pending_ |= kKeyOn;
}

void FmVoice::keyOff() {
    keyOn_ = 0;
    pending_ |= kKeyOff;
}

void FmVoice::clear() {
    operatorCount_ = 0;
    lfoPhase_ = 0;
    modulationDepth_ = 0;
    leftGain_ = rightGain_ = 0;
    history1_ = history2_ = 0;
    for (auto& op : operators_) op.level = 0;
    laneStale_ = true;
    dormant_ = false;
}

void FmVoice::applyPending(const FmTables& tables) {
    if (pending_ & kNewVoice) applyVoice();
    if (pending_ & (kKeyOn | kKeyOff)) applyKeys();
    if (pending_ & (kNewVoice | kPitch)) applyPitch();
    if (pending_ & kModulation) applyModulation();
    pending_ = 0;
    laneStale_ = true;
    dormant_ = false;
    // States and rates changed here only; the envelope steps keep their own changes in step.
    lfoUsed_ = false;
    for (int n = 0; n < 4; ++n) {
        FmOperator& op = operators_[n];
        op.syncEnvelope();
        lfoUsed_ = lfoUsed_ || (n < operatorCount_ && (op.vibratoOn || op.tremolo));
    }
    applyLfo(tables);  // operators without LFO keep these until the next change
}

void FmVoice::applyVoice() {
    feedbackShift_ = feedback_ ? static_cast<std::uint8_t>(8 - feedback_) : 0;
    const FmTables& t = fmTables();
    for (auto& op : operators_) {
        op.wave = t.waveform[op.waveformIndex].data();
        op.sustainThreshold = t.sustainThreshold[op.sustainLevel];
        op.totalLevelGain = t.totalLevelGain[op.totalLevel];
    }
}

void FmVoice::applyKeys() {
    // Key-on and key-off in one call: one attack step, then release.
    int k = keyOn_;
    if (k == 0 && (pending_ & kKeyOn) && (pending_ & kKeyOff)) k = 2;
    if (k != 0) history1_ = history2_ = 0;
    for (auto& op : operators_) {
        if (k == 1)
            op.state = EnvelopeState::AttackStart;
        else if (k == 2)
            op.state = EnvelopeState::Retrigger;
        else if (op.state != EnvelopeState::Off)
            op.state = EnvelopeState::Release;
    }
}

void FmVoice::applyPitch() {
    effectiveBlock_ = static_cast<std::uint8_t>(std::clamp(block_ + octaveShift_, 0, 7));
    keyCode_ = static_cast<std::uint8_t>(effectiveBlock_ * 2 + (fnumber_ >> 9));
    const int keyScaleIndex = effectiveBlock_ + 8 * (fnumber_ >> 6);
    basePhaseStep_ = (std::uint32_t(fnumber_) << effectiveBlock_) * kPhaseStepUnit;
    const FmTables& t = fmTables();
    for (auto& op : operators_) {
        op.keyScaleGain = t.keyScale[op.keyScaleLevel][keyScaleIndex];
        op.levelGain = (op.totalLevelGain * op.keyScaleGain) >> 15;
        op.phaseStepBase = op.multiple ? basePhaseStep_ * op.multiple : basePhaseStep_ >> 1;
        const int kc = op.keyScaleRate ? keyCode_ : keyCode_ >> 2;
        auto rate = [kc](int r) { return std::min(r * 4 + kc, 63); };
        op.attackStep = kAttackStep[rate(op.attackRate)];
        op.decayFactor = kDecayFactor[rate(op.decayRate)];
        op.sustainFactor = kDecayFactor[op.rateSustain ? rate(op.rateSustain) : 0];
        op.releaseFactor = kDecayFactor[rate(op.rateRelease)];
    }
}

void FmVoice::applyModulation() {
    for (auto& op : operators_) {
        if (modulationDepth_ == 0) {
            op.vibratoOn = 0;
        } else {
            // Channel modulation depth 1..4 picks vibrato table 0..3.
            op.vibratoOn = op.vibrato;
            op.vibratoDepth = static_cast<std::uint8_t>(std::min(modulationDepth_ - 1, 3));
        }
    }
}

void FmVoice::applyLfo(const FmTables& t) {
    const std::uint32_t i = lfoPhase_ >> 20;
    for (int n = 0; n < operatorCount_; ++n) {
        FmOperator& op = operators_[n];
        op.phaseStep =
            op.vibratoOn
                ? static_cast<std::uint32_t>((std::uint64_t(t.vibrato[op.vibratoDepth][i]) * op.phaseStepBase) >> 20)
                : op.phaseStepBase;
        op.outputGain = op.tremolo ? (t.tremolo[op.tremoloDepth][i] * op.levelGain) >> 15 : op.levelGain;
    }
}

// What rendering a voice whose operators are all inaudible does: every output is 0, envelopes
// fall, phases advance and the feedback history fills with zeros. Inaudible operators stay so
// until the next change, so once the history is clear the voice goes dormant.
void FmVoice::skip(std::uint32_t frames) {
    for (int n = 0; n < operatorCount_; ++n) operators_[n].skipInaudible(frames);
    history2_ = frames == 1 ? history1_ : 0;
    history1_ = 0;
    dormant_ = history2_ == 0;
}

void FmVoice::catchUp(std::uint64_t now) {
    const std::uint64_t missed = now - dormantSince_;
    lfoPhase_ += static_cast<std::uint32_t>(missed) * kLfoRate[lfoRate_];  // modulo 2^32, as step by step
    // An inaudible envelope is off or holding after 65536 steps.
    const auto steps = static_cast<std::uint32_t>(std::min<std::uint64_t>(missed, 1u << 17));
    for (int n = 0; n < operatorCount_; ++n) operators_[n].skipInaudible(steps);
    dormant_ = false;
    laneStale_ = true;
}

// One voice's samples under its algorithm, working on the voice's own operators.
template <int Algorithm>
struct VoiceKernel {
    explicit VoiceKernel(FmVoice& v)
        : voice(v),
          op1(v.operators_[0]),
          op2(v.operators_[1]),
          op3(v.operators_[2]),
          op4(v.operators_[3]),
          h1(v.history1_),
          h2(v.history2_),
          shift(v.feedbackShift_),
          leftGain(v.leftGain_),
          rightGain(v.rightGain_) {}

    void finish() {
        voice.history1_ = h1;
        voice.history2_ = h2;
    }

    // The voice output y: up to three operator outputs, unclamped.
    [[gnu::always_inline]] std::int32_t next() {
        const std::int32_t feedback = shift ? ((h1 + h2) >> shift) >> 1 : 0;
        const std::int32_t o1 = op1.tick(feedback);
        h2 = h1;
        h1 = o1;
        if constexpr (Algorithm == 0) {
            return op2.tick(o1);
        } else if constexpr (Algorithm == 1) {
            return o1 + op2.tick(0);
        } else if constexpr (Algorithm == 4) {
            return op4.tick(op3.tick(op2.tick(o1)));
        } else if constexpr (Algorithm == 5) {
            const std::int32_t y = op2.tick(o1);
            return y + op4.tick(op3.tick(0));
        } else if constexpr (Algorithm == 6) {
            return o1 + op4.tick(op3.tick(op2.tick(0)));
        } else {
            const std::int32_t o3 = op3.tick(op2.tick(0));
            return o1 + o3 + op4.tick(0);
        }
    }

    [[gnu::always_inline]] void mix(std::int32_t& left, std::int32_t& right, std::int32_t y) const {
        left += scaledByGain(y, leftGain);
        right += scaledByGain(y, rightGain);
    }

    FmVoice& voice;
    FmOperator &op1, &op2, &op3, &op4;
    std::int32_t h1, h2;
    const std::uint8_t shift;
    const std::uint16_t leftGain, rightGain;
};

namespace {

using BlockRenderer = void (*)(FmVoice&, FmVoice&, std::int32_t*, std::int32_t*, std::uint32_t);

// Two voices in one loop: their serial chains (envelope, feedback) overlap in the processor.
template <int A, int B>
void renderTwo(FmVoice& a, FmVoice& b, std::int32_t* __restrict left, std::int32_t* __restrict right,
               std::uint32_t frames) {
    VoiceKernel<A> ka(a);
    VoiceKernel<B> kb(b);
    for (std::uint32_t s = 0; s < frames; ++s) {
        const std::int32_t ya = ka.next();
        const std::int32_t yb = kb.next();
        ka.mix(left[s], right[s], ya);
        kb.mix(left[s], right[s], yb);
    }
    ka.finish();
    kb.finish();
}

template <int A>
void renderOne(FmVoice& a, FmVoice&, std::int32_t* __restrict left, std::int32_t* __restrict right,
               std::uint32_t frames) {
    VoiceKernel<A> ka(a);
    for (std::uint32_t s = 0; s < frames; ++s) ka.mix(left[s], right[s], ka.next());
    ka.finish();
}

constexpr int kAlgorithms[] = {0, 1, 4, 5, 6, 7};

int algorithmSlot(std::uint8_t algorithm) {
    return algorithm < 2 ? algorithm : algorithm - 2;
}

template <int A, std::size_t... I>
constexpr std::array<BlockRenderer, 6> pairRow(std::index_sequence<I...>) {
    return {&renderTwo<A, kAlgorithms[I]>...};
}

template <std::size_t... I>
constexpr std::array<std::array<BlockRenderer, 6>, 6> pairTable(std::index_sequence<I...>) {
    return {pairRow<kAlgorithms[I]>(std::make_index_sequence<6>())...};
}

constexpr auto kPairRenderers = pairTable(std::make_index_sequence<6>());
constexpr std::array<BlockRenderer, 6> kSingleRenderers{&renderOne<0>, &renderOne<1>, &renderOne<4>,
                                                        &renderOne<5>, &renderOne<6>, &renderOne<7>};

}  // namespace

void FmVoice::renderSounding(std::int32_t* left, std::int32_t* right, std::uint32_t frames) {
    kSingleRenderers[algorithmSlot(algorithm_)](*this, *this, left, right, frames);
}

void FmVoice::renderTogether(FmVoice& a, FmVoice& b, std::int32_t* left, std::int32_t* right, std::uint32_t frames) {
    kPairRenderers[algorithmSlot(a.algorithm_)][algorithmSlot(b.algorithm_)](a, b, left, right, frames);
}

}  // namespace mevo
