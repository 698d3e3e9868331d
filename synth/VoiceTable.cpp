#include "synth/VoiceTable.h"

#include "synth/VoiceDefinition.h"
#include "synth/VoiceFileLocator.h"
#include "synth/VoiceFileReader.h"
#include "synth/WaveBankReader.h"
#include "synth/banks/BuiltInBanks.h"

#include <algorithm>
#include <utility>

namespace mevo {
namespace {

// A wave bank holds at most 255 drum samples; anything far larger is not one.
constexpr std::size_t kMaxWaveBankSize = 64u << 20;

void copyBuiltIn(const banks::Bank& bank, std::span<VoiceRecord> target)
{
    std::transform(bank.begin(), bank.end(), target.begin(), [](const banks::NamedVoice& v) { return v.voice; });
}

} // namespace

VoiceTable::VoiceTable() : records_(static_cast<std::size_t>(kBankCount) * kVoicesPerBank) {}

void VoiceTable::loadAtStartUp(WaveRegistry& waves)
{
    const auto folders = voiceFileFolders();
    if (auto path = locateVoiceFile(kVoiceFileName, folders)) {
        loadVoiceFile(*path);
    }
    if (auto path = locateVoiceFile(kWaveBankFileName, folders)) {
        loadWaveBank(*path, waves);
    }
}

void VoiceTable::loadBuiltInBanks()
{
    std::fill(records_.begin(), records_.end(), VoiceRecord{});
    const std::span<VoiceRecord> all(records_);
    copyBuiltIn(banks::twoOperatorMelodic(), all.subspan(0 * kVoicesPerBank, kVoicesPerBank));
    copyBuiltIn(banks::fourOperatorMelodic(), all.subspan(1 * kVoicesPerBank, kVoicesPerBank));
    copyBuiltIn(banks::drumKit(), all.subspan(kFirstDrumBank * kVoicesPerBank, kVoicesPerBank));
    refreshUserBanks();
}

bool VoiceTable::loadVoiceFile(const std::filesystem::path& path)
{
    const auto image = readWholeFile(path, kVoiceFileSize);
    return image && readVoiceFile(*image, *this);
}

bool VoiceTable::loadWaveBank(const std::filesystem::path& path, WaveRegistry& waves)
{
    const auto image = readWholeFile(path, kMaxWaveBankSize);
    return image && readWaveBank(*image, *this, waves);
}

bool VoiceTable::storeVoiceDefinition(std::span<const std::uint8_t> definition)
{
    const auto def = parseVoiceDefinition(definition);
    if (!def) {
        return false;
    }
    *find(def->bank, def->index) = def->voice;
    return true;
}

const VoiceRecord* VoiceTable::find(int bank, int index) const
{
    if (bank < 0 || bank >= kBankCount || index < 0 || index >= kVoicesPerBank) {
        return nullptr;
    }
    return &records_[static_cast<std::size_t>(bank) * kVoicesPerBank + static_cast<std::size_t>(index)];
}

VoiceRecord* VoiceTable::find(int bank, int index)
{
    return const_cast<VoiceRecord*>(std::as_const(*this).find(bank, index));
}

void VoiceTable::copyBank(int from, int to)
{
    if (from < 0 || from >= kBankCount || to < 0 || to >= kBankCount) {
        return;
    }
    const auto source = records_.begin() + static_cast<std::ptrdiff_t>(from) * kVoicesPerBank;
    std::copy(source, source + kVoicesPerBank, records_.begin() + static_cast<std::ptrdiff_t>(to) * kVoicesPerBank);
}

void VoiceTable::refreshUserBanks()
{
    copyBank(0, kUserMelodicBank);
    copyBank(kFirstDrumBank, kUserDrumBank);
}

} // namespace mevo
