#pragma once

#include <cstdint>

namespace tonaro {

// Shape of interleaved PCM (left first); 8-bit samples are unsigned around 128, 16-bit samples
// signed little-endian.
struct PcmShape {
    uint32_t rate = 0;
    uint32_t bits = 0;
    uint32_t channels = 0;
};

// Stateless converter in three fixed stages: sample width, channels, then rate (a polyphase FIR
// low-pass for the five downward ratios of PcmFilterTables, nothing else).
// Results: 0 done, 1 shape not supported, 2 output capacity too small (output cut), 3 no memory.
class CPcmConverter {
public:
    enum Result : int { kDone = 0, kUnsupported = 1, kCut = 2, kNoMemory = 3 };

    static int Convert(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity, uint32_t& produced,
                       PcmShape source, const PcmShape& target);

    // 8 → 16: (u − 128) × 256; 16 → 8: high byte + 128.
    static int ConvertBits(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                           uint32_t& produced, uint32_t sourceBits, uint32_t targetBits);
    // Mono → stereo doubles each sample; stereo → mono averages (8 bits: sum >> 1 unsigned,
    // 16 bits: sum / 2 toward zero).
    static int ConvertChannels(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                               uint32_t& produced, uint32_t bits, uint32_t sourceChannels, uint32_t targetChannels);
    // 16-bit only. Output frame i is the causal sum over taps k of row[k] · x[j − k], j = ⌊i · step⌋,
    // row = the table's row for the fraction of i · step; truncated and clipped to ±32767.
    static int ConvertRate(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                           uint32_t& produced, const PcmShape& source, const PcmShape& target);
};

}  // namespace tonaro
