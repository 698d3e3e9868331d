#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "synth/ChannelState.h"
#include "synth/FmVoiceEngine.h"
#include "synth/VoiceTable.h"
#include "synth/WaveVoiceEngine.h"

namespace mevo {

// Attenuation indices (0.5 dB steps, 192 = silence) of the two sides.
struct Attenuation {
    unsigned left = 0;
    unsigned right = 0;
};

// Block and 10-bit F-number of an FM pitch.
struct FmPitch {
    unsigned block = 0;  // 0..8; the voice's octave shift brings it into 0..7
    unsigned fnumber = 0;
};

// Pitch of `key` bent by `bend` (signed 14-bit times 4) over `bendRange` semitones.
FmPitch pitchFor(unsigned key, int bend, unsigned bendRange);

// Turns MIDI channel and system-exclusive messages into sound: 16 channels, 16 FM voice slots
// under a budget of 32 operators, one wave voice for drum samples, and the mix.
class SynthEngine {
public:
    static constexpr std::uint8_t kNoSlot = 0xFF;
    static constexpr unsigned kOperatorBudget = 32;

    // Built-in banks only; loadVoiceFiles() adds the voice files where found.
    SynthEngine();
    ~SynthEngine();
    SynthEngine(const SynthEngine&) = delete;
    SynthEngine& operator=(const SynthEngine&) = delete;

    void loadVoiceFiles();

    // One message of `length` bytes; nothing past `length` is read.
    void dispatch(const std::uint8_t* message, std::size_t length);
    void dispatch(std::span<const std::uint8_t> message) { dispatch(message.data(), message.size()); }
    // Writes `frames` stereo frames (left first), each sample within -32767..32767.
    void render(std::int16_t* out, std::uint32_t frames);

    void startRealtime();
    void stopRealtime();

    VoiceTable& voices() { return voices_; }
    WaveVoiceEngine& waves() { return waves_; }
    const FmVoiceEngine& fm() const { return fm_; }
    const ChannelState& channel(unsigned index) const { return channels_[index]; }
    const VoiceSlot& slot(unsigned index) const { return slots_[index]; }
    std::uint32_t eventCounter() const { return eventCounter_; }
    int masterAttenuation() const { return masterAttenuation_; }
    std::uint8_t stereo() const { return stereo_; }
    std::uint8_t operatorsInUse() const { return operatorsInUse_; }
    std::uint8_t previousOperatorsInUse() const { return previousOperatorsInUse_; }
    std::uint8_t allocationMode() const { return allocationMode_; }

    Attenuation attenuation(unsigned pan, unsigned volume, unsigned expression, unsigned velocity) const;

private:
    struct WaveDownload {
        std::uint8_t keyOrId = 0;
        std::uint8_t explicitId = 0;
        std::uint8_t bank = 0;
        std::uint8_t flags = 0;
    };

    void headerReset();
    void resetChannels();

    void noteOn(unsigned ch, std::uint8_t key, std::uint8_t velocity);
    void monoNoteOn(unsigned ch, std::uint8_t key, std::uint8_t velocity);
    void polyNoteOn(unsigned ch, std::uint8_t key, std::uint8_t velocity);
    void noteOff(unsigned ch, std::uint8_t key);
    void controller(unsigned ch, std::uint8_t number, std::uint8_t value);
    void programChange(unsigned ch, std::uint8_t program);
    void pitchBend(unsigned ch, std::uint8_t lsb, std::uint8_t msb);
    void resolveBank(unsigned ch);
    void releaseChannel(unsigned ch);
    void refreshChannelGains(unsigned ch);

    const VoiceRecord* lookup(const ChannelState& c, unsigned key);
    void addNote(ChannelState& c, const NoteNode& node);
    std::uint8_t allocateWithoutStealing(unsigned ops) const;
    std::uint8_t allocateWithStealing(unsigned ops);
    bool fourOperatorRefused(unsigned ops) const;
    std::uint8_t freeSlotWithOldestStamp() const;
    void releaseSlotOwner(std::uint8_t slot);
    void freeSlot(std::uint8_t slot);
    void fillSlot(std::uint8_t slot, unsigned ch, const VoiceRecord& voice, unsigned ops, std::uint8_t velocity,
                  std::uint8_t pitchKey);
    void applyGain(std::uint8_t slot);
    void applyPitch(std::uint8_t slot);
    void setWaveGain(const ChannelState& c, std::uint8_t velocity);

    void systemMessage(const std::uint8_t* message, std::size_t length);
    void engineCommand(std::uint8_t command, std::span<const std::uint8_t> data);
    void registerControl(std::span<const std::uint8_t> data);
    void waveDownload(std::span<const std::uint8_t> data);
    void installDownloadedWave(const WaveDownload& download, std::span<const std::uint8_t> adpcm);
    void deleteDownloadedWave(std::uint8_t idOrKey, std::uint8_t explicitId, std::uint8_t bank);
    std::uint32_t keptWaveId(std::uint8_t bank, std::uint8_t key);
    void universalReset();

    VoiceTable voices_;
    FmVoiceEngine fm_;
    WaveVoiceEngine waves_;
    std::array<ChannelState, kChannelCount> channels_{};
    std::array<VoiceSlot, kVoiceCount> slots_{};

    std::uint32_t eventCounter_ = 0;
    std::int16_t masterAttenuation_ = -24;  // 0.5 dB steps, subtracted from the volume attenuation
    std::uint8_t stereo_ = 1;
    std::uint8_t operatorsInUse_ = 0;
    std::uint8_t allocationMode_ = 0;
    std::uint8_t previousOperatorsInUse_ = 0;

    WaveDownload download_;
    std::vector<std::uint8_t> staging_;  // packed ADPCM of a wave download in progress
};

}  // namespace mevo
