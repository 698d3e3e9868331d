#include "audio/ImaAdpcmTrellis.h"

#include <algorithm>
#include <bit>

#include "audio/ImaAdpcm.h"

namespace tonaro {

namespace {
constexpr size_t kRootCount = kImaMaxStepIndex + 1;
constexpr size_t kChildrenPerNode = 4;
}  // namespace

CImaTrellis::CImaTrellis(int survivors)
    : survivors_(size_t(std::max(survivors, 1))), traceWidth_(std::max(survivors_, kRootCount)) {
    frontier_.reserve(traceWidth_);
    children_.reserve(traceWidth_ * kChildrenPerNode);
    // At most a quarter full, so probes stay short.
    const size_t tableSize = std::bit_ceil(traceWidth_ * kChildrenPerNode * 4);
    tableSlot_.assign(tableSize, 0);
    tableStamp_.assign(tableSize, 0);
}

CImaTrellis::Result CImaTrellis::Encode(const int16_t* target, size_t count, uint8_t* codes) {
    frontier_.clear();
    for (uint32_t index = 0; index < kRootCount; ++index) frontier_.push_back({0, target[0], int32_t(index), index, 0});
    if (traceParent_.size() < count * traceWidth_) {
        traceParent_.resize(count * traceWidth_);
        traceCode_.resize(count * traceWidth_);
    }

    for (size_t step = 1; step < count; ++step) {
        children_.clear();
        if (++stamp_ == 0) {
            std::fill(tableStamp_.begin(), tableStamp_.end(), 0);
            stamp_ = 1;
        }
        for (uint32_t slot = 0; slot < frontier_.size(); ++slot) Expand(frontier_[slot], slot, target[step]);
        Select(step);
    }

    const auto best = std::min_element(frontier_.begin(), frontier_.end(),
                                       [](const Node& a, const Node& b) { return a.cost < b.cost; });
    uint32_t slot = uint32_t(best - frontier_.begin());
    for (size_t step = count - 1; step >= 1; --step) {
        codes[step - 1] = traceCode_[step * traceWidth_ + slot];
        slot = traceParent_[step * traceWidth_ + slot];
    }
    // With one sample no step ran and the slot is a root's, which is its step index.
    return {target[0], uint8_t(count > 1 ? slot : 0)};
}

void CImaTrellis::Expand(const Node& node, uint32_t slot, int32_t target) {
    const int32_t step = kImaStepTable[node.stepIndex];
    const int32_t delta = target - node.predictor;
    const uint32_t sign = delta < 0 ? 8 : 0;
    // The code whose reconstruction lies nearest: step × (2m + 1) / 8 is closest to |delta|.
    const int nearest = std::min(7, int(4 * int64_t(delta < 0 ? -delta : delta) / step));
    auto offer = [&](uint32_t code) {
        const int32_t diff = ImaDifference(step, int(code & 7));
        const int32_t decoded = std::clamp((code & 8) ? node.predictor - diff : node.predictor + diff, -32768, 32767);
        const int64_t error = target - decoded;
        const int32_t nextIndex = std::clamp(node.stepIndex + kImaIndexTable[code], 0, kImaMaxStepIndex);
        Offer({node.cost + uint64_t(error * error), decoded, nextIndex, slot, code});
    };
    for (int magnitude = std::max(0, nearest - 1); magnitude <= std::min(7, nearest + 1); ++magnitude)
        offer(sign | uint32_t(magnitude));
    // Near zero the other sign's smallest step may keep a better state.
    if (nearest == 0) offer(sign ^ 8);
}

void CImaTrellis::Offer(const Node& child) {
    const uint32_t key = uint32_t(child.predictor + 32768);
    const size_t mask = tableSlot_.size() - 1;
    for (size_t hash = (key * 2654435761u) & mask;; hash = (hash + 1) & mask) {
        if (tableStamp_[hash] != stamp_) {
            tableStamp_[hash] = stamp_;
            tableSlot_[hash] = uint32_t(children_.size());
            children_.push_back(child);
            return;
        }
        Node& held = children_[tableSlot_[hash]];
        if (held.predictor == child.predictor) {
            if (child.cost < held.cost) held = child;
            return;
        }
    }
}

void CImaTrellis::Select(size_t step) {
    if (children_.size() > survivors_) {
        std::nth_element(children_.begin(), children_.begin() + ptrdiff_t(survivors_) - 1, children_.end(),
                         [](const Node& a, const Node& b) { return a.cost < b.cost; });
        children_.resize(survivors_);
    }
    uint16_t* parent = &traceParent_[step * traceWidth_];
    uint8_t* code = &traceCode_[step * traceWidth_];
    for (size_t slot = 0; slot < children_.size(); ++slot) {
        parent[slot] = uint16_t(children_[slot].parent);
        code[slot] = uint8_t(children_[slot].code);
    }
    frontier_.swap(children_);
}

}  // namespace tonaro
