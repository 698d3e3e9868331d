#pragma once

#include "synth/ScoreSequencer.h"
#include "synth/ScoreTarget.h"

#include <cstdint>

namespace mevo {

// The whole-song mode of the library: a score received in parts, fixed, positioned and pulled
// as PCM in chunks of at most 22 frames (one chunk is about 1 ms, which bounds the event
// timing error). Positions are 64-bit frame counts, so long songs keep their timing.
class WholeSong {
public:
    static constexpr std::uint32_t kFrameRate = 22050;
    static constexpr std::uint32_t kChunkFrames = 22;
    static constexpr std::uint32_t kBytesPerFrame = 4;

    explicit WholeSong(ScoreTarget& target) : target_(target), sequencer_(target) {}

    // Only 1 loops the song; the argument is returned.
    std::int32_t setRepeat(std::int32_t repeat);
    // Null data or length 0 stops and discards everything; otherwise appends.
    void sendData(const void* data, std::uint32_t length);
    // 1 when the received score parsed and is prepared at time 0, else 0.
    std::int32_t fixData();
    // Stops the song; with ms > 0 prepares it again at ms. 0 = done, 1 = ms lies past the end.
    std::int32_t seek(std::uint32_t ms);
    // Renders whole frames into `buffer`; returns the bytes written, or 0 when the song ended.
    std::uint32_t generate(void* buffer, std::uint32_t bytes);

    std::uint64_t position() const { return position_; }

private:
    ScoreTarget& target_;
    ScoreSequencer sequencer_;
    std::int32_t repeat_ = 0;
    std::uint64_t position_ = 0; // frames since the song start or the last seek
};

} // namespace mevo
