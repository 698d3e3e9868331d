#pragma once

#include "synth/ScoreLayout.h"
#include "synth/ScoreTarget.h"

#include <array>
#include <cstdint>
#include <vector>

namespace mevo {

// Engine commands a score produces, stored in TimedEvent::message[0] (below 0x80, so they never
// look like a channel status).
enum class ScoreCommand : std::uint8_t {
    DirectFm = 3,  // message[1..3]: the packed header byte, status & 0x7F, value & 0x7F
    StartWave = 7, // message[1]: wave number
    StopWave = 8,
    WaveGain = 9, // message[1]: velocity
};

struct TimedEvent {
    std::uint64_t timeMs = 0;
    // A channel message (status first), or a ScoreCommand and its parameters.
    std::array<std::uint8_t, 4> message{};
};

// Events a score can produce at most: no event takes fewer than one sequence byte (a note
// takes three for its two events), plus the sound-off messages that end each score track.
std::size_t maxScoreEvents(const ScoreLayout& layout);

// Per-channel octave shifts of the note events, -4..4; they persist across tracks.
using OctaveShifts = std::array<int, 16>;

// Appends the track's events in sequence order. Decoding stops at the end marker, the end of
// the bytes or the first event cut short. Voice set-up exclusives go to `target` at once.
// The caller has reserved room (maxScoreEvents), so appending never reallocates.
void decodeScoreTrack(const ScoreTrack& track, OctaveShifts& shifts, ScoreTarget& target,
                      std::vector<TimedEvent>& events);
void decodeAudioTrack(const AudioTrack& track, std::vector<TimedEvent>& events);

} // namespace mevo
