#include "preview/WaveOutDecoder.h"

#include "audio/Endian.h"

namespace tonaro {

void CWaveOutDecoder::Decode(const uint8_t* data, size_t size, std::vector<int16_t>& out) const {
    if (format_.wave.formatTag == kWaveFormatImaAdpcm) {
        out.resize(adpcm_.SampleCount(size));
        adpcm_.Decode(data, size, out.data());
        return;
    }
    const size_t frameBytes = format_.wave.blockAlign;
    const size_t samples = frameBytes ? size / frameBytes * frameBytes / 2 : 0;
    out.resize(samples);
    for (size_t i = 0; i < samples; ++i) out[i] = int16_t(GetLe16(data + 2 * i));
}

}  // namespace tonaro
