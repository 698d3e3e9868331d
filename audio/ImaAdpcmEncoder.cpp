#include "audio/ImaAdpcmEncoder.h"

#include <algorithm>
#include <barrier>
#include <functional>
#include <system_error>
#include <thread>

#include "audio/Endian.h"
#include "audio/ImaAdpcm.h"

namespace tonaro {

namespace {

uint32_t FrameBytes(const WaveFormat& pcm) {
    return uint32_t(pcm.channels) * pcm.bitsPerSample / 8;
}

bool Encodable(const WaveFormat& pcm) {
    return (pcm.channels == 1 || pcm.channels == 2) && (pcm.bitsPerSample == 8 || pcm.bitsPerSample == 16) &&
           pcm.samplesPerSec != 0;
}

int16_t SampleAt(const uint8_t* frame, uint32_t channel, uint32_t bits) {
    if (bits == 8) return int16_t((frame[channel] - 128) * 256);
    return int16_t(GetLe16(frame + 2 * channel));
}

// 100 × chunk / n rounded to nearest.
int ChunkPercent(uint32_t chunk, uint32_t n) {
    return int((200ull * chunk + n) / (2ull * n));
}

}  // namespace

uint32_t CImaAdpcmEncoder::EncodedSize(const WaveFormat& pcm, uint32_t size) {
    if (!Encodable(pcm)) return 0;
    const uint32_t frames = size / FrameBytes(pcm);
    if (!frames) return 0;
    const AdpcmWaveFormat format = ImaAdpcmFormat(pcm.channels, pcm.samplesPerSec);
    const uint32_t blocks = (frames + format.samplesPerBlock - 1) / format.samplesPerBlock;
    return blocks * format.wave.blockAlign;
}

void CImaAdpcmEncoder::Encode(const WaveFormat& pcm, const uint8_t* data, uint32_t size, uint8_t* out,
                              const Progress& progress) {
    const uint32_t total = EncodedSize(pcm, size);
    if (!total) return;
    const AdpcmWaveFormat format = ImaAdpcmFormat(pcm.channels, pcm.samplesPerSec);
    const BlockShape shape{pcm.channels, pcm.bitsPerSample, format.wave.blockAlign, format.samplesPerBlock};
    const uint32_t frameBytes = FrameBytes(pcm);
    const uint32_t frames = size / frameBytes;
    const uint32_t blocks = total / shape.blockAlign;
    const uint32_t chunkBytes = std::min(total, kChunkBytes);
    const uint32_t blocksPerChunk = chunkBytes / shape.blockAlign;
    const uint32_t reports = total / chunkBytes + 1;
    std::fill(out, out + total, 0);
    Search search = SearchFor(pcm.samplesPerSec);
    if (survivors_) search.survivors = survivors_;
    ChannelCoder coders[2] = {{CImaTrellis(search.survivors, search.bucketShift), {}, {}},
                              {CImaTrellis(search.survivors, search.bucketShift), {}, {}}};

    // Every channel of every block is a job of its own: each writes only its header and groups.
    // Within a chunk the helper thread takes the odd jobs; without one the even ones run first.
    auto runJobs = [&](ChannelCoder& coder, uint32_t firstBlock, uint32_t jobs, uint32_t parity) {
        for (uint32_t job = parity; job < jobs; job += 2) {
            const uint32_t block = firstBlock + job / shape.channels;
            const uint32_t first = block * shape.samplesPerBlock;
            EncodeChannel(coder, data + size_t(first) * frameBytes, std::min(shape.samplesPerBlock, frames - first),
                          job % shape.channels, shape, out + size_t(block) * shape.blockAlign);
        }
    };
    // One helper thread for the whole encoding, in step with this one chunk by chunk: starting a
    // thread per chunk costs more than a chunk's work on small inputs.
    const uint32_t chunks = (blocks + blocksPerChunk - 1) / blocksPerChunk;
    uint32_t firstBlock = 0, jobs = 0;
    bool finished = false;
    std::barrier sync(2);
    std::jthread helper;
    if (chunks * blocksPerChunk * shape.channels > 1) {
        try {
            helper = std::jthread([&] {
                for (;;) {
                    sync.arrive_and_wait();
                    if (finished) return;
                    runJobs(coders[1], firstBlock, jobs, 1);
                    sync.arrive_and_wait();
                }
            });
        } catch (const std::system_error&) {
        }
    }
    int lastPercent = -1;
    for (uint32_t chunk = 0; chunk < chunks; ++chunk) {
        firstBlock = chunk * blocksPerChunk;
        jobs = std::min(blocksPerChunk, blocks - firstBlock) * shape.channels;
        if (helper.joinable()) {
            sync.arrive_and_wait();
            runJobs(coders[0], firstBlock, jobs, 0);
            sync.arrive_and_wait();
        } else {
            runJobs(coders[0], firstBlock, jobs, 0);
            runJobs(coders[1], firstBlock, jobs, 1);
        }
        if (!progress) continue;
        const int percent = ChunkPercent(chunk + 1, reports);
        if (percent != lastPercent) progress(percent);
        lastPercent = percent;
    }
    if (helper.joinable()) {
        finished = true;
        sync.arrive_and_wait();
    }
}

void CImaAdpcmEncoder::EncodeChannel(ChannelCoder& coder, const uint8_t* frames, uint32_t frameCount, uint32_t channel,
                                     const BlockShape& shape, uint8_t* block) {
    coder.target.resize(shape.samplesPerBlock);
    coder.codes.resize(shape.samplesPerBlock);
    const uint32_t frameBytes = shape.channels * shape.bits / 8;
    for (uint32_t i = 0; i < frameCount; ++i)
        coder.target[i] = SampleAt(frames + size_t(i) * frameBytes, channel, shape.bits);
    // Holding the last sample keeps the padded tail quiet.
    std::fill(coder.target.begin() + frameCount, coder.target.end(), coder.target[frameCount - 1]);

    const CImaTrellis::Result header =
        coder.trellis.Encode(coder.target.data(), shape.samplesPerBlock, coder.codes.data());
    uint8_t* head = block + kImaHeaderBytesPerChannel * channel;
    PutLe16(head, uint16_t(header.firstSample));
    head[2] = header.stepIndex;

    const uint32_t groupStride = kImaGroupBytes * shape.channels;
    uint8_t* groups = block + kImaHeaderBytesPerChannel * shape.channels + kImaGroupBytes * channel;
    for (uint32_t i = 0; i + 1 < shape.samplesPerBlock; ++i)
        groups[(i / kImaGroupSamples) * groupStride + (i % 8) / 2] |= uint8_t(coder.codes[i] << (4 * (i % 2)));
}

}  // namespace tonaro
