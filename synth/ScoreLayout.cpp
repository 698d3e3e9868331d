#include "synth/ScoreLayout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace mevo {
namespace {

constexpr std::size_t kChunkHeaderSize = 8; // identifier, 32-bit big-endian size
constexpr std::size_t kTrackHeaderSize = 6; // track data bytes before the sub-chunks

struct Chunk {
    std::span<const std::uint8_t, 4> id;
    std::span<const std::uint8_t> data;
};

std::uint32_t readBigEndian32(std::span<const std::uint8_t> b)
{
    return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

// Every complete chunk of `bytes`, in order; stops at the first one that does not fit.
std::vector<Chunk> walkChunks(std::span<const std::uint8_t> bytes)
{
    std::vector<Chunk> chunks;
    while (bytes.size() >= kChunkHeaderSize) {
        const std::uint64_t size = readBigEndian32(bytes.subspan(4, 4));
        if (size > bytes.size() - kChunkHeaderSize) {
            break;
        }
        chunks.push_back({bytes.first<4>(), bytes.subspan(kChunkHeaderSize, size)});
        bytes = bytes.subspan(kChunkHeaderSize + size);
    }
    return chunks;
}

bool hasId(const Chunk& c, std::string_view prefix3, std::uint8_t last)
{
    return std::memcmp(c.id.data(), prefix3.data(), 3) == 0 && c.id[3] == last;
}

bool hasId(const Chunk& c, std::string_view id4)
{
    return std::memcmp(c.id.data(), id4.data(), 4) == 0;
}

std::vector<std::uint8_t> copyOf(std::span<const std::uint8_t> b)
{
    return {b.begin(), b.end()};
}

const Chunk* findChunk(const std::vector<Chunk>& chunks, std::string_view prefix3, std::uint8_t last)
{
    const auto it = std::ranges::find_if(chunks, [&](const Chunk& c) { return hasId(c, prefix3, last); });
    return it == chunks.end() ? nullptr : &*it;
}

std::optional<ScoreTrack> parseScoreTrack(const Chunk& chunk, int number)
{
    const auto data = chunk.data;
    if (data.size() < kTrackHeaderSize || data[0] != 0) {
        return std::nullopt;
    }
    ScoreTrack track;
    track.number = number;
    track.durationMsPerUnit = timeBaseMs(data[2]);
    track.gateMsPerUnit = timeBaseMs(data[3]);
    for (const Chunk& sub : walkChunks(data.subspan(kTrackHeaderSize))) {
        if (hasId(sub, "Mtsu")) {
            track.setup = copyOf(sub.data);
        } else if (hasId(sub, "Mtsq")) {
            track.sequence = copyOf(sub.data);
        }
    }
    if (track.sequence.empty()) {
        return std::nullopt;
    }
    return track;
}

// Format byte: high nibble 1; low nibble 1 = 8000 Hz waves, 0 = 4000 Hz.
std::optional<std::uint32_t> audioWaveRate(std::uint8_t format)
{
    constexpr std::array<std::uint32_t, 2> rates{4000, 8000};
    if ((format >> 4) != 1 || (format & 0x0F) >= rates.size()) {
        return std::nullopt;
    }
    return rates[format & 0x0F];
}

std::optional<AudioTrack> parseAudioTrack(const Chunk& chunk)
{
    const auto data = chunk.data;
    if (data.size() < kTrackHeaderSize || data[0] != 0) {
        return std::nullopt;
    }
    const auto rate = audioWaveRate(data[2]);
    if (!rate) {
        return std::nullopt;
    }
    AudioTrack track;
    track.waveRate = *rate;
    track.durationMsPerUnit = timeBaseMs(data[4]);
    track.gateMsPerUnit = timeBaseMs(data[5]);
    for (const Chunk& sub : walkChunks(data.subspan(kTrackHeaderSize))) {
        if (hasId(sub, "Atsq")) {
            track.sequence = copyOf(sub.data);
        } else if (std::memcmp(sub.id.data(), "Awa", 3) == 0 && sub.id[3] >= 1 && sub.id[3] <= 62) {
            track.waves.push_back({sub.id[3], copyOf(sub.data)});
        }
    }
    if (track.sequence.empty()) {
        return std::nullopt;
    }
    return track;
}

} // namespace

std::uint32_t timeBaseMs(std::uint8_t code)
{
    struct Entry {
        std::uint8_t code;
        std::uint32_t ms;
    };
    constexpr std::array<Entry, 8> table{{
        {0x00, 1}, {0x01, 2}, {0x02, 4}, {0x03, 5}, {0x10, 10}, {0x11, 20}, {0x12, 40}, {0x13, 50},
    }};
    const auto it = std::ranges::find(table, code, &Entry::code);
    return it == table.end() ? 4 : it->ms;
}

std::optional<ScoreLayout> parseScoreLayout(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kChunkHeaderSize || std::memcmp(bytes.data(), "MMMD", 4) != 0) {
        return std::nullopt;
    }
    const auto chunks = walkChunks(bytes.subspan(kChunkHeaderSize));
    ScoreLayout layout;
    for (int n = 4; n >= 1; --n) {
        const Chunk* c = findChunk(chunks, "MTR", static_cast<std::uint8_t>(n));
        if (c == nullptr) {
            continue;
        }
        if (auto track = parseScoreTrack(*c, n)) {
            layout.tracks.push_back(std::move(*track));
            layout.hasMainTrack = true;
        }
    }
    if (layout.tracks.empty()) {
        if (const Chunk* c = findChunk(chunks, "MTR", 0)) {
            if (auto track = parseScoreTrack(*c, 0)) {
                layout.tracks.push_back(std::move(*track));
            }
        }
    }
    if (const Chunk* c = findChunk(chunks, "ATR", 0)) {
        layout.audio = parseAudioTrack(*c);
        layout.hasMainTrack = layout.hasMainTrack || layout.audio.has_value();
    }
    if (layout.tracks.empty() && !layout.audio) {
        return std::nullopt;
    }
    return layout;
}

} // namespace mevo
