#pragma once

#include <condition_variable>
#include <mutex>

namespace tonaro {

// An auto-reset event: Wait returns once Signal was called, and consumes that signal.
class CAutoResetEvent {
public:
    void Signal() {
        {
            std::lock_guard hold(mutex_);
            signalled_ = true;
        }
        changed_.notify_one();
    }
    void Wait() {
        std::unique_lock hold(mutex_);
        changed_.wait(hold, [this] { return signalled_; });
        signalled_ = false;
    }
    void Clear() {
        std::lock_guard hold(mutex_);
        signalled_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

}  // namespace tonaro
