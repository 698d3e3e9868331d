#include "synth/VoiceDefinition.h"

namespace mevo {
namespace {

constexpr std::size_t kOperatorOffset = 5;

} // namespace

std::optional<VoiceDefinition> parseVoiceDefinition(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kVoiceDefinitionSize) {
        return std::nullopt;
    }
    // Bit 7 of the bank selector moves the number into the drum banks.
    const int bank = (bytes[1] & 0x7F) + ((bytes[1] & 0x80) ? kFirstDrumBank : 0);
    if (bank >= kBankCount) {
        return std::nullopt;
    }
    VoiceDefinition def;
    def.bank = bank;
    def.index = bytes[2] & 0x7F;
    VoiceRecord& v = def.voice;
    v.lfoRate = bytes[3] >> 6;
    v.feedback = (bytes[3] >> 3) & 7;
    v.algorithm = bytes[3] & 7;
    v.octave = bytes[4] & 3;
    v.operatorCount = operatorCountFor(v.algorithm);
    // Operators 3 and 4 stay zero unless the algorithm uses them.
    const std::size_t used = v.operatorCount == 4 ? 4 : 2;
    for (std::size_t i = 0; i < used; ++i) {
        v.operators[i] = unpackOperator(
            bytes.subspan(kOperatorOffset + i * kPackedOperatorSize).first<kPackedOperatorSize>());
    }
    v.drumKey = bytes[25] & 0x7F;
    return def;
}

} // namespace mevo
