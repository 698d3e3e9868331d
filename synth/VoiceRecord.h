#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace mevo {

constexpr int kBankCount = 40;
constexpr int kVoicesPerBank = 128;

// Bank roles: melodic 0..9, drums 10..19, user melodic 20..29, user drums 30..39.
constexpr int kFirstDrumBank = 10;
constexpr int kUserMelodicBank = 20;
constexpr int kUserDrumBank = 30;

// One operator, unpacked: one byte a field, in the order the packed form lists them.
struct OperatorParams {
    std::uint8_t multiple = 0;      // 0..15, frequency multiple code (0 = one half)
    std::uint8_t vibrato = 0;       // 0/1
    std::uint8_t sustainHold = 0;   // 0/1: no decay while held
    std::uint8_t slowRelease = 0;   // 0/1: release at rate 4
    std::uint8_t keyScaleRate = 0;  // 0/1
    std::uint8_t releaseRate = 0;   // 0..15
    std::uint8_t decayRate = 0;     // 0..15
    std::uint8_t attackRate = 0;    // 0..15
    std::uint8_t sustainLevel = 0;  // 0..15, 3 dB steps
    std::uint8_t totalLevel = 0;    // 0..63, 0.75 dB steps of attenuation
    std::uint8_t keyScaleLevel = 0; // 0..3, code as stored (not yet mapped)
    std::uint8_t unusedBits = 0;    // 0..3, carried but never used
    std::uint8_t tremoloDepth = 0;  // 0..3
    std::uint8_t tremolo = 0;       // 0/1
    std::uint8_t waveform = 0;      // 0..7

    friend constexpr bool operator==(const OperatorParams&, const OperatorParams&) = default;
};
static_assert(sizeof(OperatorParams) == 15);

// One voice as the engine uses it; 72 bytes, layout fixed.
struct VoiceRecord {
    std::uint32_t waveId = 0;       // wave sample id 1..255 for wave drums, 0 = none
    std::uint8_t operatorCount = 0; // 2, 4, or 0 = empty entry
    std::uint8_t octave = 0;        // 0..3: octave shift +1, 0, -1, -2
    std::uint8_t lfoRate = 0;       // 0..3 from the packed forms
    std::uint8_t feedback = 0;      // 0..7
    std::uint8_t algorithm = 0;     // 0, 1 (two operators), 4..7 (four operators)
    std::array<OperatorParams, 4> operators{};
    std::uint8_t drumKey = 0;       // 0..127, pitch key of an FM drum voice
    std::array<std::uint8_t, 2> unused{};

    friend constexpr bool operator==(const VoiceRecord&, const VoiceRecord&) = default;
};
static_assert(sizeof(VoiceRecord) == 72);
static_assert(offsetof(VoiceRecord, operatorCount) == 4);
static_assert(offsetof(VoiceRecord, operators) == 9);
static_assert(offsetof(VoiceRecord, drumKey) == 69);

constexpr std::size_t kPackedOperatorSize = 5;
using PackedOperator = std::array<std::uint8_t, kPackedOperatorSize>;

// Operators an algorithm connects; 0 for the algorithms the engine does not render.
constexpr std::uint8_t operatorCountFor(unsigned algorithm)
{
    constexpr std::array<std::uint8_t, 8> counts{2, 2, 0, 0, 4, 4, 4, 4};
    return algorithm < counts.size() ? counts[algorithm] : 0;
}

constexpr OperatorParams unpackOperator(std::span<const std::uint8_t, kPackedOperatorSize> b)
{
    OperatorParams op;
    op.multiple = b[0] >> 4;
    op.vibrato = (b[0] >> 3) & 1;
    op.sustainHold = (b[0] >> 2) & 1;
    op.slowRelease = (b[0] >> 1) & 1;
    op.keyScaleRate = b[0] & 1;
    op.releaseRate = b[1] >> 4;
    op.decayRate = b[1] & 0x0F;
    op.attackRate = b[2] >> 4;
    op.sustainLevel = b[2] & 0x0F;
    op.totalLevel = b[3] >> 2;
    op.keyScaleLevel = b[3] & 3;
    op.unusedBits = b[4] >> 6;
    op.tremoloDepth = (b[4] >> 4) & 3;
    op.tremolo = (b[4] >> 3) & 1;
    op.waveform = b[4] & 7;
    return op;
}

// Fields are masked to their widths, so out-of-range values never spill into neighbours.
constexpr PackedOperator packOperator(const OperatorParams& op)
{
    auto u8 = [](unsigned v) { return static_cast<std::uint8_t>(v); };
    return {
        u8((op.multiple & 15u) << 4 | (op.vibrato & 1u) << 3 | (op.sustainHold & 1u) << 2 |
           (op.slowRelease & 1u) << 1 | (op.keyScaleRate & 1u)),
        u8((op.releaseRate & 15u) << 4 | (op.decayRate & 15u)),
        u8((op.attackRate & 15u) << 4 | (op.sustainLevel & 15u)),
        u8((op.totalLevel & 63u) << 2 | (op.keyScaleLevel & 3u)),
        u8((op.unusedBits & 3u) << 6 | (op.tremoloDepth & 3u) << 4 | (op.tremolo & 1u) << 3 |
           (op.waveform & 7u)),
    };
}

} // namespace mevo
