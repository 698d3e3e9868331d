// The real-time exports of the library and the engine they drive. The whole-song exports
// (SetRepeat, SendData, FixData, Generate, Seek) join this engine in a file of their own.
#include <cstdint>
#include <span>

#include "synth/Mevo22kApi.h"
#include "synth/SynthEngine.h"

#define MEVO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The process-wide engine, built when the library is loaded and destroyed when it is unloaded.
struct Library {
    mevo::SynthEngine engine;
    Library() { engine.loadVoiceFiles(); }
};

Library library;

}  // namespace

MEVO_EXPORT int RtGenerate(void* buffer, unsigned frames) {
    if (!buffer || frames == 0) return 0;
    library.engine.render(static_cast<std::int16_t*>(buffer), frames);
    return static_cast<int>(frames);
}

MEVO_EXPORT int RtWriteMessage(const unsigned char* message, unsigned length) {
    library.engine.dispatch(message, length);
    return 0;
}

MEVO_EXPORT int RtStart(void) {
    library.engine.startRealtime();
    return 1;
}

MEVO_EXPORT int RtStop(void) {
    library.engine.stopRealtime();
    return 0;
}

MEVO_EXPORT unsigned RtRegWave(unsigned id, const unsigned char* adpcm, unsigned length, unsigned rate) {
    if (!adpcm && length != 0) return 0;
    return library.engine.waves().registerWave(id, std::span<const std::uint8_t>(adpcm, length), rate);
}

MEVO_EXPORT void RtDelWave(unsigned id) {
    library.engine.waves().deleteWave(id);
}
