#include "audio/ImaAdpcmTrellis.h"

#include <algorithm>
#include <cstdlib>

#include "audio/ImaAdpcm.h"

namespace tonaro {

namespace {

constexpr size_t kRootCount = kImaMaxStepIndex + 1;
constexpr size_t kMaxSurvivors = 256;
constexpr size_t kCodesPerPath = 3;  // children of each path
constexpr int kTableBits = 12;       // dedupe table entries: several per child of the widest frontier
// Costs are kept relative to the cheapest path, at most kCostLimit (a path this far behind is
// lost); a child's cost saturates at kSaturated, below the dedupe table's empty entry.
constexpr uint32_t kCostLimit = uint32_t(1) << 31;
constexpr uint32_t kSaturated = UINT32_MAX - 1;

// 4 / step for every step index: the nearest magnitude is |delta| × this, truncated.
const auto kInverseQuarterSteps = [] {
    std::array<float, kRootCount> table{};
    for (size_t index = 0; index < kRootCount; ++index) table[index] = 4.0f / float(kImaStepTable[index]);
    return table;
}();

// By value, so that the search's loops vectorise.
constexpr int32_t Min(int32_t a, int32_t b) {
    return a < b ? a : b;
}
constexpr uint32_t Min(uint32_t a, uint32_t b) {
    return a < b ? a : b;
}
constexpr int32_t Clamp(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : value > high ? high : value;
}

// Child `code` (0..2: the window of three magnitudes around the nearest one, where
// step × (2m + 1) / 8 is closest to |delta|, with delta's sign) of each of `parents` paths;
// returns the cheapest child's cost.
[[gnu::always_inline]] inline uint32_t ExpandPaths(size_t parents, int32_t code, int32_t target, int bucketShift,
                                                   const uint32_t* __restrict cost,
                                                   const int32_t* __restrict predictors,
                                                   const int32_t* __restrict indices, const int32_t* __restrict steps,
                                                   const float* __restrict inverses, uint32_t* __restrict childCost,
                                                   int32_t* __restrict childPredictor, int32_t* __restrict childIndex,
                                                   int32_t* __restrict childCode, uint32_t* __restrict childBucket) {
    uint32_t cheapest = UINT32_MAX;
    for (size_t i = 0; i < parents; ++i) {
        const int32_t predictor = predictors[i];
        const int32_t step = steps[i];
        const int32_t delta = target - predictor;
        const int32_t sign = delta >> 31;
        const int32_t nearest = Min(7, int32_t(float((delta ^ sign) - sign) * inverses[i]));
        const int32_t magnitude = Clamp(nearest - 1, 0, 5) + code;
        const int32_t diff = (step >> 3) + (-(magnitude >> 2 & 1) & step) + (-(magnitude >> 1 & 1) & step >> 1) +
                             (-(magnitude & 1) & step >> 2);
        const int32_t decoded = Clamp(predictor + ((diff ^ sign) - sign), -32768, 32767);
        const uint32_t error = uint32_t(std::abs(target - decoded));
        const uint32_t square = error * error;  // below 2^32
        const uint32_t sum = cost[i] + square;
        const uint32_t total = sum < square ? kSaturated : Min(sum, kSaturated);
        const int32_t index = Clamp(indices[i] + (magnitude < 4 ? -1 : 2 * magnitude - 6), 0, kImaMaxStepIndex);
        childCost[i] = total;
        childPredictor[i] = decoded;
        childIndex[i] = index;
        childCode[i] = (sign & 8) | magnitude;
        const uint32_t key = uint32_t(decoded + 32768) >> bucketShift << 7 | uint32_t(index);
        childBucket[i] = (key * 0x9E3779B1u) >> (32 - kTableBits);
        cheapest = Min(cheapest, total);
    }
    return cheapest;
}

// Every child of the frontier, code-major; returns the cheapest child's cost. Compiled twice, for
// plain x86-64 and for AVX2 (eight paths at a time): the same integer arithmetic, the same result.
#define TONARO_EXPAND_CHILDREN(name)                                                                                   \
    uint32_t name(size_t parents, int32_t target, int bucketShift, const uint32_t* cost, const int32_t* predictors,    \
                  const int32_t* indices, const int32_t* steps, const float* inverses, uint32_t* childCost,            \
                  int32_t* childPredictor, int32_t* childIndex, int32_t* childCode, uint32_t* childBucket) {           \
        uint32_t cheapest = UINT32_MAX;                                                                                \
        for (int32_t code = 0; code < int32_t(kCodesPerPath); ++code) {                                                \
            const size_t base = size_t(code) * parents;                                                                \
            cheapest = Min(cheapest, ExpandPaths(parents, code, target, bucketShift, cost, predictors, indices, steps, \
                                                 inverses, childCost + base, childPredictor + base, childIndex + base, \
                                                 childCode + base, childBucket + base));                               \
        }                                                                                                              \
        return cheapest;                                                                                               \
    }

TONARO_EXPAND_CHILDREN(ExpandChildren)
#if defined(__x86_64__) && defined(__GNUC__)
// Set during static initialization, possibly before the processor checks' own initializer.
const bool kHasAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
__attribute__((target("avx2"))) TONARO_EXPAND_CHILDREN(ExpandChildrenAvx2)
#endif
#undef TONARO_EXPAND_CHILDREN

}  // namespace

CImaTrellis::CImaTrellis(int survivors, int bucketShift)
    : survivors_(std::clamp<size_t>(size_t(std::max(survivors, 1)), 1, kMaxSurvivors)),
      bucketShift_(std::clamp(bucketShift, 0, 16)) {
    const size_t nodes = std::max(survivors_, kRootCount);
    cost_.resize(nodes);
    predictor_.resize(nodes);
    index_.resize(nodes);
    step_.resize(nodes);
    inverseQuarterStep_.resize(nodes);
    const size_t children = nodes * kCodesPerPath;
    childCost_.resize(children);
    childPredictor_.resize(children);
    childIndex_.resize(children);
    childCode_.resize(children);
    childBucket_.resize(children);
    table_.assign(size_t(1) << kTableBits, UINT32_MAX);
    live_.resize(children);
    bins_.resize(children);
    chosen_.resize(survivors_);
}

CImaTrellis::Result CImaTrellis::Encode(const int16_t* target, size_t count, uint8_t* codes) {
    for (size_t index = 0; index < kRootCount; ++index) {
        cost_[index] = 0;
        predictor_[index] = target[0];
        index_[index] = int32_t(index);
        step_[index] = kImaStepTable[index];
        inverseQuarterStep_[index] = kInverseQuarterSteps[index];
    }
    frontierSize_ = kRootCount;
    scale_ = 8;
    if (traceParent_.size() < count * survivors_) {
        traceParent_.resize(count * survivors_);
        traceCode_.resize(count * survivors_);
    }
    for (size_t step = 1; step < count; ++step) {
        const size_t children = Expand(target[step]);
        Dedupe(children);
        Select(children, step);
    }
    const size_t best =
        size_t(std::min_element(cost_.begin(), cost_.begin() + ptrdiff_t(frontierSize_)) - cost_.begin());
    uint32_t slot = uint32_t(best);
    for (size_t step = count - 1; step >= 1; --step) {
        codes[step - 1] = traceCode_[step * survivors_ + slot];
        slot = traceParent_[step * survivors_ + slot];
    }
    // With one sample no step ran and the slot is a root's, which is its step index.
    return {target[0], uint8_t(count > 1 ? slot : 0)};
}

size_t CImaTrellis::Expand(int32_t target) {
    auto expand = ExpandChildren;
#if defined(__x86_64__) && defined(__GNUC__)
    if (kHasAvx2) expand = ExpandChildrenAvx2;
#endif
    cheapest_ = expand(frontierSize_, target, bucketShift_, cost_.data(), predictor_.data(), index_.data(),
                       step_.data(), inverseQuarterStep_.data(), childCost_.data(), childPredictor_.data(),
                       childIndex_.data(), childCode_.data(), childBucket_.data());
    return frontierSize_ * kCodesPerPath;
}

void CImaTrellis::Dedupe(size_t count) {
    const uint32_t* __restrict childCost = childCost_.data();
    const uint32_t* __restrict childBucket = childBucket_.data();
    uint32_t* __restrict table = table_.data();
    for (size_t n = 0; n < count; ++n) {
        uint32_t& best = table[childBucket[n]];
        best = std::min(best, childCost[n]);
    }
}

void CImaTrellis::Select(size_t count, size_t step) {
    const uint32_t* __restrict childCost = childCost_.data();
    const uint32_t* __restrict childBucket = childBucket_.data();
    uint32_t* __restrict table = table_.data();
    // The live children: the cheapest of each state bucket, the first of equals. Each bucket's
    // entry goes back to all ones as its live child is found.
    uint16_t* __restrict live = live_.data();
    size_t liveCount = 0;
    for (size_t n = 0; n < count; ++n) {
        uint32_t& best = table[childBucket[n]];
        const uint32_t alive = best == childCost[n];
        best |= 0 - alive;
        live[liveCount] = uint16_t(n);
        liveCount += alive;
    }
    uint16_t* __restrict chosen = chosen_.data();
    size_t kept = 0;
    if (liveCount <= survivors_) {
        std::copy_n(live, liveCount, chosen);
        kept = liveCount;
    } else {
        // Linear bins of the cost above the cheapest child, the last taking everything beyond.
        // Everything below the bin where the survivors are reached is kept, and of that bin as
        // many as fit, in slot order. The width aims the next step's cut at the middle bins.
        uint16_t* __restrict bins = bins_.data();
        const int scale = scale_;
        const uint32_t cheapest = cheapest_;
        for (size_t k = 0; k < liveCount; ++k)
            bins[k] = uint16_t(Min((childCost[live[k]] - cheapest) >> scale, kLastBin));
        // Four interleaved histograms, so that runs of one bin do not wait on each other.
        histogram_.fill(0);
        for (size_t k = 0; k < liveCount; ++k) ++histogram_[(k & 3) * kBinCount + bins[k]];
        size_t cut = 0, below = 0;
        for (;; ++cut) {
            const size_t inBin = size_t(histogram_[cut]) + histogram_[kBinCount + cut] +
                                 histogram_[2 * kBinCount + cut] + histogram_[3 * kBinCount + cut];
            if (below + inBin >= survivors_) break;
            below += inBin;
        }
        if (cut < kLastBin / 4 && scale_ > 0) --scale_;
        if (cut >= kLastBin * 3 / 4 && scale_ < 31) ++scale_;
        for (size_t k = 0; k < liveCount; ++k) {
            chosen[kept] = live[k];
            kept += bins[k] < cut;
        }
        for (size_t k = 0; k < liveCount && kept < survivors_; ++k) {
            chosen[kept] = live[k];
            kept += bins[k] == cut;
        }
    }
    const size_t parents = frontierSize_;
    uint16_t* parent = &traceParent_[step * survivors_];
    uint8_t* code = &traceCode_[step * survivors_];
    uint32_t cheapestKept = UINT32_MAX;
    for (size_t k = 0; k < kept; ++k) cheapestKept = Min(cheapestKept, childCost[chosen[k]]);
    for (size_t k = 0; k < kept; ++k) {
        const size_t n = chosen[k];
        const int32_t index = childIndex_[n];
        cost_[k] = Min(childCost[n] - cheapestKept, kCostLimit);
        predictor_[k] = childPredictor_[n];
        index_[k] = index;
        step_[k] = kImaStepTable[size_t(index)];
        inverseQuarterStep_[k] = kInverseQuarterSteps[size_t(index)];
        // Children are code-major.
        size_t from = n;
        for (size_t other = 1; other < kCodesPerPath; ++other) from -= from >= parents ? parents : 0;
        parent[k] = uint16_t(from);
        code[k] = uint8_t(childCode_[n]);
    }
    frontierSize_ = kept;
}

}  // namespace tonaro
