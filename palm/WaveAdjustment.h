#pragma once

#include <cstdint>

#include "palm/AudioRow.h"

namespace tonaro {

// Rebuilds a WAVE row's ADPCM data from its loaded PCM, as the sampling-rate and volume dialogs
// do: on a working copy, TakePcm, ConvertPcm to `rate` (16 bits, channels kept) when `rate` is
// below the file rate, ApplyGain(volumeDb), EncodeAdpcm, a cleared shortened flag and FitToSize
// when the database would exceed 64000 bytes; then the row's item takes the output and the row
// updates its converted size and play time. A rate at or above the file rate encodes at the file
// rate. Returns 0, 1 (not a WAVE row, a rate other than 44100/22050/11025/8000, a volume outside
// -12..+12, or a failed conversion or encoding), 3 or 8 (no item); on failure the row is unchanged.
int AdjustWaveRow(CAudioRow& row, uint32_t rate, int volumeDb);

}  // namespace tonaro
