#include "synth/VoiceFileReader.h"

#include "synth/VoiceTable.h"

#include <algorithm>
#include <array>

namespace mevo {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic{'F', 'M', ' ', ' '};
constexpr std::size_t kMelodicOffset = 33131;
constexpr std::size_t kDrumOffset = 66411;
constexpr std::size_t kDrumBankStride = 2054; // 78 voices and 26 unused bytes
constexpr int kFileBanks = 10;
constexpr int kDrumVoices = 78;
constexpr int kFirstFileDrumKey = 13;

static_assert(kDrumOffset + (kFileBanks - 1) * kDrumBankStride + kDrumVoices * kFileVoiceSize <=
              kVoiceFileSize, "every drum voice lies inside the file; only the last padding is cut");

void storeVoice(std::span<const std::uint8_t> image, std::size_t offset, VoiceRecord* target)
{
    *target = unpackFileVoice(image.subspan(offset).first<kFileVoiceSize>());
}

} // namespace

VoiceRecord unpackFileVoice(std::span<const std::uint8_t, kFileVoiceSize> bytes)
{
    VoiceRecord v;
    v.lfoRate = bytes[0] >> 6;
    v.feedback = (bytes[0] >> 3) & 7;
    v.algorithm = bytes[0] & 3; // bit 2 is not part of the field here
    v.octave = bytes[1] & 3;
    v.operatorCount = operatorCountFor(v.algorithm);
    // Four operators are always stored; only the two that a two-operator algorithm uses are kept.
    for (std::size_t i = 0; i < 2; ++i) {
        v.operators[i] = unpackOperator(bytes.subspan(2 + i * kPackedOperatorSize).first<kPackedOperatorSize>());
    }
    v.drumKey = bytes[22] & 0x7F;
    return v;
}

bool readVoiceFile(std::span<const std::uint8_t> image, VoiceTable& table)
{
    if (image.size() != kVoiceFileSize) {
        return false;
    }
    if (std::equal(kMagic.begin(), kMagic.end(), image.begin())) {
        for (int bank = 0; bank < kFileBanks; ++bank) {
            for (int voice = 0; voice < kVoicesPerBank; ++voice) {
                const std::size_t at =
                    kMelodicOffset + (static_cast<std::size_t>(bank) * kVoicesPerBank + voice) * kFileVoiceSize;
                storeVoice(image, at, table.find(bank, voice));
            }
            for (int voice = 0; voice < kDrumVoices; ++voice) {
                const std::size_t at = kDrumOffset + bank * kDrumBankStride + voice * kFileVoiceSize;
                storeVoice(image, at, table.find(kFirstDrumBank + bank, kFirstFileDrumKey + voice));
            }
        }
    }
    table.refreshUserBanks();
    return true;
}

} // namespace mevo
