#pragma once

#include <array>
#include <cstdint>

#include "synth/FmVoice.h"
#include "synth/FmVoiceLanes.h"

namespace mevo {

constexpr int kVoiceCount = 16;

// The 16 FM voices, one per voice slot of the synthesizer engine. Calls for an index above 15
// are ignored.
class FmVoiceEngine {
public:
    void loadVoice(unsigned index, const VoiceRecord& voice);
    void setGain(unsigned index, unsigned leftIndex, unsigned rightIndex);
    void setPitch(unsigned index, unsigned block, unsigned fnumber);
    void setFnumberLow(unsigned index, std::uint8_t value);
    void setBlockAndFnumberHigh(unsigned index, std::uint8_t value);
    void setModulationDepth(unsigned index, std::uint8_t depth);
    void keyOn(unsigned index);
    void keyOff(unsigned index);
    void clearAll();
    // Every voice as at construction.
    void reset();

    // Applies pending changes, renders every voice and writes `frames` stereo frames (left
    // first), each sample clamped to -32767..32767.
    void render(std::int16_t* out, std::uint32_t frames);

    const FmVoice& voice(unsigned index) const { return voices_[index]; }
    // Two-operator voices render in vector lanes where the processor has them, the widest it
    // has unless `wide` is false; the scalar kernels give the same output.
    void useLanes(bool on, bool wide = true) {
        lanes_ = on && FmVoiceLanes::available();
        laneRenderer_.useWide(wide);
        laneRenderer_.invalidate();
    }

private:
    // Every change goes through here: a dormant voice catches up first and is rendered again.
    template <typename F>
    void with(unsigned index, F&& f) {
        if (index >= voices_.size()) return;
        voices_[index].wake(clock_);
        f(voices_[index]);
        awake_ |= 1u << index;
    }

    const FmTables& tables_ = fmTables();
    std::array<FmVoice, kVoiceCount> voices_{};
    std::uint64_t clock_ = 0;  // frames rendered
    static constexpr std::uint32_t kAllVoices = (1u << kVoiceCount) - 1;
    std::uint32_t awake_ = kAllVoices;  // voices that may need work in a render call
    bool lanes_ = FmVoiceLanes::available();
    FmVoiceLanes laneRenderer_;
};

}  // namespace mevo
