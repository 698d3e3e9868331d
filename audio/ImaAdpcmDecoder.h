#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/WaveFormat.h"

namespace tonaro {

// Decodes IMA ADPCM WAVE blocks to interleaved 16-bit samples. A trailing partial block is
// decoded as far as its bytes reach; a format that is not 4-bit IMA ADPCM with 1 or 2 channels
// and a usable block align decodes to nothing.
class CImaAdpcmDecoder {
public:
    explicit CImaAdpcmDecoder(const AdpcmWaveFormat& format);

    // Interleaved samples (frames × channels) that `size` bytes decode to.
    size_t SampleCount(size_t size) const;
    // Writes SampleCount(size) samples to `out`.
    void Decode(const uint8_t* data, size_t size, int16_t* out) const;

private:
    size_t FramesInBlock(size_t blockBytes) const;
    void DecodeBlock(const uint8_t* block, size_t frames, int16_t* out) const;

    uint32_t channels_ = 0;
    uint32_t blockAlign_ = 0;
};

}  // namespace tonaro
