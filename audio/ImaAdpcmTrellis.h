#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonaro {

// Chooses the 4-bit codes of one channel of one IMA ADPCM block by a beam search (a pruned
// trellis) over the exact decoder: each step keeps the `survivors` cheapest paths by summed
// squared error, expanding each with the codes next to the nearest one. Paths whose decoder states
// are alike (the same step index, decoded values in the same span of 1024) compete for one place,
// so the survivors spread over distinct states rather than crowding round the best one; that
// spread is worth more than a wider search. The header's step index is searched too: every index
// 0..88 starts a path. The header sample is the first target sample, so any standard decoder
// follows the chosen path exactly.
class CImaTrellis {
public:
    explicit CImaTrellis(int survivors);

    struct Result {
        int16_t firstSample = 0;
        uint8_t stepIndex = 0;
    };
    // Encodes `count` >= 1 target samples; writes count - 1 codes to `codes`.
    Result Encode(const int16_t* target, size_t count, uint8_t* codes);

private:
    struct Node {
        uint64_t cost;  // summed squared error of the path
        int32_t predictor;
        int32_t stepIndex;
        uint32_t parent;  // slot of the previous step's node
        uint32_t code;
    };

    void Expand(const Node& node, uint32_t slot, int32_t target);
    // Keeps a child cheaper than the worst kept (or any while there is room), one per state key.
    void Offer(const Node& child);
    static uint32_t KeyOf(const Node& node);
    void Select(size_t step);

    static constexpr int kBucketShift = 10;  // decoded values alike within 1 << 10

    size_t survivors_;
    std::vector<Node> frontier_;
    // The cheapest children of the current step, in rising cost; count_ of them are held.
    std::vector<Node> best_;
    std::vector<uint32_t> keys_;  // KeyOf each of best_
    size_t count_ = 0;
    // One bit per key (mod 1024) offered this step: an offer whose bit is clear skips the scan.
    std::array<uint64_t, 16> seen_{};
    // Per step and surviving node: its parent slot and code, for the way back.
    std::vector<uint16_t> traceParent_;
    std::vector<uint8_t> traceCode_;
};

}  // namespace tonaro
