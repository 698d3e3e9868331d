#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "audio/ImaAdpcmTrellis.h"
#include "audio/WaveFormat.h"

namespace tonaro {

// Encodes 8- or 16-bit, mono or stereo PCM into standard IMA ADPCM WAVE blocks of the format
// ImaAdpcmFormat gives. The output is whole blocks; the last block is padded by holding each
// channel's last sample. 8-bit samples are widened to (u - 128) × 256 first.
class CImaAdpcmEncoder {
public:
    // The code search at a rate: survivors per step, and the span (a power of two) within which
    // decoded values count as alike. More survivors are slower and more exact; lower rates have
    // fewer samples to search and afford more.
    struct Search {
        int survivors;
        int bucketShift;
    };
    static constexpr Search SearchFor(uint32_t rate) {
        constexpr struct {
            uint32_t upToRate;
            Search search;
        } kByRate[] = {{11025, {128, 6}}, {22050, {64, 6}}};
        for (const auto& entry : kByRate)
            if (rate <= entry.upToRate) return entry.search;
        return {48, 6};
    }
    // Bytes encoded between two progress reports (whole blocks of every format).
    static constexpr uint32_t kChunkBytes = 4096;
    using Progress = std::function<void(int percent)>;

    // 0 survivors: SearchFor the rate of what is encoded.
    explicit CImaAdpcmEncoder(int survivors = 0) : survivors_(survivors) {}

    // Bytes of the blocks that hold every whole frame of `size` PCM bytes; 0 when the PCM cannot
    // be encoded (not 8/16 bits, not 1/2 channels, no rate, or not one whole frame).
    static uint32_t EncodedSize(const WaveFormat& pcm, uint32_t size);

    // Writes EncodedSize(pcm, size) bytes to `out`. After each chunk c of kChunkBytes output bytes
    // (all the output when it is smaller) reports 100 × c / n percent rounded, n = total / chunk
    // + 1: the first report always, later ones when the value moves.
    void Encode(const WaveFormat& pcm, const uint8_t* data, uint32_t size, uint8_t* out, const Progress& progress);

private:
    // The search state and buffers of one thread's jobs (one channel of one block at a time).
    struct ChannelCoder {
        CImaTrellis trellis;
        std::vector<int16_t> target;
        std::vector<uint8_t> codes;
    };
    struct BlockShape {
        uint32_t channels, bits, blockAlign, samplesPerBlock;
    };

    static void EncodeChannel(ChannelCoder& coder, const uint8_t* frames, uint32_t frameCount, uint32_t channel,
                              const BlockShape& shape, uint8_t* block);

    int survivors_;
};

}  // namespace tonaro
