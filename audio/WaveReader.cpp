#include "audio/WaveReader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "audio/Endian.h"
#include "audio/ResultCode.h"

namespace tonaro {

namespace {

constexpr uint64_t kChunkHeaderBytes = 8;
constexpr uint64_t kFirstChunk = 12;
constexpr uint32_t kPcmFieldsBytes = 16;
constexpr uint32_t kFmtKnownBytes = 18;
constexpr std::array<uint32_t, 4> kAcceptedRates = {8000, 11025, 22050, 44100};

struct Chunk {
    uint64_t body = 0;  // position of the chunk's first data byte
    uint32_t size = 0;
};

// Reads exactly `size` bytes at `position` when the file holds them.
bool ReadAt(CFile& file, uint64_t position, void* data, uint32_t size) {
    if (position > file.Length() || file.Length() - position < size) return false;
    return file.Seek(position) && file.Read(data, size) == size;
}

// Walks chunks from `position` to the first one named `id`; false when a chunk header or a
// skipped chunk runs past the end of the file. Every step moves forward by at least 8 bytes.
bool FindChunk(CFile& file, uint64_t position, const char (&id)[5], Chunk& chunk) {
    for (;;) {
        uint8_t header[kChunkHeaderBytes];
        if (!ReadAt(file, position, header, sizeof header)) return false;
        const uint32_t size = GetLe32(header + 4);
        chunk = {position + kChunkHeaderBytes, size};
        if (std::memcmp(header, id, 4) == 0) return true;
        position = chunk.body + size;
        if (position > file.Length()) return false;
    }
}

bool Accepted(const WaveFormat& format, uint32_t dataSize) {
    const bool knownRate =
        std::find(kAcceptedRates.begin(), kAcceptedRates.end(), format.samplesPerSec) != kAcceptedRates.end();
    const bool shape = format.formatTag == kWaveFormatPcm &&
                       (format.bitsPerSample == 8 || format.bitsPerSample == 16) &&
                       (format.channels == 1 || format.channels == 2) &&
                       format.blockAlign == format.channels * format.bitsPerSample / 8;
    return knownRate && shape && format.avgBytesPerSec != 0 && dataSize >= format.blockAlign;
}

}  // namespace

int ReadWaveFile(CFile& file, WaveFileInfo& info) {
    uint8_t riff[kFirstChunk];
    if (!ReadAt(file, 0, riff, sizeof riff)) return kResultUnsupported;
    if (std::memcmp(riff, "RIFF", 4) != 0 || GetLe32(riff + 4) == 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return kResultUnsupported;

    Chunk fmt;
    if (!FindChunk(file, kFirstChunk, "fmt ", fmt) || fmt.size < kPcmFieldsBytes) return kResultUnsupported;
    // An fmt chunk that runs past the end is refused even where its known bytes are present.
    if (file.Length() - fmt.body < fmt.size) return kResultUnsupported;
    uint8_t fields[kFmtKnownBytes];
    if (!ReadAt(file, fmt.body, fields, std::min(fmt.size, kFmtKnownBytes))) return kResultUnsupported;
    WaveFormat format;
    format.formatTag = GetLe16(fields);
    format.channels = GetLe16(fields + 2);
    format.samplesPerSec = GetLe32(fields + 4);
    format.avgBytesPerSec = GetLe32(fields + 8);
    format.blockAlign = GetLe16(fields + 12);
    format.bitsPerSample = GetLe16(fields + 14);

    Chunk data;
    if (!FindChunk(file, fmt.body + fmt.size, "data", data)) return kResultUnsupported;
    if (file.Length() - data.body < data.size || !Accepted(format, data.size)) return kResultUnsupported;

    info = {format, data.body, data.size};
    return kResultOk;
}

}  // namespace tonaro
