#include "ScoreWriter.h"

#include <string>

namespace scoretest {
namespace {

void append(Bytes& to, const Bytes& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

Bytes bigEndian32(std::size_t v)
{
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

} // namespace

Bytes timeBytes(unsigned units)
{
    if (units < 0x80) {
        return {static_cast<std::uint8_t>(units)};
    }
    const unsigned rest = units - 128;
    return {static_cast<std::uint8_t>(0x80 | (rest >> 7)), static_cast<std::uint8_t>(rest & 0x7F)};
}

std::uint8_t noteByte(unsigned channelOffset, unsigned octave, unsigned step)
{
    return static_cast<std::uint8_t>(channelOffset << 6 | octave << 4 | step);
}

Sequence& Sequence::time(unsigned units)
{
    append(bytes_, timeBytes(units));
    return *this;
}

Sequence& Sequence::note(unsigned wait, std::uint8_t event, unsigned gate)
{
    time(wait);
    bytes_.push_back(event);
    return time(gate);
}

Sequence& Sequence::control(unsigned wait, std::uint8_t k)
{
    time(wait);
    append(bytes_, {0x00, k});
    return *this;
}

Sequence& Sequence::extended(unsigned wait, std::uint8_t k, std::uint8_t t)
{
    time(wait);
    append(bytes_, {0x00, k, t});
    return *this;
}

Sequence& Sequence::exclusive(unsigned wait, const Bytes& body)
{
    time(wait);
    append(bytes_, {0xFF, 0xF0, static_cast<std::uint8_t>(body.size())});
    append(bytes_, body);
    return *this;
}

Sequence& Sequence::wave(unsigned wait, std::uint8_t number, unsigned gate)
{
    return note(wait, number, gate);
}

Sequence& Sequence::raw(const Bytes& bytes)
{
    append(bytes_, bytes);
    return *this;
}

Sequence& Sequence::end()
{
    return raw({0, 0, 0, 0});
}

Bytes chunk(std::string_view id, const Bytes& data)
{
    Bytes out(id.begin(), id.end());
    append(out, bigEndian32(data.size()));
    append(out, data);
    return out;
}

Bytes chunk(std::string_view id3, std::uint8_t number, const Bytes& data)
{
    std::string id(id3);
    id.push_back(static_cast<char>(number));
    return chunk(id, data);
}

Bytes scoreTrack(std::uint8_t number, const Sequence& sequence, const Bytes& setup, TimeBases bases)
{
    Bytes data{0x00, 0x00, bases.duration, bases.gate, 0x00, 0x00};
    if (!setup.empty()) {
        append(data, chunk("Mtsu", setup));
    }
    append(data, chunk("Mtsq", sequence.bytes()));
    return chunk("MTR", number, data);
}

Bytes audioTrack(const Sequence& sequence, const std::vector<std::pair<std::uint8_t, Bytes>>& waves,
                 TimeBases bases, std::uint8_t format)
{
    Bytes data{0x00, 0x00, format, 0x00, bases.duration, bases.gate};
    append(data, chunk("Atsq", sequence.bytes()));
    for (const auto& [number, adpcm] : waves) {
        append(data, chunk("Awa", number, adpcm));
    }
    return chunk("ATR", 0, data);
}

Bytes score(const std::vector<Bytes>& chunks)
{
    Bytes body;
    for (const Bytes& c : chunks) {
        append(body, c);
    }
    Bytes out{'M', 'M', 'M', 'D'};
    append(out, bigEndian32(body.size()));
    append(out, body);
    return out;
}

} // namespace scoretest
