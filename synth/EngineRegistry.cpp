#include "synth/EngineRegistry.h"

#include <algorithm>

namespace mevo {

void EngineRegistry::enter(SynthEngine* engine) {
    auto free = std::find(entries_.begin(), entries_.end(), nullptr);
    if (free != entries_.end()) *free = engine;
}

void EngineRegistry::leave(SynthEngine* engine) {
    std::replace(entries_.begin(), entries_.end(), engine, static_cast<SynthEngine*>(nullptr));
}

}  // namespace mevo
