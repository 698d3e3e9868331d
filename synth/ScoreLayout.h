#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace mevo {

// A score track ("MTR"+n) as far as playback needs it; the bytes are copies, so the track
// outlives later appends to the received score.
struct ScoreTrack {
    int number = 0;                    // 0..4
    std::uint32_t durationMsPerUnit = 4;
    std::uint32_t gateMsPerUnit = 4;
    std::vector<std::uint8_t> setup;    // "Mtsu"
    std::vector<std::uint8_t> sequence; // "Mtsq", never empty
};

struct AudioWave {
    std::uint8_t number = 0; // 1..62
    std::vector<std::uint8_t> adpcm;
};

// The audio track ("ATR"+0).
struct AudioTrack {
    std::uint32_t durationMsPerUnit = 4;
    std::uint32_t gateMsPerUnit = 4;
    std::uint32_t waveRate = 4000;      // Hz
    std::vector<std::uint8_t> sequence; // "Atsq", never empty
    std::vector<AudioWave> waves;       // "Awa"+n, in file order
};

// The playable tracks of one score. Score tracks are kept in the order they were looked for
// (4, 3, 2, 1, or 0 alone), which is also their decoding order.
struct ScoreLayout {
    std::vector<ScoreTrack> tracks;
    std::optional<AudioTrack> audio;
    bool hasMainTrack = false; // a track 1..4 or the audio track was taken
};

// Milliseconds per unit of a duration or gate time base code; unknown codes give 4.
std::uint32_t timeBaseMs(std::uint8_t code);

// Empty when the bytes do not begin with "MMMD" or hold no playable track. A chunk whose size
// runs past the end ends the walk; chunks read before it still count.
std::optional<ScoreLayout> parseScoreLayout(std::span<const std::uint8_t> bytes);

} // namespace mevo
