#include "preview/WaveOutQueue.h"

namespace tonaro {

namespace {
void MarkDone(WaveOutHeader& header) {
    header.flags = (header.flags.load() & ~kHeaderInQueue) | kHeaderDone;
}
}  // namespace

int CWaveOutQueue::Prepare(WaveOutHeader& header) {
    header.flags |= kHeaderPrepared;
    return kWaveOutOk;
}

int CWaveOutQueue::Unprepare(WaveOutHeader& header) {
    if (header.Has(kHeaderInQueue)) return kWaveOutStillPlaying;
    header.flags &= ~kHeaderPrepared;
    return kWaveOutOk;
}

int CWaveOutQueue::Push(WaveOutHeader& header) {
    if (!header.Has(kHeaderPrepared)) return kWaveOutUnprepared;
    if (header.Has(kHeaderInQueue)) return kWaveOutStillPlaying;
    header.flags = (header.flags.load() & ~kHeaderDone) | kHeaderInQueue;
    queued_.push_back(&header);
    return kWaveOutOk;
}

WaveOutHeader& CWaveOutQueue::PopDone() {
    WaveOutHeader& header = *queued_.front();
    queued_.pop_front();
    MarkDone(header);
    return header;
}

std::vector<WaveOutHeader*> CWaveOutQueue::TakeAllDone() {
    std::vector<WaveOutHeader*> taken(queued_.begin(), queued_.end());
    queued_.clear();
    for (WaveOutHeader* header : taken) MarkDone(*header);
    return taken;
}

}  // namespace tonaro
