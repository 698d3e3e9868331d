#include "audio/ImaAdpcmTrellis.h"

#include <algorithm>

#include "audio/ImaAdpcm.h"

namespace tonaro {

namespace {

constexpr size_t kRootCount = kImaMaxStepIndex + 1;

// ImaDifference for every step index and magnitude, looked up in the search's inner loop.
const auto kDifferences = [] {
    std::array<std::array<int32_t, 8>, kRootCount> table{};
    for (size_t index = 0; index < kRootCount; ++index)
        for (int magnitude = 0; magnitude < 8; ++magnitude)
            table[index][size_t(magnitude)] = ImaDifference(kImaStepTable[index], magnitude);
    return table;
}();

}  // namespace

CImaTrellis::CImaTrellis(int survivors)
    : survivors_(size_t(std::max(survivors, 1))), best_(survivors_), keys_(survivors_) {
    frontier_.reserve(std::max(survivors_, kRootCount));
}

CImaTrellis::Result CImaTrellis::Encode(const int16_t* target, size_t count, uint8_t* codes) {
    frontier_.clear();
    for (uint32_t index = 0; index < kRootCount; ++index) frontier_.push_back({0, target[0], int32_t(index), index, 0});
    if (traceParent_.size() < count * survivors_) {
        traceParent_.resize(count * survivors_);
        traceCode_.resize(count * survivors_);
    }

    for (size_t step = 1; step < count; ++step) {
        count_ = 0;
        seen_.fill(0);
        // The frontier rises in cost, so once a parent costs as much as the worst kept child, no
        // child of it or of any later parent can be kept.
        for (uint32_t slot = 0; slot < frontier_.size(); ++slot) {
            if (count_ == survivors_ && frontier_[slot].cost >= best_[count_ - 1].cost) break;
            Expand(frontier_[slot], slot, target[step]);
        }
        Select(step);
    }

    const auto best = std::min_element(frontier_.begin(), frontier_.end(),
                                       [](const Node& a, const Node& b) { return a.cost < b.cost; });
    uint32_t slot = uint32_t(best - frontier_.begin());
    for (size_t step = count - 1; step >= 1; --step) {
        codes[step - 1] = traceCode_[step * survivors_ + slot];
        slot = traceParent_[step * survivors_ + slot];
    }
    // With one sample no step ran and the slot is a root's, which is its step index.
    return {target[0], uint8_t(count > 1 ? slot : 0)};
}

void CImaTrellis::Expand(const Node& node, uint32_t slot, int32_t target) {
    const int32_t step = kImaStepTable[node.stepIndex];
    const std::array<int32_t, 8>& differences = kDifferences[size_t(node.stepIndex)];
    const int32_t delta = target - node.predictor;
    const uint32_t sign = delta < 0 ? 8 : 0;
    // The code whose reconstruction lies nearest: step × (2m + 1) / 8 is closest to |delta|.
    const int nearest = std::min(7, int(4 * int64_t(delta < 0 ? -delta : delta) / step));
    auto offer = [&](uint32_t code) {
        const int32_t diff = differences[code & 7];
        const int32_t decoded = std::clamp((code & 8) ? node.predictor - diff : node.predictor + diff, -32768, 32767);
        const int64_t error = target - decoded;
        const uint64_t cost = node.cost + uint64_t(error * error);
        if (count_ == survivors_ && cost >= best_[count_ - 1].cost) return;
        const int32_t nextIndex = std::clamp(node.stepIndex + kImaIndexTable[code], 0, kImaMaxStepIndex);
        Offer({cost, decoded, nextIndex, slot, code});
    };
    for (int magnitude = std::max(0, nearest - 1); magnitude <= std::min(7, nearest + 1); ++magnitude)
        offer(sign | uint32_t(magnitude));
    // Near zero the other sign's smallest step may keep a better state.
    if (nearest == 0) offer(sign ^ 8);
}

uint32_t CImaTrellis::KeyOf(const Node& node) {
    return (uint32_t(node.predictor + 32768) >> kBucketShift) << 7 | uint32_t(node.stepIndex);
}

void CImaTrellis::Offer(const Node& child) {
    const uint32_t key = KeyOf(child);
    uint64_t& word = seen_[(key >> 6) % seen_.size()];
    const uint64_t bit = uint64_t(1) << (key & 63);
    // A child replaces a dearer one of its key in place, else it displaces the dearest kept.
    size_t position = std::min(count_, survivors_ - 1);
    if (word & bit) {
        const auto held = std::find(keys_.begin(), keys_.begin() + ptrdiff_t(count_), key);
        if (held != keys_.begin() + ptrdiff_t(count_)) {
            position = size_t(held - keys_.begin());
            if (best_[position].cost <= child.cost) return;
            --count_;
        }
    }
    word |= bit;
    for (; position > 0 && best_[position - 1].cost > child.cost; --position) {
        best_[position] = best_[position - 1];
        keys_[position] = keys_[position - 1];
    }
    best_[position] = child;
    keys_[position] = key;
    count_ = std::min(count_ + 1, survivors_);
}

void CImaTrellis::Select(size_t step) {
    uint16_t* parent = &traceParent_[step * survivors_];
    uint8_t* code = &traceCode_[step * survivors_];
    frontier_.assign(best_.begin(), best_.begin() + ptrdiff_t(count_));
    for (size_t slot = 0; slot < count_; ++slot) {
        parent[slot] = uint16_t(frontier_[slot].parent);
        code[slot] = uint8_t(frontier_[slot].code);
    }
}

}  // namespace tonaro
