// The whole-song path on any score: received in parts, fixed, generated, sought and generated
// again, in the order the input picks, with output bounded per input.
// Input: a flags byte (bit 0 repeat, bits 1-2 the part count less one, bit 3 seek before fixing),
// two bytes of seek position in ms (big-endian), then the score. A seek renders the time from the
// last event before it to the position, so positions stay within about a minute: longer ones
// run the same code for longer, and 1 ms steps can hit an event's time exactly.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "synth/EngineScoreTarget.h"
#include "synth/SynthEngine.h"
#include "synth/WholeSong.h"

namespace {

constexpr std::uint32_t kBufferBytes = 4 * 256;
constexpr int kGenerateCalls = 4;

void GenerateSome(mevo::WholeSong& song) {
    std::vector<std::uint8_t> buffer(kBufferBytes + 3);
    for (int call = 0; call < kGenerateCalls; ++call) {
        // An odd byte count asks for whole frames only.
        const std::uint32_t bytes = kBufferBytes + std::uint32_t(call & 3);
        const std::uint32_t written = song.generate(buffer.data(), bytes);
        if (written > bytes || written % mevo::WholeSong::kBytesPerFrame != 0) abort();
        if (written == 0) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t flags = data[0];
    const std::uint32_t seekMs = (std::uint32_t(data[1]) << 8) | data[2];
    const std::uint8_t* score = data + 3;
    const std::size_t scoreSize = size - 3;

    mevo::SynthEngine engine;
    mevo::EngineScoreTarget target(engine);
    mevo::WholeSong song(target);
    song.setRepeat(flags & 1);

    const std::size_t parts = ((flags >> 1) & 3) + 1;
    const std::size_t partSize = std::max<std::size_t>(1, scoreSize / parts);
    for (std::size_t at = 0; at < scoreSize; at += partSize)
        song.sendData(score + at, std::uint32_t(std::min(partSize, scoreSize - at)));

    if (flags & 8) {
        song.seek(seekMs);
        GenerateSome(song);
    }
    if (song.fixData() == 1) GenerateSome(song);
    song.seek(seekMs);
    GenerateSome(song);
    song.sendData(nullptr, 0);
    GenerateSome(song);
    return 0;
}
