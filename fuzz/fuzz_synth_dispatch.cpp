// The synthesizer's message dispatcher on any message sequence, with renders, real-time starts
// and stops and wave registrations in between.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/SynthFuzzInput.h"
#include "synth/SynthEngine.h"

using fuzzinput::Op;

namespace {

constexpr std::uint32_t kMaxFramesPerRender = 64 * 16;
constexpr std::uint32_t kMaxFramesPerInput = 8192;

void Render(mevo::SynthEngine& engine, std::uint32_t frames) {
    std::vector<std::int16_t> out(frames * 2);
    engine.render(out.data(), frames);
    for (const std::int16_t sample : out)
        if (sample < -32767) abort();  // the mix is clipped to -32767..32767
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mevo::SynthEngine engine;
    fuzzinput::StepReader reader({data, size});
    fuzzinput::Step step;
    std::uint32_t rendered = 0;
    while (reader.next(step)) {
        switch (step.op) {
            case Op::kMessage:
                engine.dispatch(step.bytes.data(), step.bytes.size());
                break;
            case Op::kRender: {
                // Long renders let envelopes and waves run out; the total is bounded for speed.
                const std::uint32_t frames = std::min<std::uint32_t>((step.argument + 1u) * 16u, kMaxFramesPerRender);
                if (rendered + frames > kMaxFramesPerInput) break;
                rendered += frames;
                Render(engine, frames);
                break;
            }
            case Op::kStartStop:
                if (step.argument & 1)
                    engine.stopRealtime();
                else
                    engine.startRealtime();
                break;
            case Op::kWave:
                if (step.argument & 1)
                    engine.waves().deleteWave(step.bytes.empty() ? 0 : step.bytes[0]);
                else
                    engine.waves().registerWave(step.argument >> 1 == 0 ? 0 : 60 + (step.argument >> 1), step.bytes,
                                                step.bytes.empty() ? 8000 : step.bytes[0] * 100u);
                break;
        }
    }
    Render(engine, 64);
    return 0;
}
