#include "preview/PlayReceiverQueue.h"

namespace tonaro {

void CPlayReceiverQueue::Post(uint32_t message, uint32_t param) {
    {
        std::lock_guard hold(mutex_);
        messages_.push_back({message, param});
    }
    arrived_.notify_one();
}

std::optional<PlayMessage> CPlayReceiverQueue::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock hold(mutex_);
    if (!arrived_.wait_for(hold, timeout, [this] { return !messages_.empty(); })) return std::nullopt;
    const PlayMessage next = messages_.front();
    messages_.pop_front();
    return next;
}

}  // namespace tonaro
