#pragma once

#include <cstdint>
#include <vector>

#include "synth/VoiceRecord.h"

namespace mevo {

constexpr int kChannelCount = 16;
constexpr std::uint8_t kWaveSlot = 0x80;  // a note's slot when it plays on the wave voice

// One sounding note of a channel.
struct NoteNode {
    std::uint8_t key = 0;  // as received
    std::uint8_t velocity = 0;
    std::uint8_t slot = 0;       // FM voice slot, or kWaveSlot
    std::uint8_t holdCount = 0;  // mono mode: keys held
    const VoiceRecord* voice = nullptr;
};

// Controller state and sounding notes of one MIDI channel.
struct ChannelState {
    std::vector<NoteNode> notes;  // oldest first; the newest note is notes.back()
    std::uint8_t program = 0;
    std::uint8_t bankLsb = 0;
    std::uint8_t bankMsb = 0;
    std::uint8_t bank = 0;  // 0..39
    std::uint8_t programOperators = 0;
    std::uint8_t mode = 16;  // 1 = mono, anything else = poly
    std::uint8_t soundingNotes = 0;
    std::uint8_t volume = 127;
    std::uint8_t expression = 127;
    std::uint8_t pan = 64;
    std::int16_t bend = 0;             // signed 14-bit bend times 4
    std::uint8_t bendRange = 2;        // semitones
    std::uint8_t modulationDepth = 0;  // 0..4
    std::uint8_t rpnMsb = 127;
    std::uint8_t rpnLsb = 127;
    std::uint8_t nrpnSelected = 0;
    std::uint8_t registerKeyOn = 0;

    bool mono() const { return mode == 1; }
};

// One of the 16 FM voice slots as the allocator sees it.
struct VoiceSlot {
    std::uint32_t stamp = 0;  // event counter at allocation or release
    const VoiceRecord* voice = nullptr;
    std::uint8_t busy = 0;       // operator count; 0 = free
    std::uint8_t operators = 0;  // operator count kept for release
    std::uint8_t velocity = 0;
    std::uint8_t key = 0;  // the key that sets the pitch
    std::uint8_t channel = 0;
};

}  // namespace mevo
