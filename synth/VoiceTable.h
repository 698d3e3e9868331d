#pragma once

#include "synth/VoiceRecord.h"
#include "synth/WaveSample.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace mevo {

// Every voice the engine can play: 40 banks of 128 records. Records never move, so the engine
// may keep pointers to them for the table's lifetime.
class VoiceTable {
public:
    VoiceTable(); // every entry empty

    // The voice files of start-up, after loadBuiltInBanks(): the FM voice file, then the wave
    // bank file, each where voiceFileFolders() first finds it.
    void loadAtStartUp(WaveRegistry& waves);

    // Built-in banks into banks 0, 1 and 10, then refreshes the user banks 20 and 30.
    void loadBuiltInBanks();
    // Returns whether the file was read (opened at its exact size); see VoiceFileReader.
    bool loadVoiceFile(const std::filesystem::path& path);
    // Returns whether wave drums were taken from the file; see WaveBankReader.
    bool loadWaveBank(const std::filesystem::path& path, WaveRegistry& waves);

    // Stores a 30-byte voice definition; shorter ones and banks >= 40 are ignored.
    // Returns whether an entry was written.
    bool storeVoiceDefinition(std::span<const std::uint8_t> definition);

    // nullptr for a bank or index out of range.
    const VoiceRecord* find(int bank, int index) const;
    VoiceRecord* find(int bank, int index);

    void copyBank(int from, int to);
    // Banks 20 and 30 start as copies of banks 0 and 10.
    void refreshUserBanks();

private:
    std::vector<VoiceRecord> records_; // bank-major, kBankCount * kVoicesPerBank
};

} // namespace mevo
