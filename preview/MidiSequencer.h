#pragma once

#include <cstdint>

#include "preview/SynthPort.h"

namespace tonaro {

// Plays the first track of a Standard MIDI File into a synthesizer in real time: events are
// sent as their time comes and the synthesizer renders in chunks of at most 22 frames (1 ms),
// so an event is at most 22 frames late. The player drives it from its device callback; the
// command line renders with it to a file.
class CMidiSequencer {
public:
    static constexpr uint32_t kSampleRate = 22050;
    static constexpr uint32_t kBytesPerFrame = 4;
    static constexpr uint32_t kChunkFrames = 22;
    static constexpr uint32_t kDefaultDivision = 480;

    explicit CMidiSequencer(CSynthPort& synth) : synth_(synth) {}

    // Takes the SMF bytes (kept by the caller while playing) and checks the header: "MThd",
    // header length 6, "MTrk" at offset 14 with a non-zero length. Reads the first delta time.
    // Returns false, and plays nothing, for a malformed header.
    bool Start(const uint8_t* data, uint32_t length);
    // Renders bytes / 4 frames into `buffer`; returns the bytes written, 0 once the song ended.
    uint32_t Fill(void* buffer, uint32_t bytes);
    // Sends every event due at `nowMs`; returns 1 while events remain, 0 at the end.
    int Advance(uint32_t nowMs);

    bool Ended() const { return ended_; }
    uint64_t FramesRendered() const { return framesRendered_; }
    uint32_t Tempo() const { return tempo_; }
    uint32_t Division() const { return division_; }
    int64_t NextEventMs() const { return nextEventMs_; }

private:
    bool AtEnd() const { return pos_ + 1 >= length_; }
    bool ReadByte(uint8_t& value);
    bool ReadVarLen(uint32_t& value);
    bool Skip(uint32_t count);
    // Reads and handles one event at the read position; false ends the song.
    bool PlayEvent();
    bool PlayChannelMessage(uint8_t status, uint8_t type);
    bool PlaySystemExclusive();
    bool PlayMeta();

    CSynthPort& synth_;
    const uint8_t* data_ = nullptr;
    uint32_t length_ = 0;
    uint32_t pos_ = 0;
    uint8_t runningStatus_ = 0;
    uint32_t ticks_ = 0;
    uint32_t tempo_ = 500000;               // microseconds per quarter note
    uint32_t division_ = kDefaultDivision;  // ticks per quarter note
    int64_t tempoMs_ = 0;
    uint32_t tempoTicks_ = 0;
    int64_t nextEventMs_ = 0;
    uint64_t framesRendered_ = 0;
    bool ended_ = true;
};

}  // namespace tonaro
