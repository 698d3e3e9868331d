// The WAVE path of the add flow on any bytes: RIFF check, ADPCM encoding, cutting to size, then
// the rate and volume dialogs' rebuild and the database the installation would write, read back.
// The first byte picks the dialog's rate and volume; the rest is the file.
#include <array>
#include <cstdint>
#include <vector>

#include "audio/File.h"
#include "audio/ResultCode.h"
#include "fuzz/DatabaseCheck.h"
#include "palm/AudioRow.h"
#include "palm/WaveAdjustment.h"

using namespace tonaro;

namespace {

constexpr std::array<uint32_t, 5> kRates = {44100, 22050, 11025, 8000, 16000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t choice = data[0];
    CMemoryFile file(std::vector<uint8_t>(data + 1, data + size));
    CAudioRow row;
    if (row.LoadWave(file, "fuzz.wav") != kResultOk) return 0;
    fuzzinput::CheckDatabase(row);

    // -13..+13 dB reaches both refused ends of the dialog's range.
    const int volumeDb = int(choice >> 3) % 27 - 13;
    if (AdjustWaveRow(row, kRates[(choice & 7) % kRates.size()], volumeDb) == kResultOk) fuzzinput::CheckDatabase(row);
    return 0;
}
