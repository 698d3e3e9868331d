#include "synth/ScoreVoiceSetup.h"

#include <algorithm>

namespace mevo {
namespace {

constexpr std::uint8_t kMakerId = 0x43;
constexpr std::uint8_t kCompactKind = 2;
constexpr std::uint8_t kDefinitionKind = 3;
constexpr std::size_t kDefinitionSize = 30;
constexpr std::uint8_t kUserMelodicBankByte = 20;
constexpr std::uint8_t kUserDrumBankByte = 30;

// Compact rate codes to engine rates 0..15.
constexpr std::array<std::uint8_t, 16> kAttackReleaseRates{1, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15};
constexpr std::array<std::uint8_t, 16> kDecayRates{0, 0, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14};

std::array<std::uint8_t, 5> packedOperator(std::span<const std::uint8_t, 4> o, std::uint8_t waveNibble)
{
    const std::uint8_t attack = kAttackReleaseRates[o[1] >> 4];
    const std::uint8_t decay = kDecayRates[o[1] & 0x0F];
    const std::uint8_t release = kAttackReleaseRates[o[2] & 0x0F];
    const std::uint8_t sustainLevel = o[2] >> 4;
    // waveNibble: bit 3 tremolo, bits 2..0 waveform, as packed byte 4 keeps them.
    return {o[0], static_cast<std::uint8_t>(release << 4 | decay),
            static_cast<std::uint8_t>(attack << 4 | sustainLevel), o[3],
            static_cast<std::uint8_t>(waveNibble & 0x0F)};
}

} // namespace

std::array<std::uint8_t, 30> compactVoiceToDefinition(std::span<const std::uint8_t, kCompactVoiceSize> c)
{
    std::array<std::uint8_t, 30> def{};
    def[1] = static_cast<std::uint8_t>(kUserMelodicBankByte + (c[0] & 0x0F));
    def[2] = c[1] & 0x7F;
    def[3] = static_cast<std::uint8_t>((c[2] & 0xF8) | (c[2] & 1)); // LFO, feedback, algorithm
    def[4] = (c[2] >> 1) & 3;
    const auto op1 = packedOperator(c.subspan<4, 4>(), c[3] >> 4);
    const auto op2 = packedOperator(c.subspan<8, 4>(), c[3] & 0x0F);
    std::ranges::copy(op1, def.begin() + 5);
    std::ranges::copy(op2, def.begin() + 10);
    return def;
}

void applyVoiceSetup(std::span<const std::uint8_t> body, ScoreTarget& target)
{
    if (body.size() < 3 || body[0] != kMakerId) {
        return;
    }
    const std::uint8_t kind = body[1];
    const std::uint8_t bank = body[2];
    if (kind == kCompactKind && bank <= 15 && body.size() >= 2 + kCompactVoiceSize) {
        const auto def = compactVoiceToDefinition(body.subspan<2, kCompactVoiceSize>());
        target.storeVoiceDefinition(def);
    } else if (kind == kDefinitionKind && (bank < 16 || (bank & 0x80) != 0) &&
               (bank & 0x7F) < 16 && body.size() >= 1 + kDefinitionSize) {
        std::array<std::uint8_t, kDefinitionSize> def{};
        std::ranges::copy(body.subspan(1, kDefinitionSize), def.begin());
        // Drum numbers 10..15 name banks past 39, which storing the definition refuses.
        def[1] = (bank & 0x80) ? static_cast<std::uint8_t>(kUserDrumBankByte + (bank & 0x7F))
                               : static_cast<std::uint8_t>(kUserMelodicBankByte + bank);
        target.storeVoiceDefinition(def);
    }
}

void applySetUpData(std::span<const std::uint8_t> data, ScoreTarget& target)
{
    std::size_t pos = 0;
    while (pos < data.size()) {
        if (data[pos] != 0xFF || pos + 1 >= data.size()) {
            pos += 1;
        } else if (data[pos + 1] != 0xF0) {
            pos += 2;
        } else {
            if (pos + 2 >= data.size() || data[pos + 2] > data.size() - pos - 3) {
                return;
            }
            applyVoiceSetup(data.subspan(pos + 3, data[pos + 2]), target);
            pos += 3 + data[pos + 2];
        }
    }
}

} // namespace mevo
