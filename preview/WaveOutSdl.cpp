#include "preview/WaveOutSdl.h"

#include <SDL.h>

#include <algorithm>
#include <utility>

#include "preview/WaveOutFormats.h"

namespace tonaro {

namespace {
// Frames per SDL callback: short enough that buffers come back promptly at every rate.
constexpr Uint16 kDeviceFrames = 512;
// A query's device only shows that one opens; closing it waits out one period, so keep it short.
constexpr Uint16 kQueryFrames = 64;
}  // namespace

CSdlWaveOut::CSdlWaveOut() : audioReady_(SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {}

CSdlWaveOut::~CSdlWaveOut() {
    if (device_) Close();
    if (audioReady_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

uint32_t CSdlWaveOut::OpenDevice(const AdpcmWaveFormat& format, uint16_t frames, void* userdata) {
    SDL_AudioSpec wanted{};
    wanted.freq = int(format.wave.samplesPerSec);
    wanted.format = AUDIO_S16LSB;
    wanted.channels = uint8_t(format.wave.channels);
    wanted.samples = frames;
    wanted.callback = userdata ? &CSdlWaveOut::PullThunk : nullptr;
    wanted.userdata = userdata;
    SDL_AudioSpec obtained{};
    // No allowed changes: SDL converts our samples to whatever the device needs.
    return SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
}

int CSdlWaveOut::Query(const AdpcmWaveFormat& format) {
    if (!IsPlayableFormat(format)) return kWaveOutBadFormat;
    if (!audioReady_) return kWaveOutBadDevice;
    const uint32_t probe = OpenDevice(format, kQueryFrames, nullptr);
    if (!probe) return kWaveOutBadDevice;
    SDL_CloseAudioDevice(probe);
    return kWaveOutOk;
}

int CSdlWaveOut::Open(const AdpcmWaveFormat& format, CWaveOutClient& client) {
    if (device_) return kWaveOutBadDevice;
    if (!IsPlayableFormat(format)) return kWaveOutBadFormat;
    if (!audioReady_) return kWaveOutBadDevice;
    {
        std::lock_guard hold(mutex_);
        decoder_.emplace(format);
        frontDecoded_ = false;
    }
    client_ = &client;
    started_ = false;
    // Opened paused; the first Write starts it, so playback begins with the first buffer.
    device_ = OpenDevice(format, kDeviceFrames, this);
    if (!device_) {
        client_ = nullptr;
        return kWaveOutBadDevice;
    }
    client.OnWaveOut(*this, WaveOutMessage::Open, nullptr);
    return kWaveOutOk;
}

int CSdlWaveOut::Prepare(WaveOutHeader& header) {
    if (!device_) return kWaveOutNotOpen;
    return CWaveOutQueue::Prepare(header);
}

int CSdlWaveOut::Unprepare(WaveOutHeader& header) {
    if (!device_) return kWaveOutNotOpen;
    std::lock_guard hold(mutex_);
    return CWaveOutQueue::Unprepare(header);
}

int CSdlWaveOut::Write(WaveOutHeader& header) {
    if (!device_) return kWaveOutNotOpen;
    {
        std::lock_guard hold(mutex_);
        if (const int result = queue_.Push(header); result != kWaveOutOk) return result;
    }
    // Never under mutex_: SDL's device lock is taken before ours on the callback thread.
    if (!started_.exchange(true)) SDL_PauseAudioDevice(device_, 0);
    return kWaveOutOk;
}

void CSdlWaveOut::ReturnAll(std::vector<WaveOutHeader*> headers) {
    for (WaveOutHeader* header : headers) client_->OnWaveOut(*this, WaveOutMessage::Done, header);
}

int CSdlWaveOut::Reset() {
    if (!device_) return kWaveOutNotOpen;
    std::vector<WaveOutHeader*> returned;
    {
        std::lock_guard hold(mutex_);
        returned = queue_.TakeAllDone();
        frontDecoded_ = false;
    }
    ReturnAll(std::move(returned));
    return kWaveOutOk;
}

int CSdlWaveOut::Close() {
    if (!device_) return kWaveOutNotOpen;
    // Waits for SDL's thread to finish, so no Done arrives after this.
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    std::vector<WaveOutHeader*> returned;
    {
        std::lock_guard hold(mutex_);
        returned = queue_.TakeAllDone();
        frontDecoded_ = false;
    }
    ReturnAll(std::move(returned));
    CWaveOutClient* client = std::exchange(client_, nullptr);
    client->OnWaveOut(*this, WaveOutMessage::Close, nullptr);
    return kWaveOutOk;
}

void CSdlWaveOut::PullThunk(void* self, uint8_t* stream, int length) {
    static_cast<CSdlWaveOut*>(self)->Pull(reinterpret_cast<int16_t*>(stream), size_t(length) / 2);
}

void CSdlWaveOut::Pull(int16_t* out, size_t samples) {
    size_t done = 0;
    while (done < samples) {
        WaveOutHeader* finished = nullptr;
        const size_t taken = Take(out + done, samples - done, finished);
        done += taken;
        // Outside mutex_, so the client may write the buffer again from here.
        if (finished) client_->OnWaveOut(*this, WaveOutMessage::Done, finished);
        if (!taken && !finished) break;
    }
    // Nothing queued: silence until the next buffer.
    std::fill(out + done, out + samples, int16_t(0));
}

size_t CSdlWaveOut::Take(int16_t* out, size_t samples, WaveOutHeader*& finished) {
    std::lock_guard hold(mutex_);
    if (queue_.Empty()) return 0;
    if (!frontDecoded_) {
        const WaveOutHeader& front = queue_.Front();
        decoder_->Decode(front.data, front.bufferLength, frontSamples_);
        frontPos_ = 0;
        frontDecoded_ = true;
    }
    const size_t count = std::min(samples, frontSamples_.size() - frontPos_);
    std::copy_n(frontSamples_.begin() + ptrdiff_t(frontPos_), count, out);
    frontPos_ += count;
    if (frontPos_ == frontSamples_.size()) {
        finished = &queue_.PopDone();
        frontDecoded_ = false;
    }
    return count;
}

}  // namespace tonaro
