#pragma once

#include <cstdint>

namespace tonaro {

// Progress messages of a preview, numbered as the window messages they stand for.
inline constexpr uint32_t kWmPlayTime = 0x8064;  // parameter: whole seconds played
inline constexpr uint32_t kWmPlayEnd = 0x8065;   // parameter: the entry's total seconds

// Whoever started a preview and wants to hear how far it got. Post is called on the device's
// callback thread as well as on the thread that starts playback, so it must only queue.
class CPlayReceiver {
public:
    virtual ~CPlayReceiver() = default;
    virtual void Post(uint32_t message, uint32_t param) = 0;
};

}  // namespace tonaro
