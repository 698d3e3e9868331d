#include "audio/PcmConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/ByteBlock.h"
#include "audio/Endian.h"
#include "audio/PcmFilterTables.h"

namespace tonaro {

namespace {

bool ValidBits(uint32_t bits) {
    return bits == 8 || bits == 16;
}
bool ValidChannels(uint32_t channels) {
    return channels == 1 || channels == 2;
}

int16_t Sample16(const uint8_t* bytes, size_t index) {
    return int16_t(GetLe16(bytes + 2 * index));
}
void PutSample16(uint8_t* bytes, size_t index, int32_t value) {
    PutLe16(bytes + 2 * index, uint16_t(int16_t(value)));
}

// Copies what fits; 2 when the input was cut.
int CopyBytes(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity, uint32_t& produced) {
    produced = std::min(inputSize, capacity);
    if (produced) std::memcpy(output, input, produced);
    return produced < inputSize ? CPcmConverter::kCut : CPcmConverter::kDone;
}

}  // namespace

int CPcmConverter::Convert(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                           uint32_t& produced, PcmShape source, const PcmShape& target) {
    produced = 0;
    if (!ValidBits(source.bits) || !ValidBits(target.bits) || !ValidChannels(source.channels) ||
        !ValidChannels(target.channels))
        return kUnsupported;
    // Room for the widest intermediate: twice the bytes after widening, twice again after
    // doubling the channels.
    uint64_t workSize = inputSize;
    if (target.bits > source.bits) workSize *= 2;
    if (target.channels > source.channels) workSize *= 2;
    if (workSize > UINT32_MAX) return kNoMemory;

    // A stage that changes nothing would only copy, so its input goes on as it is. A cut (2) in
    // the first two stages is carried on: the rate stage decides the result.
    const uint8_t* samples = input;
    uint32_t size = inputSize;
    CByteBlock widened;
    if (source.bits != target.bits) {
        widened = CByteBlock::Allocate(size_t(workSize));
        CBlockLock bytes(widened);
        if (!bytes) return kNoMemory;
        ConvertBits(samples, size, bytes.data(), uint32_t(workSize), size, source.bits, target.bits);
        samples = widened.Data();
        source.bits = target.bits;
    }
    CByteBlock mixed;
    if (source.channels != target.channels) {
        mixed = CByteBlock::Allocate(size_t(workSize));
        CBlockLock bytes(mixed);
        if (!bytes) return kNoMemory;
        ConvertChannels(samples, size, bytes.data(), uint32_t(workSize), size, source.bits, source.channels,
                        target.channels);
        samples = mixed.Data();
        source.channels = target.channels;
    }
    return ConvertRate(samples, size, output, capacity, produced, source, target);
}

int CPcmConverter::ConvertBits(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                               uint32_t& produced, uint32_t sourceBits, uint32_t targetBits) {
    produced = 0;
    if (!ValidBits(sourceBits) || !ValidBits(targetBits)) return kUnsupported;
    if (sourceBits == targetBits) return CopyBytes(input, inputSize, output, capacity, produced);
    if (sourceBits == 8) {
        const uint32_t count = std::min(inputSize, capacity / 2);
        for (uint32_t i = 0; i < count; ++i) PutSample16(output, i, (input[i] - 128) * 256);
        produced = count * 2;
        return count < inputSize ? kCut : kDone;
    }
    const uint32_t samples = inputSize / 2;
    const uint32_t count = std::min(samples, capacity);
    for (uint32_t i = 0; i < count; ++i) output[i] = uint8_t((Sample16(input, i) >> 8) - 128);
    produced = count;
    return count < samples ? kCut : kDone;
}

int CPcmConverter::ConvertChannels(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                                   uint32_t& produced, uint32_t bits, uint32_t sourceChannels,
                                   uint32_t targetChannels) {
    produced = 0;
    if (!ValidBits(bits) || !ValidChannels(sourceChannels) || !ValidChannels(targetChannels)) return kUnsupported;
    if (sourceChannels == targetChannels) return CopyBytes(input, inputSize, output, capacity, produced);
    const uint32_t width = bits / 8;
    if (sourceChannels == 1) {
        const uint32_t samples = inputSize / width;
        const uint32_t count = std::min(samples, capacity / (2 * width));
        for (uint32_t i = 0; i < count; ++i) {
            std::memcpy(output + 2 * width * i, input + width * i, width);
            std::memcpy(output + 2 * width * i + width, input + width * i, width);
        }
        produced = count * 2 * width;
        return count < samples ? kCut : kDone;
    }
    const uint32_t frames = inputSize / (2 * width);
    const uint32_t count = std::min(frames, capacity / width);
    for (uint32_t i = 0; i < count; ++i) {
        if (width == 1)
            output[i] = uint8_t((input[2 * i] + input[2 * i + 1]) >> 1);
        else
            PutSample16(output, i, (Sample16(input, 2 * i) + Sample16(input, 2 * i + 1)) / 2);
    }
    produced = count * width;
    return count < frames ? kCut : kDone;
}

int CPcmConverter::ConvertRate(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                               uint32_t& produced, const PcmShape& source, const PcmShape& target) {
    produced = 0;
    if (source.bits != 16 || target.bits != 16 || !ValidChannels(source.channels) || source.channels != target.channels)
        return kUnsupported;
    const PcmFilterTable* table = FindPcmFilterTable(source.rate, target.rate);
    if (!table) return kUnsupported;

    const uint32_t channels = source.channels;
    const uint32_t frameBytes = 2 * channels;
    const double step = double(source.rate) / double(target.rate);
    // Whole frames only, so a trailing partial frame is never read.
    const uint32_t inputFrames = inputSize / frameBytes;
    const uint32_t wanted = uint32_t(std::trunc(inputFrames / step));
    const uint32_t outputFrames = std::min(wanted, capacity / frameBytes);

    // One channel at a time as doubles behind taps − 1 zeros: a tap that reaches before the first
    // sample then adds nothing, as if skipped, and every sum runs over contiguous samples.
    const size_t lead = size_t(table->taps) - 1;
    CByteBlock history = CByteBlock::Allocate((lead + inputFrames) * sizeof(double));
    if (!history.IsAllocated()) return kNoMemory;
    CBlockLock historyBytes(history);
    auto* x = reinterpret_cast<double*>(historyBytes.data()) + lead;
    for (uint32_t channel = 0; channel < channels; ++channel) {
        for (uint32_t n = 0; n < inputFrames; ++n) x[n] = Sample16(input, size_t(n) * channels + channel);
        for (uint32_t i = 0; i < outputFrames; ++i) {
            const double position = i * step;
            const size_t j = size_t(position);
            const int phase = table->rows == 1 ? 0 : int((position - double(j)) * kFilterPhases);
            const double* row = table->Row(phase);
            const double* newest = x + j;
            // Four partial sums keep the adds independent of each other.
            double sums[4] = {0.0, 0.0, 0.0, 0.0};
            int k = 0;
            for (; k + 4 <= table->taps; k += 4)
                for (int lane = 0; lane < 4; ++lane) sums[lane] += row[k + lane] * newest[-(k + lane)];
            for (; k < table->taps; ++k) sums[k % 4] += row[k] * newest[-k];
            const double sum = (sums[0] + sums[1]) + (sums[2] + sums[3]);
            PutSample16(output, size_t(i) * channels + channel,
                        int32_t(std::clamp(std::trunc(sum), -32767.0, 32767.0)));
        }
    }
    produced = outputFrames * frameBytes;
    return outputFrames < wanted ? kCut : kDone;
}

}  // namespace tonaro
