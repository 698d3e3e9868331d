#pragma once

#include <array>
#include <cstdint>

#include "synth/FmOperator.h"
#include "synth/VoiceRecord.h"

namespace mevo {

// One FM voice: 2 or 4 operators joined by a connection algorithm. Changes arrive as pending
// flags and take effect at the start of the next render call; gains take effect at once.
class FmVoice {
public:
    enum Pending : std::uint8_t {
        kNewVoice = 0x01,
        kKeyOn = 0x02,
        kKeyOff = 0x04,
        kPitch = 0x08,
        kModulation = 0x10,
    };

    void load(const VoiceRecord& voice);
    void setGain(unsigned leftIndex, unsigned rightIndex);
    void setPitch(unsigned block, unsigned fnumber);
    void setFnumberLow(std::uint8_t value);
    void setBlockAndFnumberHigh(std::uint8_t value);
    void setModulationDepth(std::uint8_t depth);
    void keyOn();
    void keyOff();
    void clear();

    // Applies pending changes and sets the LFO's effect for the call; once per render call.
    void prepare(const FmTables& tables) {
        if (pending_) applyPending(tables);
        if (operatorCount_ != 0 && !dormant_ && lfoUsed_) applyLfo(tables);
    }
    // Begins a block of `frames` (only for rendered() voices that are not dormant) that ends at
    // frame `end` of the engine's clock: the LFO moves on, and a voice whose operators are all
    // inaudible is advanced without computing its zero output and false is returned (it may go
    // dormant); otherwise the block is rendered by renderSounding or renderTogether.
    bool beginBlock(std::uint32_t frames, std::uint64_t end) {
        lfoPhase_ += frames * kLfoRate[lfoRate_];
        if (!silent()) return true;
        skip(frames);
        if (dormant_) dormantSince_ = end;
        return false;
    }
    // Takes the LFO and envelope steps of the frames passed over while dormant, up to frame
    // `now` of the engine's clock; before any change to a dormant voice.
    void wake(std::uint64_t now) {
        if (dormant_) catchUp(now);
    }
    // Adds a voice that passed beginBlock into the accumulators.
    void renderSounding(std::int32_t* left, std::int32_t* right, std::uint32_t frames);
    // Adds two voices that passed beginBlock into the accumulators, sample by sample.
    static void renderTogether(FmVoice& a, FmVoice& b, std::int32_t* left, std::int32_t* right, std::uint32_t frames);

    bool rendered() const { return operatorCount_ != 0; }
    // Every operator is inaudible and the feedback history is clear: nothing can sound until the
    // next change, and the voice is passed over until wake(). Its phases, which restart at
    // key-on before they are heard, move by the missed frames at the step they had.
    bool dormant() const { return dormant_; }
    std::uint8_t operatorCount() const { return operatorCount_; }
    std::uint8_t algorithm() const { return algorithm_; }
    std::uint8_t block() const { return effectiveBlock_; }
    std::uint16_t fnumber() const { return fnumber_; }
    std::uint8_t keyCode() const { return keyCode_; }
    std::uint32_t basePhaseStep() const { return basePhaseStep_; }
    std::uint16_t leftGain() const { return leftGain_; }
    std::uint16_t rightGain() const { return rightGain_; }
    std::uint32_t lfoPhase() const { return lfoPhase_; }
    const FmOperator& op(int i) const { return operators_[i]; }

private:
    void applyPending(const FmTables& tables);
    void applyVoice();
    void applyKeys();
    void applyPitch();
    void applyModulation();
    // Sets the operators' phase steps and gains for the LFO's present phase.
    void applyLfo(const FmTables& t);
    bool silent() const {
        for (int n = 0; n < operatorCount_; ++n)
            if (!operators_[n].inaudible()) return false;
        return true;
    }
    void skip(std::uint32_t frames);
    void catchUp(std::uint64_t now);
    template <int Algorithm>
    friend struct VoiceKernel;
    friend class FmVoiceLanes;

    std::uint8_t pending_ = 0;
    bool laneStale_ = true;  // changed other than by rendering since FmVoiceLanes loaded it
    bool lfoUsed_ = false;   // an operator has vibrato or tremolo
    bool dormant_ = false;   // see dormant()
    std::uint8_t operatorCount_ = 0;
    std::int8_t octaveShift_ = 0;
    std::uint8_t lfoRate_ = 0;
    std::uint8_t feedback_ = 0;
    std::uint8_t algorithm_ = 0;
    std::uint8_t keyOn_ = 0;
    std::uint8_t block_ = 0;            // as set, before the octave shift
    std::uint8_t effectiveBlock_ = 0;   // 0..7 after the octave shift
    std::uint16_t fnumber_ = 0;         // 10 bits
    std::uint8_t keyCode_ = 0;          // 0..15
    std::uint8_t modulationDepth_ = 0;  // 0..4
    std::uint8_t feedbackShift_ = 0;    // 0 = off
    std::uint64_t dormantSince_ = 0;    // the engine's clock when the voice went dormant
    std::uint32_t lfoPhase_ = 0;        // 12.20
    std::uint32_t basePhaseStep_ = 0;   // 12.20 phase step of multiple 1
    std::uint16_t leftGain_ = 0;        // Q15
    std::uint16_t rightGain_ = 0;       // Q15
    std::int32_t history1_ = 0;         // last output of operator 1
    std::int32_t history2_ = 0;         // the one before
    std::array<FmOperator, 4> operators_{};
};

}  // namespace mevo
