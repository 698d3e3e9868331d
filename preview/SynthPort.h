#pragma once

#include <cstdint>

namespace tonaro {

// What the MIDI sequencing drives: the synthesizer's message input and its renderer.
// The hooks do nothing by default, so a missing synthesizer plays silence.
class CSynthPort {
public:
    virtual ~CSynthPort() = default;
    // One MIDI message of `length` bytes; the result is not meaningful.
    virtual int WriteMessage(const uint8_t* /*message*/, uint32_t /*length*/) { return 0; }
    // Overwrites `frames` stereo frames of 16-bit PCM (4 bytes each); returns the frames rendered.
    virtual uint32_t Render(void* /*buffer*/, uint32_t /*frames*/) { return 0; }
};

}  // namespace tonaro
