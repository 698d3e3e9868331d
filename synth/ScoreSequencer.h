#pragma once

#include "synth/ScoreDecoder.h"
#include "synth/ScoreLayout.h"
#include "synth/ScoreTarget.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace mevo {

// Plays the library's chunked scores ("MMMD"): keeps the received bytes, parses them into
// score tracks ("MTR"+1..4, or "MTR"+0 alone) and an audio track ("ATR"+0), flattens them
// into one time-sorted event list and dispatches the events as their time comes.
//
// Choices of ours:
// - A score bend value (7 bits, 64 = centre) becomes the top 7 bits of the 14-bit bend:
//   E0+ch, 0, value.
// - The compact two-operator voice layout is documented at compactVoiceToDefinition.
// - The sound off that ends a score track goes to the track's own four channels, so a track
//   that ends early does not silence the notes of a longer one.
// - prepare(ms) checks the song's end before it touches the engine: a position past the last
//   event fails and leaves the song stopped.
// - A wave start goes out as engine command 7 with the explicit flag 0x01 (any non-zero flag
//   means explicit); the engine's command data ends at the first byte with bit 7 set.
// All times are 64-bit milliseconds.
class ScoreSequencer {
public:
    explicit ScoreSequencer(ScoreTarget& target) : target_(target) {}

    // Appends received score bytes. Returns false, keeping what was there, when memory runs out.
    bool append(std::span<const std::uint8_t> bytes);
    // Stops a playing song and forgets the bytes, the tracks and the event list.
    void clear();

    // Parses the received bytes and builds the event list; voice set-up exclusives inside the
    // sequences are stored at once. Fails when nothing was received, a song is playing, the
    // bytes are no score, no track is playable or the event list cannot be built.
    bool parse();

    // Starts the song at `ms`: start-up messages, the tracks' voice and wave set-up, channel
    // defaults, then a fast-forward to `ms`. Fails when playing, when there are no events, or
    // when the last event lies before `ms`.
    bool prepare(std::uint64_t ms);

    // Dispatches every event due at or before `nowMs`. Returns whether later events remain
    // (false when not playing).
    bool advance(std::uint64_t nowMs);

    void rewind() { next_ = 0; }

    // Only while playing: sound off on all 16 channels, the wave voice stopped.
    void stop();

    bool playing() const { return playing_; }
    std::span<const TimedEvent> events() const { return events_; }

private:
    void dispatchEvent(const TimedEvent& event);
    void sendSetUp();
    void fastForward(std::uint64_t ms);

    ScoreTarget& target_;
    std::vector<std::uint8_t> bytes_;
    std::optional<ScoreLayout> layout_;
    std::vector<TimedEvent> events_;
    std::size_t next_ = 0;
    bool playing_ = false;
};

} // namespace mevo
