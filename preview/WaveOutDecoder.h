#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/ImaAdpcmDecoder.h"
#include "audio/WaveFormat.h"

namespace tonaro {

// Turns the bytes of one written buffer into the interleaved 16-bit samples the speaker gets.
// Each buffer is decoded on its own: PCM up to its last whole frame, IMA ADPCM block by block,
// a trailing partial block as far as its bytes reach.
class CWaveOutDecoder {
public:
    explicit CWaveOutDecoder(const AdpcmWaveFormat& format) : format_(format), adpcm_(format) {}

    // Replaces `out` with the samples of `size` bytes at `data`.
    void Decode(const uint8_t* data, size_t size, std::vector<int16_t>& out) const;

private:
    AdpcmWaveFormat format_;
    CImaAdpcmDecoder adpcm_;
};

}  // namespace tonaro
