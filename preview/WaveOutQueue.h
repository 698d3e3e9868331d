#pragma once

#include <deque>
#include <vector>

#include "preview/WaveOut.h"

namespace tonaro {

// The header bookkeeping every wave-output device shares: prepared and queued flags, and the
// written buffers in play order. Not locked; the device serialises the calls.
class CWaveOutQueue {
public:
    static int Prepare(WaveOutHeader& header);
    static int Unprepare(WaveOutHeader& header);

    // Queues a prepared buffer that is not queued yet.
    int Push(WaveOutHeader& header);
    bool Empty() const { return queued_.empty(); }
    size_t Size() const { return queued_.size(); }
    WaveOutHeader& Front() const { return *queued_.front(); }
    // Marks the front buffer done and removes it; returns it.
    WaveOutHeader& PopDone();
    // Marks every queued buffer done and removes them all; returns them in play order.
    std::vector<WaveOutHeader*> TakeAllDone();

private:
    std::deque<WaveOutHeader*> queued_;
};

}  // namespace tonaro
