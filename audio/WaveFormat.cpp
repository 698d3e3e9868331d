#include "audio/WaveFormat.h"

#include <algorithm>

#include "audio/Endian.h"

namespace tonaro {

std::array<uint8_t, 18> WaveFormat::ToBytes() const {
    std::array<uint8_t, 18> bytes{};
    PutLe16(&bytes[0], formatTag);
    PutLe16(&bytes[2], channels);
    PutLe32(&bytes[4], samplesPerSec);
    PutLe32(&bytes[8], avgBytesPerSec);
    PutLe16(&bytes[12], blockAlign);
    PutLe16(&bytes[14], bitsPerSample);
    PutLe16(&bytes[16], extraSize);
    return bytes;
}

std::array<uint8_t, 20> AdpcmWaveFormat::ToBytes() const {
    std::array<uint8_t, 20> bytes{};
    const auto head = wave.ToBytes();
    std::copy(head.begin(), head.end(), bytes.begin());
    PutLe16(&bytes[18], samplesPerBlock);
    return bytes;
}

}  // namespace tonaro
