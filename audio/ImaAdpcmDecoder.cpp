#include "audio/ImaAdpcmDecoder.h"

#include <algorithm>

#include "audio/Endian.h"
#include "audio/ImaAdpcm.h"

namespace tonaro {

CImaAdpcmDecoder::CImaAdpcmDecoder(const AdpcmWaveFormat& format) {
    const uint32_t channels = format.wave.channels;
    const uint32_t headerBytes = kImaHeaderBytesPerChannel * channels;
    const bool usable = format.wave.formatTag == kWaveFormatImaAdpcm && format.wave.bitsPerSample == 4 &&
                        (channels == 1 || channels == 2) && format.wave.blockAlign > headerBytes &&
                        (format.wave.blockAlign - headerBytes) % headerBytes == 0;
    if (!usable) return;
    channels_ = channels;
    blockAlign_ = format.wave.blockAlign;
}

size_t CImaAdpcmDecoder::FramesInBlock(size_t blockBytes) const {
    const size_t headerBytes = kImaHeaderBytesPerChannel * channels_;
    if (blockBytes < headerBytes) return 0;
    return 1 + (blockBytes - headerBytes) / headerBytes * kImaGroupSamples;
}

size_t CImaAdpcmDecoder::SampleCount(size_t size) const {
    if (!blockAlign_) return 0;
    const size_t whole = size / blockAlign_;
    return (whole * FramesInBlock(blockAlign_) + FramesInBlock(size % blockAlign_)) * channels_;
}

void CImaAdpcmDecoder::Decode(const uint8_t* data, size_t size, int16_t* out) const {
    if (!blockAlign_) return;
    for (size_t offset = 0; offset < size; offset += blockAlign_) {
        const size_t frames = FramesInBlock(std::min<size_t>(blockAlign_, size - offset));
        DecodeBlock(data + offset, frames, out);
        out += frames * channels_;
    }
}

void CImaAdpcmDecoder::DecodeBlock(const uint8_t* block, size_t frames, int16_t* out) const {
    if (!frames) return;
    for (uint32_t channel = 0; channel < channels_; ++channel) {
        const uint8_t* header = block + kImaHeaderBytesPerChannel * channel;
        ImaState state{int16_t(GetLe16(header)), std::min<int32_t>(header[2], kImaMaxStepIndex)};
        int16_t* sample = out + channel;
        *sample = int16_t(state.predictor);
        // Groups of this channel follow the headers, one group of every channel in turn.
        const uint8_t* group = block + kImaHeaderBytesPerChannel * channels_ + kImaGroupBytes * channel;
        for (size_t done = 1; done < frames; group += kImaGroupBytes * channels_) {
            for (uint32_t bit = 0; bit < kImaGroupSamples && done < frames; ++bit, ++done) {
                const int nibble = (group[bit / 2] >> (4 * (bit % 2))) & 15;
                sample += channels_;
                *sample = int16_t(ImaDecodeNibble(state, nibble));
            }
        }
    }
}

}  // namespace tonaro
