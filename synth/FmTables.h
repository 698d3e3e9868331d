#pragma once

#include <array>
#include <cstdint>

namespace mevo {

constexpr int kTableSize = 4096;  // entries of a waveform, tremolo or vibrato table
constexpr int kWaveformCount = 8;
constexpr int kLfoDepthCount = 4;                  // tremolo and vibrato depths
constexpr int kMaxGainIndex = 192;                 // attenuation index meaning silence
constexpr std::uint32_t kFullLevel = 0x80000000u;  // envelope level at full output

// The fixed-point tables of the FM voices, computed once.
struct FmTables {
    // Signed Q15 samples; the 12-bit index is the top of a 32-bit phase.
    std::array<std::array<std::int16_t, kTableSize>, kWaveformCount> waveform;
    // Q15 gain of total level 0..63 (0.75 dB steps); level 0 is 32512.
    std::array<std::int32_t, 64> totalLevelGain;
    // Envelope level (1.31, full = 2^31) at which decay turns to sustain, sustain level 0..15.
    std::array<std::uint32_t, 16> sustainThreshold;
    // Q15 voice gain for attenuation index 0..192 in 0.5 dB steps; 192 is silence.
    std::array<std::uint16_t, kMaxGainIndex + 1> gainF;
    // Q15 level factor per LFO position for each tremolo depth.
    std::array<std::array<std::int32_t, kTableSize>, kLfoDepthCount> tremolo;
    // Pitch factor (12.20, 2^20 = unchanged) per LFO position for each vibrato depth.
    std::array<std::array<std::uint32_t, kTableSize>, kLfoDepthCount> vibrato;
    // Q15 key scale gain by row (mapped key scale level 0..3) and index block + 8 * (fnumber >> 6).
    std::array<std::array<std::int32_t, 128>, 4> keyScale;
};

const FmTables& fmTables();

// LFO phase step per sample (12.20 phase) for LFO rate 0..7.
inline constexpr std::array<std::uint32_t, 8> kLfoRate{370088, 818089, 1188177, 1402438,
                                                       185044, 409045, 594088,  701219};

// Added to the envelope level (1.31) per attack sample; index rate * 4 + key code, 0..63.
inline constexpr std::array<std::uint32_t, 64> kAttackStep{
    0,          0,          0,          0,         32826,     41032,     49239,     57445,     65652,     82064,
    98478,      114891,     131303,     164130,    196954,    229778,    262603,    328260,    393915,    459568,
    525220,     656498,     787830,     919135,    1050383,   1313085,   1575660,   1838270,   2100767,   2625817,
    3150810,    3676540,    4201534,    5253050,   6303660,   7350306,   8403067,   10506100,  12599165,  14711714,
    16791646,   20989558,   25230971,   29423429,  33583293,  41979116,  50461942,  58669608,  67166585,  83958232,
    100403658,  117339215,  243478872,  304348590, 360709439, 423441516, 486957743, 608697179, 749165759, 811596239,
    2147483648, 2147483648, 2147483648, 2147483648};

// Level factor (2.30, 2^30 = no change) per decay, sustain or release sample; same index.
inline constexpr std::array<std::uint32_t, 64> kDecayFactor{
    1073741824, 1073741824, 1073741824, 1073741824, 1073728867, 1073725628, 1073722388, 1073719149,
    1073715910, 1073709431, 1073702953, 1073696474, 1073689996, 1073677040, 1073664083, 1073651127,
    1073638171, 1073612259, 1073586348, 1073560437, 1073534528, 1073482710, 1073430893, 1073379081,
    1073327271, 1073223656, 1073120053, 1073016461, 1072912873, 1072705739, 1072498656, 1072291607,
    1072084586, 1071670693, 1071256927, 1070843270, 1070429805, 1069603398, 1068777781, 1067952852,
    1067128408, 1065480922, 1063837599, 1062195092, 1060554111, 1057283575, 1054021118, 1050772530,
    1047528369, 1041087506, 1034662610, 1028294590, 1021954868, 1009387821, 997005697,  984844391,
    972665615,  949035294,  925753601,  903306970,  881447189,  881447189,  881447189,  881447189};

}  // namespace mevo
