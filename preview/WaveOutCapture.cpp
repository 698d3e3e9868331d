#include "preview/WaveOutCapture.h"

#include <utility>

#include "preview/WaveOutFormats.h"

namespace tonaro {

int CCaptureWaveOut::Query(const AdpcmWaveFormat& format) {
    if (!IsPlayableFormat(format) || (refuse_ && refuse_(format))) return kWaveOutBadFormat;
    return kWaveOutOk;
}

int CCaptureWaveOut::Open(const AdpcmWaveFormat& format, CWaveOutClient& client) {
    if (client_ || failOpen_) return kWaveOutBadDevice;
    if (!IsPlayableFormat(format)) return kWaveOutBadFormat;
    {
        std::lock_guard hold(mutex_);
        samples_.clear();
    }
    client_ = &client;
    format_ = format;
    ++openCount_;
    client.OnWaveOut(*this, WaveOutMessage::Open, nullptr);
    return kWaveOutOk;
}

int CCaptureWaveOut::Prepare(WaveOutHeader& header) {
    if (!client_) return kWaveOutNotOpen;
    return CWaveOutQueue::Prepare(header);
}

int CCaptureWaveOut::Unprepare(WaveOutHeader& header) {
    if (!client_) return kWaveOutNotOpen;
    std::lock_guard hold(mutex_);
    return CWaveOutQueue::Unprepare(header);
}

int CCaptureWaveOut::Write(WaveOutHeader& header) {
    if (!client_) return kWaveOutNotOpen;
    std::lock_guard hold(mutex_);
    return queue_.Push(header);
}

void CCaptureWaveOut::ReturnAll(std::vector<WaveOutHeader*> headers) {
    for (WaveOutHeader* header : headers) client_->OnWaveOut(*this, WaveOutMessage::Done, header);
}

int CCaptureWaveOut::Reset() {
    if (!client_) return kWaveOutNotOpen;
    std::vector<WaveOutHeader*> returned;
    {
        std::lock_guard hold(mutex_);
        returned = queue_.TakeAllDone();
    }
    ReturnAll(std::move(returned));
    return kWaveOutOk;
}

int CCaptureWaveOut::Close() {
    if (!client_) return kWaveOutNotOpen;
    Reset();
    CWaveOutClient* client = std::exchange(client_, nullptr);
    client->OnWaveOut(*this, WaveOutMessage::Close, nullptr);
    return kWaveOutOk;
}

size_t CCaptureWaveOut::Complete(size_t count) {
    size_t completed = 0;
    for (; completed < count && client_; ++completed) {
        WaveOutHeader* finished = nullptr;
        {
            std::lock_guard hold(mutex_);
            if (queue_.Empty()) break;
            const WaveOutHeader& front = queue_.Front();
            std::vector<int16_t> played;
            CWaveOutDecoder(*format_).Decode(front.data, front.bufferLength, played);
            samples_.insert(samples_.end(), played.begin(), played.end());
            finished = &queue_.PopDone();
        }
        client_->OnWaveOut(*this, WaveOutMessage::Done, finished);
    }
    return completed;
}

size_t CCaptureWaveOut::Queued() {
    std::lock_guard hold(mutex_);
    return queue_.Size();
}

std::vector<int16_t> CCaptureWaveOut::Samples() {
    std::lock_guard hold(mutex_);
    return samples_;
}

}  // namespace tonaro
