#pragma once

#include <array>

namespace mevo {

class SynthEngine;

// The engines of the process (at most 4 are listed). Voice definitions and wave samples that
// arrive through system-exclusive messages reach every listed engine.
class EngineRegistry {
public:
    static constexpr int kCapacity = 4;

    static void enter(SynthEngine* engine);
    static void leave(SynthEngine* engine);

    template <typename F>
    static void forEachOther(const SynthEngine* engine, F&& f) {
        for (SynthEngine* other : entries_)
            if (other && other != engine) f(*other);
    }

private:
    static inline std::array<SynthEngine*, kCapacity> entries_{};
};

}  // namespace mevo
