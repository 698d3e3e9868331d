#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "preview/WaveOut.h"
#include "preview/WaveOutDecoder.h"
#include "preview/WaveOutQueue.h"

namespace tonaro {

// The default audio device through SDL2. Written buffers are decoded here (IMA ADPCM included)
// to 16-bit samples at the buffer's own rate and channel count; SDL converts them to the
// device. SDL's callback thread is the device thread: it hands back each buffer as soon as its
// last sample is taken. SDL does not fall back to a silent driver, so without a usable device
// Query and Open fail.
class CSdlWaveOut final : public CWaveOut {
public:
    CSdlWaveOut();
    ~CSdlWaveOut() override;
    CSdlWaveOut(const CSdlWaveOut&) = delete;
    CSdlWaveOut& operator=(const CSdlWaveOut&) = delete;

    int Query(const AdpcmWaveFormat& format) override;
    int Open(const AdpcmWaveFormat& format, CWaveOutClient& client) override;
    int Prepare(WaveOutHeader& header) override;
    int Unprepare(WaveOutHeader& header) override;
    int Write(WaveOutHeader& header) override;
    int Reset() override;
    int Close() override;

private:
    static void PullThunk(void* self, uint8_t* stream, int length);
    void Pull(int16_t* out, size_t samples);
    // Copies queued samples to `out`; hands back the front buffer through `finished` when its
    // last sample went. Returns the samples copied.
    size_t Take(int16_t* out, size_t samples, WaveOutHeader*& finished);
    uint32_t OpenDevice(const AdpcmWaveFormat& format, uint16_t frames, void* userdata);
    void ReturnAll(std::vector<WaveOutHeader*> headers);

    bool audioReady_ = false;  // SDL's audio subsystem started
    uint32_t device_ = 0;      // SDL device id, 0 when closed
    CWaveOutClient* client_ = nullptr;
    std::atomic<bool> started_{false};

    std::mutex mutex_;  // guards everything below
    CWaveOutQueue queue_;
    std::optional<CWaveOutDecoder> decoder_;
    std::vector<int16_t> frontSamples_;  // the front buffer, decoded
    size_t frontPos_ = 0;
    bool frontDecoded_ = false;
};

}  // namespace tonaro
