#include "preview/PreviewPlayer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/ImaAdpcm.h"
#include "audio/WaveItem.h"
#include "preview/WaveOutFormats.h"

namespace tonaro {

CPreviewPlayer::CPreviewPlayer(std::unique_ptr<CWaveOut> device, std::unique_ptr<CSynthBinding> synth)
    : synth_(std::move(synth)), sequencer_(*synth_), device_(std::move(device)) {
    synthLoaded_ = synth_->IsLoaded() != 0;
    ProbeDevice();
}

CPreviewPlayer::~CPreviewPlayer() { Stop(); }

void CPreviewPlayer::ProbeDevice() {
    // The first refused format ends the probe.
    for (uint32_t rate : kAdpcmPreviewRates) {
        for (uint16_t channels : kAdpcmPreviewChannels) {
            if (device_->Query(ImaAdpcmFormat(channels, rate)) != kWaveOutOk) return;
        }
    }
    waveOutCapable_ = device_->Query(PcmPreviewFormat()) == kWaveOutOk;
}

int CPreviewPlayer::PlayMidi(CAudioItem* item, uint32_t totalMs, CPlayReceiver* receiver) {
    if (const int result = Begin(item, Mode::Midi, totalMs, receiver); result != kResultOk) return result;
    if (const int result = OpenDevice(PcmPreviewFormat()); result != kResultOk) return result;
    StartMidi();
    return kResultOk;
}

int CPreviewPlayer::PlayWave(CWaveItem* item, uint32_t totalMs, CPlayReceiver* receiver) {
    if (const int result = Begin(item, Mode::Wave, totalMs, receiver); result != kResultOk) return result;
    if (const int result = OpenDevice(item->GetOutputFormat()); result != kResultOk) return result;
    StartWave();
    return kResultOk;
}

int CPreviewPlayer::Begin(CAudioItem* item, Mode mode, uint32_t totalMs, CPlayReceiver* receiver) {
    if (!IsReady()) return kResultFailed;
    if (IsPlaying()) Stop();
    if (!item) return kResultFailed;
    item_ = item;
    mode_ = mode;
    receiver_ = receiver;
    totalMs_ = totalMs;
    bytesPlayed_ = 0;
    msPlayed_ = 0;
    secondsPlayed_ = 0;
    lastPostedSeconds_ = 0;
    Post(kWmPlayTime, 0);
    return kResultOk;
}

int CPreviewPlayer::OpenDevice(const AdpcmWaveFormat& format) {
    if (state_ != kClosed || deviceOpen_) return kResultFailed;
    pcmBlock_ = CByteBlock::Allocate(kBufferCount * kBufferBytes);
    headers_.reset(new (std::nothrow) WaveOutHeader[kBufferCount]);
    if (!pcmBlock_.IsAllocated() || !headers_) {
        pcmBlock_.Free();
        headers_.reset();
        return kResultNoMemory;
    }
    uint8_t* buffers = pcmBlock_.Lock();
    for (uint32_t i = 0; i < kBufferCount; ++i) {
        headers_[i].data = buffers + i * kBufferBytes;
        headers_[i].bufferLength = kBufferBytes;
        headers_[i].user = i;
    }
    format_ = format;
    if (format_.wave.formatTag == kWaveFormatPcm) {
        format_.wave.extraSize = 0;
        format_.samplesPerBlock = 0;
    }
    closed_.Clear();
    {
        std::lock_guard hold(lock_);
        stopping_ = false;
    }
    if (device_->Open(format_, *this) != kWaveOutOk) {
        pcmBlock_.Free();
        headers_.reset();
        return kResultUnsupported;
    }
    deviceOpen_ = true;
    state_ = kIdle;
    return kResultOk;
}

int CPreviewPlayer::CloseDevice() {
    if (state_ != kIdle || !deviceOpen_) return kResultFailed;
    // A device that did not close sends no Close notification to wait for.
    if (device_->Close() == kWaveOutOk) closed_.Wait();
    pcmBlock_.Free();
    headers_.reset();
    deviceOpen_ = false;
    state_ = kClosed;
    return kResultOk;
}

void CPreviewPlayer::StartMidi() {
    payloadLength_ = item_->GetPayloadSize();
    payload_ = item_->LockPayload();
    if (!sequencer_.Start(payload_, payload_ ? payloadLength_ : 0)) {
        ReleasePayload();
        CloseDevice();
        return;
    }
    state_ = kPlaying;
    synth_->StartRealtime();
    Prime();
}

void CPreviewPlayer::StartWave() {
    payloadLength_ = item_->GetPayloadSize();
    payload_ = item_->LockPayload();
    wavePos_ = 0;
    state_ = kPlaying;
    Prime();
}

// Every buffer is filled before the first goes to the device, so the device thread never
// refills while the caller's thread is still filling.
void CPreviewPlayer::Prime() {
    uint32_t filled = 0;
    for (; filled < kBufferCount; ++filled) {
        WaveOutHeader& header = headers_[filled];
        const uint32_t bytes = Fill(header.data, kBufferBytes);
        if (!bytes) break;
        header.bufferLength = bytes;
    }
    // With nothing queued no buffer ever comes back to report the end, so report it now.
    if (!filled) Post(kWmPlayEnd, totalMs_ / 1000);
    for (uint32_t i = 0; i < filled; ++i) Queue(headers_[i]);
}

void CPreviewPlayer::Queue(WaveOutHeader& header) {
    header.flags = 0;
    device_->Prepare(header);
    device_->Write(header);
}

uint32_t CPreviewPlayer::Fill(uint8_t* buffer, uint32_t bytes) {
    return mode_ == Mode::Midi ? sequencer_.Fill(buffer, bytes) : FillWave(buffer, bytes);
}

// The last byte of the data is never played.
uint32_t CPreviewPlayer::FillWave(uint8_t* buffer, uint32_t bytes) {
    if (!payload_ || wavePos_ + 1 >= payloadLength_) return 0;
    const uint32_t count = std::min(bytes, payloadLength_ - wavePos_ - 1);
    std::memcpy(buffer, payload_ + wavePos_, count);
    wavePos_ += count;
    return count;
}

int CPreviewPlayer::Stop() {
    if (!IsReady() || state_ != kPlaying || !deviceOpen_) return kResultFailed;
    {
        std::lock_guard hold(lock_);
        stopping_ = true;
    }
    device_->Reset();
    for (uint32_t i = 0; i < kBufferCount; ++i) {
        if (headers_[i].Has(kHeaderDone | kHeaderPrepared)) device_->Unprepare(headers_[i]);
    }
    state_ = kIdle;
    if (mode_ == Mode::Midi) synth_->StopRealtime();
    ReleasePayload();
    CloseDevice();
    return kResultOk;
}

void CPreviewPlayer::ReleasePayload() {
    if (payload_) item_->UnlockPayload();
    payload_ = nullptr;
    payloadLength_ = 0;
}

void CPreviewPlayer::Post(uint32_t message, uint32_t param) {
    if (receiver_) receiver_->Post(message, param);
}

void CPreviewPlayer::OnWaveOut(CWaveOut& device, WaveOutMessage message, WaveOutHeader* header) {
    switch (message) {
        case WaveOutMessage::Close:
            closed_.Signal();
            break;
        case WaveOutMessage::Done: {
            std::lock_guard hold(lock_);
            if (!stopping_ && &device == device_.get()) HandleDone(*header);
            break;
        }
        case WaveOutMessage::Open:
            break;
    }
}

// Runs on the device thread under lock_.
void CPreviewPlayer::HandleDone(WaveOutHeader& header) {
    if (!header.Has(kHeaderDone | kHeaderPrepared)) return;
    device_->Unprepare(header);
    const uint64_t perSecond = format_.wave.avgBytesPerSec;
    bytesPlayed_ += header.bufferLength;
    msPlayed_ = bytesPlayed_ * 1000 / perSecond;
    secondsPlayed_ = bytesPlayed_ / perSecond;
    if (secondsPlayed_ != lastPostedSeconds_ && totalMs_ >= msPlayed_) {
        Post(kWmPlayTime, uint32_t(secondsPlayed_));
        lastPostedSeconds_ = secondsPlayed_;
    }
    if (state_ != kPlaying) return;
    std::memset(header.data, 0, kBufferBytes);
    const uint32_t bytes = Fill(header.data, kBufferBytes);
    if (!bytes && msPlayed_ >= totalMs_) Post(kWmPlayEnd, totalMs_ / 1000);
    // A short fill (the end of WAVE data) is played at its own length: zeros that follow a
    // partial ADPCM block would decode to a tail that is not in the data. Buffers after the
    // end are played whole, as silence that keeps the progress going.
    header.bufferLength = bytes ? bytes : kBufferBytes;
    Queue(header);
}

}  // namespace tonaro
