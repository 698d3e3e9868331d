#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "preview/WaveOut.h"
#include "preview/WaveOutDecoder.h"
#include "preview/WaveOutQueue.h"

namespace tonaro {

// A wave-output device without a speaker, for tests. Written buffers wait until Complete plays
// them, on the caller's thread, into a record of the samples a speaker would have received
// (decoded exactly as the real device decodes them).
class CCaptureWaveOut final : public CWaveOut {
public:
    using FormatFilter = std::function<bool(const AdpcmWaveFormat&)>;

    int Query(const AdpcmWaveFormat& format) override;
    int Open(const AdpcmWaveFormat& format, CWaveOutClient& client) override;
    int Prepare(WaveOutHeader& header) override;
    int Unprepare(WaveOutHeader& header) override;
    int Write(WaveOutHeader& header) override;
    int Reset() override;
    int Close() override;

    // Plays up to `count` queued buffers in order, handing each back done; returns how many.
    size_t Complete(size_t count);
    size_t Queued();
    bool IsOpen() const { return client_ != nullptr; }
    int OpenCount() const { return openCount_; }
    // The samples of every buffer played since the last Open.
    std::vector<int16_t> Samples();
    std::optional<AdpcmWaveFormat> OpenFormat() const { return format_; }

    // Makes Query refuse the formats for which `refuse` is true.
    void RefuseFormats(FormatFilter refuse) { refuse_ = std::move(refuse); }
    // Makes Open fail as a vanished device would.
    void FailOpen(bool fail) { failOpen_ = fail; }

private:
    void ReturnAll(std::vector<WaveOutHeader*> headers);

    CWaveOutClient* client_ = nullptr;
    std::optional<AdpcmWaveFormat> format_;
    FormatFilter refuse_;
    bool failOpen_ = false;
    int openCount_ = 0;

    std::mutex mutex_;  // guards the queue and the record
    CWaveOutQueue queue_;
    std::vector<int16_t> samples_;
};

}  // namespace tonaro
