#include "synth/WholeSong.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace mevo {

// Frames are copied out as they are kept: 16-bit little-endian samples.
static_assert(std::endian::native == std::endian::little);

std::int32_t WholeSong::setRepeat(std::int32_t repeat)
{
    repeat_ = repeat;
    return repeat;
}

void WholeSong::sendData(const void* data, std::uint32_t length)
{
    position_ = 0;
    if (data == nullptr || length == 0) {
        sequencer_.clear();
        return;
    }
    // When memory runs out the bytes received so far stay as they were.
    sequencer_.append({static_cast<const std::uint8_t*>(data), length});
}

std::int32_t WholeSong::fixData()
{
    return sequencer_.parse() && sequencer_.prepare(0) ? 1 : 0;
}

std::int32_t WholeSong::seek(std::uint32_t ms)
{
    position_ = 0;
    sequencer_.stop();
    if (ms == 0) {
        return 0;
    }
    if (!sequencer_.prepare(ms)) {
        return 1;
    }
    position_ = std::uint64_t{ms} * kFrameRate / 1000;
    return 0;
}

std::uint32_t WholeSong::generate(void* buffer, std::uint32_t bytes)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t frames = bytes / kBytesPerFrame;
    std::uint32_t done = 0;
    std::array<std::int16_t, 2 * kChunkFrames> chunk;
    while (frames > 0) {
        const bool alive = sequencer_.advance(position_ * 1000 / kFrameRate);
        const std::uint32_t n = std::min(frames, kChunkFrames);
        target_.render(chunk.data(), n);
        // The caller's buffer need not be aligned for 16-bit samples.
        std::memcpy(out + std::size_t{done} * kBytesPerFrame, chunk.data(), std::size_t{n} * kBytesPerFrame);
        position_ += n;
        done += n;
        frames -= n;
        if (!alive) {
            if (repeat_ == 1) {
                position_ = 0;
                sequencer_.rewind();
            } else if (std::all_of(chunk.begin(), chunk.begin() + 2 * n, [](std::int16_t s) { return s == 0; })) {
                position_ = 0;
                sequencer_.stop();
                return 0;
            }
        }
    }
    return done * kBytesPerFrame;
}

} // namespace mevo
