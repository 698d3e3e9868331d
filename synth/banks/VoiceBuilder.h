#pragma once

#include "synth/banks/BuiltInBanks.h"

#include <cstddef>
#include <initializer_list>

namespace mevo::banks {

// One operator as a bank row writes it. Flags: h sustain hold, s slow release, k key scale
// rate, v vibrato, t tremolo (1.3 dB), T deep tremolo (5.8 dB).
struct Op {
    int mult; // multiple code 0..15
    int tl;   // total level, 0.75 dB steps of attenuation
    int ar, dr, sl, rr;
    int ksl;  // key scale level code 0..3
    int wave; // waveform 0..7
    const char* flags = "";
};

constexpr bool hasFlag(const char* flags, char f)
{
    for (; *flags != '\0'; ++flags) {
        if (*flags == f) {
            return true;
        }
    }
    return false;
}

constexpr std::uint8_t u8(int v) { return static_cast<std::uint8_t>(v); }

constexpr OperatorParams makeOperator(const Op& o)
{
    OperatorParams p;
    p.multiple = u8(o.mult);
    p.vibrato = hasFlag(o.flags, 'v');
    p.sustainHold = hasFlag(o.flags, 'h');
    p.slowRelease = hasFlag(o.flags, 's');
    p.keyScaleRate = hasFlag(o.flags, 'k');
    p.releaseRate = u8(o.rr);
    p.decayRate = u8(o.dr);
    p.attackRate = u8(o.ar);
    p.sustainLevel = u8(o.sl);
    p.totalLevel = u8(o.tl);
    p.keyScaleLevel = u8(o.ksl);
    p.tremolo = hasFlag(o.flags, 't') || hasFlag(o.flags, 'T');
    p.tremoloDepth = hasFlag(o.flags, 'T') ? 2 : 0;
    p.waveform = u8(o.wave);
    return p;
}

// Octave code 1 plays at the written pitch.
constexpr VoiceRecord makeVoice(int alg, int fb, int lfo, std::initializer_list<Op> ops, int drumKey = 0)
{
    VoiceRecord v;
    v.operatorCount = operatorCountFor(static_cast<unsigned>(alg));
    v.octave = 1;
    v.lfoRate = u8(lfo);
    v.feedback = u8(fb);
    v.algorithm = u8(alg);
    int i = 0;
    for (const Op& op : ops) {
        v.operators[static_cast<std::size_t>(i++)] = makeOperator(op);
    }
    v.drumKey = u8(drumKey);
    return v;
}

// Two operators: op1 (feedback) and op2; algorithm 0 chains them, 1 adds them.
constexpr NamedVoice fm2(const char* name, int alg, int fb, Op op1, Op op2, int lfo = 0)
{
    return {name, makeVoice(alg, fb, lfo, {op1, op2})};
}

// Four operators, algorithms 4..7.
constexpr NamedVoice fm4(const char* name, int alg, int fb, Op op1, Op op2, Op op3, Op op4, int lfo = 0)
{
    return {name, makeVoice(alg, fb, lfo, {op1, op2, op3, op4})};
}

// A two-operator drum sounding at the fixed pitch `pitchKey`.
constexpr NamedVoice drum(const char* name, int pitchKey, int alg, int fb, Op op1, Op op2, int lfo = 0)
{
    return {name, makeVoice(alg, fb, lfo, {op1, op2}, pitchKey)};
}

} // namespace mevo::banks
