// The whole-song exports of the library. They play on the engine of the real-time exports: the
// library builds exactly one engine and enters it in the engine registry when it loads.
#include "synth/EngineRegistry.h"
#include "synth/EngineScoreTarget.h"
#include "synth/Mevo22kApi.h"
#include "synth/WholeSong.h"

#define MEVO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct WholeSongMode {
    mevo::EngineScoreTarget target;
    mevo::WholeSong song{target};

    explicit WholeSongMode(mevo::SynthEngine& engine) : target(engine) {}
};

mevo::SynthEngine* libraryEngine()
{
    mevo::SynthEngine* found = nullptr;
    mevo::EngineRegistry::forEachOther(nullptr, [&](mevo::SynthEngine& e) {
        if (found == nullptr) {
            found = &e;
        }
    });
    return found;
}

// Made on the first whole-song call, after the library's engine exists; destroyed before it.
mevo::WholeSong& wholeSong()
{
    static WholeSongMode mode(*libraryEngine());
    return mode.song;
}

} // namespace

MEVO_EXPORT int SetRepeat(int repeat)
{
    return wholeSong().setRepeat(repeat);
}

MEVO_EXPORT void SendData(const void* data, unsigned length)
{
    wholeSong().sendData(data, length);
}

MEVO_EXPORT int FixData(void)
{
    return wholeSong().fixData();
}

MEVO_EXPORT int Seek(unsigned ms)
{
    return wholeSong().seek(ms);
}

MEVO_EXPORT unsigned Generate(void* buffer, unsigned bytes)
{
    if (buffer == nullptr) {
        return 0;
    }
    return wholeSong().generate(buffer, bytes);
}
