#include "palm/WaveAdjustment.h"

#include <algorithm>
#include <array>

#include "audio/Gain.h"
#include "audio/WaveItem.h"

namespace tonaro {

namespace {
constexpr std::array<uint32_t, 4> kDialogRates = {44100, 22050, 11025, 8000};
constexpr uint16_t kKeepChannels = 0;
constexpr uint16_t kConvertedBits = 16;
}  // namespace

int AdjustWaveRow(CAudioRow& row, uint32_t rate, int volumeDb) {
    if (row.Class() != AudioClass::Wave) return kResultUnsupported;
    auto* listed = dynamic_cast<CWaveItem*>(row.Item());
    if (!listed) return kResultFailed;
    if (std::find(kDialogRates.begin(), kDialogRates.end(), rate) == kDialogRates.end() || volumeDb < kMinGainDb ||
        volumeDb > kMaxGainDb)
        return kResultUnsupported;

    CWaveItem working;
    working = *listed;
    if (!working.TakePcm(listed)) return kResultFailed;
    if (rate < listed->GetFileRate()) {
        if (const int result = working.ConvertPcm(rate, kKeepChannels, kConvertedBits); result != kResultOk)
            return result;
    }
    working.ApplyGain(volumeDb);
    if (!working.EncodeAdpcm()) return kResultUnsupported;
    working.SetShortened(0);
    if (working.GetRecordSize() + kDatabaseHeaderBytes + kRecordEntryBytes > kMaxDatabaseBytes) {
        if (const int result = working.FitToSize(kFitLimit); result != kResultOk) return result;
    }
    if (!listed->TakeOutput(&working)) return kResultNoMemory;
    row.UpdateConvertedSize();
    row.UpdatePlayTime();
    return kResultOk;
}

}  // namespace tonaro
