#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonaro {

// Chooses the 4-bit codes of one channel of one IMA ADPCM block by a beam search (a pruned
// trellis) over the exact decoder. Each step expands every path with the three codes around the
// nearest one and keeps about `survivors` of the cheapest children by summed squared error.
// Children whose decoder states are alike (the same step index, decoded values in the same span
// of 2^bucketShift) compete for one place, so the survivors spread over distinct states rather
// than crowding round the best one. The header's step index is searched too: every index 0..88
// starts a path. The header sample is the first target sample, so any standard decoder follows
// the chosen path exactly.
//
// The frontier and the children are flat arrays that each step passes over a few times without
// branching on the data: expansion (vectorised), one table of the cheapest child per state bucket,
// and a partial selection by histogram of the costs. The result depends on nothing but the input.
class CImaTrellis {
public:
    CImaTrellis(int survivors, int bucketShift);

    struct Result {
        int16_t firstSample = 0;
        uint8_t stepIndex = 0;
    };
    // Encodes `count` >= 1 target samples; writes count - 1 codes to `codes`.
    Result Encode(const int16_t* target, size_t count, uint8_t* codes);

private:
    static constexpr uint32_t kLastBin = 63;
    static constexpr size_t kBinCount = kLastBin + 1;

    // Children of the frontier for one target sample, code-major; returns how many.
    size_t Expand(int32_t target);
    // Enters every child's cost into its state bucket's entry, keeping the cheapest.
    void Dedupe(size_t count);
    // Moves about `survivors_` of the cheapest live children into the frontier and records the
    // way back for `step`.
    void Select(size_t count, size_t step);

    size_t survivors_;
    int bucketShift_;
    size_t frontierSize_ = 0;
    // The frontier: cost above its cheapest path (saturating), predictor, step index, step and
    // 4 / step.
    std::vector<uint32_t> cost_;
    std::vector<int32_t> predictor_;
    std::vector<int32_t> index_;
    std::vector<int32_t> step_;
    std::vector<float> inverseQuarterStep_;
    // Children.
    std::vector<uint32_t> childCost_;
    std::vector<int32_t> childPredictor_;
    std::vector<int32_t> childIndex_;
    std::vector<int32_t> childCode_;
    std::vector<uint32_t> childBucket_;  // dedupe table entry of the child's state
    uint32_t cheapest_ = 0;              // cost of the cheapest child
    // Per state bucket the cheapest child cost of the step; all ones between steps.
    std::vector<uint32_t> table_;
    // Selection: the live children, the rank bins of their costs, the four-way histogram of the
    // bins (bin width 2^scale_, adapted step by step), and the chosen children.
    std::vector<uint16_t> live_;
    std::vector<uint16_t> bins_;
    std::array<uint16_t, 4 * kBinCount> histogram_{};
    int scale_ = 0;
    std::vector<uint16_t> chosen_;
    // Per step and surviving node: its parent slot and code, for the way back.
    std::vector<uint16_t> traceParent_;
    std::vector<uint8_t> traceCode_;
};

}  // namespace tonaro
