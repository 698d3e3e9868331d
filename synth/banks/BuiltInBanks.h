#pragma once

#include "synth/VoiceRecord.h"

#include <array>
#include <span>

namespace mevo::banks {

// A built-in voice with the instrument it stands for.
struct NamedVoice {
    const char* name;
    VoiceRecord voice;
};

using Bank = std::array<NamedVoice, kVoicesPerBank>;

const Bank& twoOperatorMelodic();  // bank 0, by program
const Bank& fourOperatorMelodic(); // bank 1, by program
const Bank& drumKit();             // bank 10, by key; FM drums on keys 13..91, others empty

constexpr int kFirstFmDrumKey = 13;
constexpr int kLastFmDrumKey = 91;

} // namespace mevo::banks
