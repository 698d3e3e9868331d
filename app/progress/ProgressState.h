#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>

namespace tonaro {

// Progress and cancellation of one long operation, shared by the flow that shows it and the
// converting code deep inside it, which knows neither the window nor its own share of the work.
// Positions are plain integers of the owner's scale (0..65535 for the progress bars).
class CProgressState {
public:
    enum Kind : int {
        kPercent = 1,   // percent of the current range; dropped once cancelled
        kPosition = 2,  // absolute position; dropped once cancelled
        kAlways = 3,    // passed on even after a cancel
    };
    using Callback = void (*)(int kind, void* target, int32_t value);

    // The one state of the process.
    static CProgressState& Global();

    void BeginProgress(void* target, Callback callback, int32_t low, int32_t high);
    void EndProgress();
    std::pair<int32_t, int32_t> GetProgressRange() const;
    void SetProgressRange(int32_t low, int32_t high);
    // Narrows [low, high] to its part from `startPercent` to `endPercent`.
    void SetProgressSubRange(int32_t low, int32_t high, int32_t startPercent, int32_t endPercent);
    // The callback always runs outside the lock, so it may call the state itself.
    void ReportProgress(int kind, int32_t value) const;
    void RequestCancel() { cancelled_.store(1, std::memory_order_relaxed); }
    // Cheap enough to poll after every event of a conversion.
    bool IsCancelled() const { return cancelled_.load(std::memory_order_relaxed) != 0; }

private:
    mutable std::mutex lock_;
    Callback callback_ = nullptr;
    int32_t low_ = 0;
    int32_t high_ = 0;
    void* target_ = nullptr;
    std::atomic<int> cancelled_{0};
};

// Saves the current range and restores it when the step ends, however it ends.
class CProgressRangeGuard {
public:
    explicit CProgressRangeGuard(CProgressState& state) : state_(state), saved_(state.GetProgressRange()) {}
    ~CProgressRangeGuard() { state_.SetProgressRange(saved_.first, saved_.second); }
    CProgressRangeGuard(const CProgressRangeGuard&) = delete;
    CProgressRangeGuard& operator=(const CProgressRangeGuard&) = delete;

    // Sets the state's range to the part of the saved range from `startPercent` to `endPercent`.
    void Narrow(int32_t startPercent, int32_t endPercent) {
        state_.SetProgressSubRange(saved_.first, saved_.second, startPercent, endPercent);
    }

private:
    CProgressState& state_;
    std::pair<int32_t, int32_t> saved_;
};

// Reports a running count as a percentage of the current range, only when the percentage moves.
class CPercentReporter {
public:
    CPercentReporter(CProgressState& state, uint64_t total) : state_(state), total_(total ? total : 1) {}
    void Update(uint64_t done) {
        const int percent = int(done >= total_ ? 100 : done * 100 / total_);
        if (percent == last_) return;
        last_ = percent;
        state_.ReportProgress(CProgressState::kPercent, percent);
    }

private:
    CProgressState& state_;
    uint64_t total_;
    int last_ = -1;
};

}  // namespace tonaro
