#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

// Builds score files ("MMMD") from a readable description, so that a fixture shows what it tests:
//
//   score({scoreTrack(2, Sequence().note(0, noteByte(0, 2, 5), 10).end())})
namespace scoretest {

using Bytes = std::vector<std::uint8_t>;

// A duration or gate time in one byte (below 128) or two.
Bytes timeBytes(unsigned units);

// A note byte: channel offset 0..3 within the track, octave code 0..3, step 0..15.
std::uint8_t noteByte(unsigned channelOffset, unsigned octave, unsigned step);

// Events of a "Mtsq" or "Atsq" sequence; `wait` is the duration before the event.
class Sequence {
public:
    Sequence& note(unsigned wait, std::uint8_t event, unsigned gate);
    Sequence& control(unsigned wait, std::uint8_t k);
    Sequence& extended(unsigned wait, std::uint8_t k, std::uint8_t t);
    Sequence& exclusive(unsigned wait, const Bytes& body);
    Sequence& wave(unsigned wait, std::uint8_t number, unsigned gate);
    Sequence& raw(const Bytes& bytes);
    Sequence& end(); // the four zero bytes

    const Bytes& bytes() const { return bytes_; }

private:
    Sequence& time(unsigned units);
    Bytes bytes_;
};

// A chunk: a four-character id, or a three-character id and a number byte.
Bytes chunk(std::string_view id, const Bytes& data);
Bytes chunk(std::string_view id3, std::uint8_t number, const Bytes& data);

struct TimeBases {
    std::uint8_t duration = 0x00; // 1 ms a unit
    std::uint8_t gate = 0x00;
};

Bytes scoreTrack(std::uint8_t number, const Sequence& sequence, const Bytes& setup = {}, TimeBases bases = {});
// format 0x11: 8000 Hz waves, 0x10: 4000 Hz.
Bytes audioTrack(const Sequence& sequence, const std::vector<std::pair<std::uint8_t, Bytes>>& waves,
                 TimeBases bases = {}, std::uint8_t format = 0x11);

// "MMMD", the size of what follows, then the chunks.
Bytes score(const std::vector<Bytes>& chunks);

} // namespace scoretest
