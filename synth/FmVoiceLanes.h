#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace mevo {

class FmVoice;
struct FmTables;

// Renders two-operator voices in vector lanes (eight with AVX2, sixteen with AVX-512), with the
// scalar kernels' integer arithmetic step for step, so the output is the same to the bit.
// Envelope state changes (attack start, attack end, decay end, fade out) are rare and settled
// lane by lane.
class FmVoiceLanes {
public:
    static constexpr std::size_t kMaxVoices = 16;

    FmVoiceLanes();
    ~FmVoiceLanes();

    // True where the processor runs AVX2.
    static bool available();
    // True where it also runs AVX-512, which renders sixteen lanes at once.
    static bool wideAvailable();
    // Renders with AVX2 alone even where AVX-512 is available (for comparing the two).
    void useWide(bool on) { wide_ = on && wideAvailable(); }
    // Adds `count` (at most 16) two-operator voices that passed beginBlock into the accumulators.
    // A voice that keeps its lane from the call before, with no change but its LFO, is not
    // loaded again.
    void render(FmVoice* const* voices, std::size_t count, const FmTables& tables, std::int32_t* left,
                std::int32_t* right, std::uint32_t frames);
    // Forgets what the lanes hold; for calls in which the voices render without them.
    void invalidate();

    struct Group;

private:
    static void load(Group& group, FmVoice* const* voices, std::size_t count);
    static void store(const Group& group);

    std::unique_ptr<Group> group_;
    bool wide_ = wideAvailable();
};

}  // namespace mevo
