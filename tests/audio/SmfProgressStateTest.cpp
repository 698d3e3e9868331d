#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/progress/ProgressState.h"

namespace tonaro {
namespace {

struct Recorder {
    std::vector<std::pair<int, int32_t>> reports;
    static void Callback(int kind, void* target, int32_t value) {
        static_cast<Recorder*>(target)->reports.emplace_back(kind, value);
    }
};

TEST(ProgressState, NestedRangesMapPercentages) {
    CProgressState state;
    Recorder recorder;
    state.BeginProgress(&recorder, &Recorder::Callback, 0, 65535);
    // The first of three files: its share ends at 21845.
    state.SetProgressRange(0, 21845);
    state.ReportProgress(CProgressState::kPercent, 100);
    // 70..80 % of the second file's share.
    state.SetProgressSubRange(21845, 43690, 70, 80);
    EXPECT_EQ(state.GetProgressRange(), std::make_pair(37137, 39321));
    state.ReportProgress(CProgressState::kPercent, 50);
    state.ReportProgress(CProgressState::kPosition, 7);
    state.ReportProgress(9, 1);
    EXPECT_EQ(recorder.reports, (std::vector<std::pair<int, int32_t>>{{1, 21845}, {1, 38229}, {2, 7}}));
}

TEST(ProgressState, CancelDropsPositionReportsUntilTheNextRun) {
    CProgressState state;
    Recorder recorder;
    state.ReportProgress(CProgressState::kPercent, 50);  // idle: nothing to call
    state.BeginProgress(&recorder, &Recorder::Callback, 0, 100);
    state.RequestCancel();
    state.ReportProgress(CProgressState::kPercent, 50);
    state.ReportProgress(CProgressState::kPosition, 50);
    state.ReportProgress(CProgressState::kAlways, 5);
    EXPECT_TRUE(state.IsCancelled());
    EXPECT_EQ(recorder.reports, (std::vector<std::pair<int, int32_t>>{{3, 5}}));
    state.EndProgress();
    EXPECT_FALSE(state.IsCancelled());
    state.RequestCancel();
    state.BeginProgress(&recorder, &Recorder::Callback, 0, 100);
    EXPECT_FALSE(state.IsCancelled());
}

// The callback runs outside the lock, so it may use the state; reports may come from any thread.
CProgressState g_shared;
std::atomic<int> g_calls{0};
void ReentrantCallback(int, void*, int32_t) {
    g_shared.GetProgressRange();
    ++g_calls;
}

TEST(ProgressState, CallbackMayCallTheStateFromSeveralThreads) {
    g_shared.BeginProgress(nullptr, &ReentrantCallback, 0, 1000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 1000; ++i) {
                g_shared.SetProgressSubRange(0, 1000, i % 100, 100);
                g_shared.ReportProgress(CProgressState::kPercent, 50);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(g_calls.load(), 4000);
    g_shared.EndProgress();
}

}  // namespace
}  // namespace tonaro
