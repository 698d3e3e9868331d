#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "preview/PlayReceiver.h"

namespace tonaro {

struct PlayMessage {
    uint32_t message = 0;
    uint32_t param = 0;
    bool operator==(const PlayMessage&) const = default;
};

// A thread-safe queue of posted messages, for receivers without a window (command line, tests).
class CPlayReceiverQueue final : public CPlayReceiver {
public:
    void Post(uint32_t message, uint32_t param) override;
    // The oldest message, waiting up to `timeout` for one to arrive.
    std::optional<PlayMessage> Wait(std::chrono::milliseconds timeout);
    // The oldest message if one is waiting.
    std::optional<PlayMessage> Take() { return Wait(std::chrono::milliseconds(0)); }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<PlayMessage> messages_;
};

}  // namespace tonaro
