#include "app/progress/ProgressState.h"

namespace tonaro {

namespace {

// a * b / c rounded to nearest with a 64-bit product, as the rest of the system's MulDiv does;
// the progress target sits below the audio library, so it keeps its own copy of the rule.
int32_t Scale(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    const int64_t product = int64_t{a} * b;
    const int64_t magnitude = product < 0 ? -product : product;
    const int64_t divisor = c < 0 ? -int64_t{c} : int64_t{c};
    const int64_t quotient = (magnitude + divisor / 2) / divisor;
    return int32_t((product < 0) != (c < 0) ? -quotient : quotient);
}

}  // namespace

CProgressState& CProgressState::Global() {
    static CProgressState state;
    return state;
}

void CProgressState::BeginProgress(void* target, Callback callback, int32_t low, int32_t high) {
    std::lock_guard guard(lock_);
    target_ = target;
    callback_ = callback;
    low_ = low;
    high_ = high;
    cancelled_.store(0, std::memory_order_relaxed);
}

void CProgressState::EndProgress() {
    std::lock_guard guard(lock_);
    target_ = nullptr;
    callback_ = nullptr;
    low_ = high_ = 0;
    cancelled_.store(0, std::memory_order_relaxed);
}

std::pair<int32_t, int32_t> CProgressState::GetProgressRange() const {
    std::lock_guard guard(lock_);
    return {low_, high_};
}

void CProgressState::SetProgressRange(int32_t low, int32_t high) {
    std::lock_guard guard(lock_);
    low_ = low;
    high_ = high;
}

void CProgressState::SetProgressSubRange(int32_t low, int32_t high, int32_t startPercent, int32_t endPercent) {
    const int32_t newLow = low + Scale(high - low, startPercent, 100);
    const int32_t newHigh = low + Scale(high - low, endPercent, 100);
    SetProgressRange(newLow, newHigh);
}

void CProgressState::ReportProgress(int kind, int32_t value) const {
    Callback callback;
    void* target;
    int32_t low, high;
    {
        std::lock_guard guard(lock_);
        callback = callback_;
        target = target_;
        low = low_;
        high = high_;
    }
    if (!callback) return;
    const bool cancelled = IsCancelled();
    switch (kind) {
        case kPercent:
            if (!cancelled) callback(kPercent, target, low + Scale(high - low, value, 100));
            break;
        case kPosition:
            if (!cancelled) callback(kPosition, target, value);
            break;
        case kAlways:
            callback(kAlways, target, value);
            break;
        default:
            break;
    }
}

}  // namespace tonaro
