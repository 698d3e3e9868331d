#include "preview/WaveOutFormats.h"

#include "audio/ImaAdpcm.h"

namespace tonaro {

AdpcmWaveFormat PcmPreviewFormat() {
    AdpcmWaveFormat format;
    format.wave = {kWaveFormatPcm, 2, 22050, 88200, 4, 16, 0};
    return format;
}

bool IsPlayableFormat(const AdpcmWaveFormat& format) {
    if (format == PcmPreviewFormat()) return true;
    for (uint32_t rate : kAdpcmPreviewRates) {
        for (uint16_t channels : kAdpcmPreviewChannels) {
            if (format == ImaAdpcmFormat(channels, rate)) return true;
        }
    }
    return false;
}

}  // namespace tonaro
