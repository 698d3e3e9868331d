#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "audio/SmfItem.h"
#include "audio/WaveItem.h"
#include "preview/PlayReceiverQueue.h"

namespace tonaro::test {

// Deterministic bytes that exercise every ADPCM code.
inline std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = uint8_t(seed >> 24);
    }
    return bytes;
}

inline std::unique_ptr<CWaveItem> MakeWaveItem(const AdpcmWaveFormat& format, const std::vector<uint8_t>& adpcm) {
    auto item = std::make_unique<CWaveItem>();
    item->SetAdpcm(format, adpcm.data(), uint32_t(adpcm.size()));
    return item;
}

inline std::unique_ptr<CSmfItem> MakeSmfItem(const std::vector<uint8_t>& smf) {
    auto item = std::make_unique<CSmfItem>();
    item->SetSmfBytes(smf.data(), uint32_t(smf.size()));
    return item;
}

// A format-0 file at division 96 and the default tempo: a chord of two notes held for one
// quarter note (96 ticks, 500 ms), then End of Track.
inline std::vector<uint8_t> ChordSmf() {
    const uint8_t ticks = 96;
    std::vector<uint8_t> track = {0x00, 0xC0, 0x00,        0x00, 0x90, 60,   100, 0x00, 0x90, 64, 100,
                                  ticks, 0x80, 60,   0x40, 0x00, 0x80, 64,   0x40, 0x00, 0xFF, 0x2F, 0x00};
    std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k',
                                0,   0,   0,   uint8_t(track.size())};
    smf.reserve(smf.size() + track.size());
    smf.insert(smf.end(), track.begin(), track.end());
    return smf;
}

inline std::vector<PlayMessage> Drain(CPlayReceiverQueue& queue) {
    std::vector<PlayMessage> messages;
    while (auto message = queue.Take()) messages.push_back(*message);
    return messages;
}

}  // namespace tonaro::test

namespace tonaro {
inline void PrintTo(const PlayMessage& m, std::ostream* os) {
    *os << (m.message == kWmPlayTime ? "TIME " : m.message == kWmPlayEnd ? "END " : "?") << m.param;
}
}  // namespace tonaro
