#include "synth/WaveBankReader.h"

#include "synth/VoiceTable.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace mevo {
namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kFormatEntrySize = 24;
constexpr std::size_t kChunkHeaderSize = 8; // "WA", id, 4-byte length
constexpr std::uint8_t kAdpcmKind = 4;

std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

bool hasTag(std::span<const std::uint8_t> b, std::size_t at, const char (&tag)[5])
{
    return std::equal(tag, tag + 4, b.begin() + static_cast<std::ptrdiff_t>(at));
}

struct FormatEntry {
    std::uint8_t id0, id1;
    int bank;
    int key;
    std::uint32_t rate; // Hz
};

// Registers every chunk of the entry's id found from `tableEnd` on, as a byte-by-byte scan.
void registerChunks(std::span<const std::uint8_t> body, std::size_t tableEnd, const FormatEntry& entry,
                    VoiceTable& table, WaveRegistry& waves)
{
    for (std::size_t pos = tableEnd; pos + 4 < body.size(); ++pos) {
        if (body[pos] != 'W' || body[pos + 1] != 'A' || body[pos + 2] != entry.id0 || body[pos + 3] != entry.id1) {
            continue;
        }
        if (body.size() - pos < kChunkHeaderSize) {
            return;
        }
        const std::uint32_t length = be32(body, pos + 4);
        if (length > body.size() - pos - kChunkHeaderSize) {
            return; // a chunk running past the data ends the scan
        }
        const std::uint32_t id = waves.registerWave(0, body.subspan(pos + kChunkHeaderSize, length), entry.rate);
        VoiceRecord* voice = table.find(entry.bank, entry.key);
        if (id != 0 && voice != nullptr) {
            voice->waveId = id;
        }
    }
}

} // namespace

bool readWaveBank(std::span<const std::uint8_t> image, VoiceTable& table, WaveRegistry& waves)
{
    if (image.size() < kHeaderSize || !hasTag(image, 0, "ADP ") || !hasTag(image, 8, "FMT ")) {
        return false;
    }
    waves.deleteWave(0);
    if (be32(image, 4) != image.size() - 8) {
        return false;
    }
    const std::span<const std::uint8_t> body = image.subspan(kHeaderSize);
    const std::uint32_t tableLength = be32(image, 12);
    // The chunks must start inside the body with room for a tag.
    if (body.size() <= 4 || tableLength >= body.size() - 4) {
        return true;
    }
    for (std::size_t at = 0; at < tableLength && kFormatEntrySize <= body.size() - at; at += kFormatEntrySize) {
        const auto e = body.subspan(at, kFormatEntrySize);
        if (e[20] != kAdpcmKind || e[21] != 0) {
            continue;
        }
        const FormatEntry entry{e[0], e[1], kFirstDrumBank + e[18], e[19],
                                static_cast<std::uint32_t>(e[22] << 8 | e[23])};
        if (entry.bank >= kBankCount || entry.key >= kVoicesPerBank) {
            continue;
        }
        registerChunks(body, tableLength, entry, table, waves);
    }
    return true;
}

} // namespace mevo
