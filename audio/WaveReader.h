#pragma once

#include <cstdint>

#include "audio/File.h"
#include "audio/WaveFormat.h"

namespace tonaro {

// Where the samples of an accepted RIFF WAVE file are.
struct WaveFileInfo {
    WaveFormat format;  // tag, channels, rate, average bytes per second, block align, bits; extra size 0
    uint64_t dataOffset = 0;
    uint32_t dataSize = 0;
};

// The WAVE check: "RIFF" with a non-zero size, "WAVE", an "fmt " chunk (its first 16..18 bytes
// read, the rest skipped), then a "data" chunk after it. Chunks are walked with 64-bit positions
// and no pad byte; one that runs past the end of the file ends the walk. Accepted: PCM of 8 or
// 16 bits, 1 or 2 channels, 8000/11025/22050/44100 Hz, block align = channels × bits / 8, a
// non-zero average byte rate, and a data chunk of at least one block that the file holds whole.
// Returns kResultOk or kResultUnsupported; reads only inside the file.
int ReadWaveFile(CFile& file, WaveFileInfo& info);

}  // namespace tonaro
