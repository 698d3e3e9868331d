// System-exclusive messages of the synthesizer engine: its own commands and the universal ones.
#include <algorithm>

#include "synth/EngineRegistry.h"
#include "synth/MixTables.h"
#include "synth/SevenBitPacking.h"
#include "synth/SynthEngine.h"
#include "synth/VoiceDefinition.h"

namespace mevo {

namespace {

constexpr std::uint8_t kCommandHeader[] = {0xF0, 0x43, 0x79, 0x05};
constexpr std::uint8_t kCommandDevice = 0x7F;
constexpr std::size_t kCommandDataOffset = 6;
constexpr std::uint8_t kLastCommand = 11;
constexpr std::uint8_t kMoreFollows = 0x40;
// A wave download larger than this is dropped, as if memory had run out.
constexpr std::size_t kMaxStagedBytes = 4 * 1024 * 1024;

bool startsWith(const std::uint8_t* message, std::size_t length, std::span<const std::uint8_t> prefix) {
    return length >= prefix.size() && std::equal(prefix.begin(), prefix.end(), message);
}

}  // namespace

void SynthEngine::systemMessage(const std::uint8_t* message, std::size_t length) {
    if (length > 5 && startsWith(message, length, kCommandHeader)) {
        if (message[4] != kCommandDevice || message[5] > kLastCommand) return;
        // The data runs to the closing F7 (or the message's end when it is missing).
        const std::uint8_t* data = message + kCommandDataOffset;
        const std::uint8_t* end = std::find_if(data, message + length, [](std::uint8_t b) { return b & 0x80; });
        engineCommand(message[5], {data, end});
        return;
    }
    static constexpr std::uint8_t kMasterVolume[] = {0xF0, 0x7F, 0x7F, 0x04, 0x01};
    static constexpr std::uint8_t kSystemOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01};
    if (length >= 8 && startsWith(message, length, kMasterVolume)) {
        masterAttenuation_ = static_cast<std::int16_t>(-int(mixTables().level[message[6] & 0x7F]));
    } else if ((length == 6 || length == 7) && startsWith(message, length, kSystemOn)) {
        universalReset();
    } else if (length < 6 && message[0] == 0xFF) {
        universalReset();
    }
}

void SynthEngine::universalReset() {
    for (unsigned ch = 0; ch < kChannelCount; ++ch) controller(ch, 120, 0);
    waves_.stopAll();
    fm_.clearAll();
    headerReset();
}

void SynthEngine::engineCommand(std::uint8_t command, std::span<const std::uint8_t> data) {
    auto has = [&data](std::size_t n) { return data.size() >= n; };
    switch (command) {
        case 0:
            if (has(2) && data[0] < kChannelCount) channels_[data[0]].mode = data[1];
            break;
        case 1: {
            const auto definition = unpackSevenBit(data, kVoiceDefinitionSize);
            if (voices_.storeVoiceDefinition(definition))
                EngineRegistry::forEachOther(this, [&](SynthEngine& e) { e.voices_.storeVoiceDefinition(definition); });
            break;
        }
        case 3:
            registerControl(data);
            break;
        case 4:
            if (!has(1)) break;
            stereo_ = data[0];
            for (const ChannelState& c : channels_)
                for (const NoteNode& node : c.notes)
                    if (node.slot != kWaveSlot) applyGain(node.slot);
            break;
        case 5:
            waveDownload(data);
            break;
        case 6:
            if (!has(3)) break;
            deleteDownloadedWave(data[0], data[1], data[2]);
            EngineRegistry::forEachOther(this,
                                         [&](SynthEngine& e) { e.deleteDownloadedWave(data[0], data[1], data[2]); });
            break;
        case 7:
            if (has(4)) waves_.startOrNest(data[2] ? data[1] : keptWaveId(data[3], data[1]));
            break;
        case 8:
            waves_.stopWave();
            break;
        case 9:
            if (has(2)) waves_.setGain(attenuation(127, 127, 127, data[1]).right);
            break;
        case 10:
            if (has(1)) masterAttenuation_ = static_cast<std::int16_t>(data[0] - 64);
            break;
        case 11:
            if (has(1)) allocationMode_ = data[0];
            break;
        default:
            break;  // command 2 does nothing
    }
}

// Direct F-number, block and key control of one FM voice.
void SynthEngine::registerControl(std::span<const std::uint8_t> data) {
    const auto bytes = unpackSevenBit(data, 2);
    if (bytes.size() < 2) return;
    const std::uint8_t status = bytes[0];
    const std::uint8_t value = bytes[1];
    const unsigned slot = status & 0x0F;
    if ((status & 0xF0) == 0xB0) {
        fm_.setFnumberLow(slot, value);
        return;
    }
    if ((status & 0xF0) != 0xC0) return;
    fm_.setBlockAndFnumberHigh(slot, value);
    ChannelState& c = channels_[slot];
    const std::uint8_t keyOn = (value & 0x20) ? 1 : 0;
    if (keyOn == c.registerKeyOn) return;
    c.registerKeyOn = keyOn;
    if (!keyOn) {
        fm_.keyOff(slot);
        return;
    }
    const VoiceRecord* voice = lookup(c, 60);
    if (!voice) return;
    fm_.loadVoice(slot, *voice);
    const Attenuation a = attenuation(c.pan, c.volume, c.expression, 127);
    fm_.setGain(slot, a.left, a.right);
    fm_.keyOn(slot);
}

void SynthEngine::waveDownload(std::span<const std::uint8_t> data) {
    if (data.size() < 4) return;
    download_ = {data[0], data[1], data[2], data[3]};
    if (staging_.size() + (data.size() - 4) > kMaxStagedBytes) {
        staging_.clear();
        download_ = {};
        return;
    }
    staging_.insert(staging_.end(), data.begin() + 4, data.end());
    if (download_.flags & kMoreFollows) return;
    const auto adpcm = unpackSevenBit(staging_);
    staging_.clear();
    staging_.shrink_to_fit();
    installDownloadedWave(download_, adpcm);
    const WaveDownload download = download_;
    EngineRegistry::forEachOther(this, [&](SynthEngine& e) { e.installDownloadedWave(download, adpcm); });
}

void SynthEngine::installDownloadedWave(const WaveDownload& download, std::span<const std::uint8_t> adpcm) {
    const std::uint32_t rate = (download.flags & 1) ? 8000 : 4000;
    if (download.explicitId) {
        waves_.registerWave(download.keyOrId, adpcm, rate);
        return;
    }
    VoiceRecord* drum = voices_.find(kFirstDrumBank + download.bank, download.keyOrId);
    if (!drum) return;  // drum bank beyond bank 39
    if (const std::uint32_t id = waves_.registerWave(0, adpcm, rate)) drum->waveId = id;
}

void SynthEngine::deleteDownloadedWave(std::uint8_t idOrKey, std::uint8_t explicitId, std::uint8_t bank) {
    if (explicitId) {
        waves_.deleteWave(idOrKey);
        return;
    }
    VoiceRecord* drum = voices_.find(kFirstDrumBank + bank, idOrKey);
    // A drum voice without a sample deletes nothing (id 0 would mean every sample).
    if (!drum || drum->waveId == 0) return;
    waves_.deleteWave(drum->waveId);
    drum->waveId = 0;
}

std::uint32_t SynthEngine::keptWaveId(std::uint8_t bank, std::uint8_t key) {
    const VoiceRecord* drum = voices_.find(kFirstDrumBank + bank, key);
    return drum ? drum->waveId : 0;
}

}  // namespace mevo
