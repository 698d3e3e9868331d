#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/Endian.h"

namespace tonaro::test {

using Bytes = std::vector<uint8_t>;

inline void AppendLe16(Bytes& out, uint16_t v) {
    out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
}
inline void AppendLe32(Bytes& out, uint32_t v) {
    out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

// A chunk with an explicit size field (which may lie) and its body bytes.
inline Bytes Chunk(const char (&id)[5], uint32_t sizeField, const Bytes& body) {
    Bytes out(id, id + 4);
    AppendLe32(out, sizeField);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}
inline Bytes Chunk(const char (&id)[5], const Bytes& body) {
    return Chunk(id, uint32_t(body.size()), body);
}

struct FmtFields {
    uint16_t tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 8000;
    uint32_t avgBytes = 16000;
    uint16_t blockAlign = 2;
    uint16_t bits = 16;
};

inline Bytes FmtBody(const FmtFields& f, size_t length = 16) {
    Bytes out;
    AppendLe16(out, f.tag);
    AppendLe16(out, f.channels);
    AppendLe32(out, f.rate);
    AppendLe32(out, f.avgBytes);
    AppendLe16(out, f.blockAlign);
    AppendLe16(out, f.bits);
    out.resize(length, 0);
    return out;
}

// Fields of plain PCM as a writer would fill them.
inline FmtFields PcmFields(uint16_t channels, uint32_t rate, uint16_t bits) {
    const uint16_t align = uint16_t(channels * bits / 8);
    return {1, channels, rate, rate * align, align, bits};
}

inline Bytes Riff(const std::vector<Bytes>& chunks, uint32_t riffSize = UINT32_MAX) {
    Bytes body{'W', 'A', 'V', 'E'};
    for (const Bytes& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
    return Chunk("RIFF", riffSize == UINT32_MAX ? uint32_t(body.size()) : riffSize, body);
}

inline Bytes PcmWave(const FmtFields& fields, const Bytes& samples) {
    return Riff({Chunk("fmt ", FmtBody(fields)), Chunk("data", samples)});
}

// 16-bit little-endian samples.
inline Bytes Samples16(const std::vector<int16_t>& samples) {
    Bytes out;
    for (int16_t s : samples) AppendLe16(out, uint16_t(s));
    return out;
}

}  // namespace tonaro::test
