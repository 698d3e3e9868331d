#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/ByteBlock.h"
#include "audio/WaveFormat.h"
#include "preview/MidiSequencer.h"
#include "preview/PlayReceiver.h"
#include "preview/PreviewPlayerEvent.h"
#include "preview/SynthBinding.h"
#include "preview/WaveOut.h"

namespace tonaro {

class CAudioItem;
class CWaveItem;

// Plays one entry at a time on a wave-output device and tells a receiver how far it got: a MIDI
// entry by sequencing its file into the synthesizer and streaming the rendered 22050 Hz stereo
// PCM, a WAVE entry by streaming its IMA ADPCM bytes as they will be installed. The device's
// callback thread refills the buffers; Play and Stop run on the caller's thread.
//
// States: closed (-1) -> open device -> idle (0) -> start -> playing (1) -> Stop -> idle ->
// close -> closed. Stop and destruction wait until the device has closed, so no callback
// reaches the player or its buffers afterwards.
class CPreviewPlayer final : private CWaveOutClient {
public:
    static constexpr uint32_t kBufferCount = 16;
    static constexpr uint32_t kBufferBytes = 2048;

    // Probes `device` for every format a preview needs.
    CPreviewPlayer(std::unique_ptr<CWaveOut> device, std::unique_ptr<CSynthBinding> synth);
    ~CPreviewPlayer();
    CPreviewPlayer(const CPreviewPlayer&) = delete;
    CPreviewPlayer& operator=(const CPreviewPlayer&) = delete;

    // Start playing an entry whose play time is `totalMs`, stopping what plays; a result code.
    // The item's payload stays locked until Stop. Success is judged by IsPlaying afterwards: a
    // MIDI file whose header cannot be played closes the device again.
    int PlayMidi(CAudioItem* item, uint32_t totalMs, CPlayReceiver* receiver);
    int PlayWave(CWaveItem* item, uint32_t totalMs, CPlayReceiver* receiver);
    int Stop();

    bool IsReady() const { return waveOutCapable_ && synthLoaded_; }
    bool IsWaveOutCapable() const { return waveOutCapable_; }
    bool IsSynthLoaded() const { return synthLoaded_; }
    bool IsPlaying() const { return state_ == kPlaying; }

private:
    enum class Mode { Midi, Wave };
    enum State : int { kClosed = -1, kIdle = 0, kPlaying = 1 };

    void ProbeDevice();
    int Begin(CAudioItem* item, Mode mode, uint32_t totalMs, CPlayReceiver* receiver);
    int OpenDevice(const AdpcmWaveFormat& format);
    int CloseDevice();
    void StartMidi();
    void StartWave();
    void Prime();
    void Queue(WaveOutHeader& header);
    uint32_t Fill(uint8_t* buffer, uint32_t bytes);
    uint32_t FillWave(uint8_t* buffer, uint32_t bytes);
    void ReleasePayload();
    void Post(uint32_t message, uint32_t param);

    void OnWaveOut(CWaveOut& device, WaveOutMessage message, WaveOutHeader* header) override;
    void HandleDone(WaveOutHeader& header);

    std::unique_ptr<CSynthBinding> synth_;
    CMidiSequencer sequencer_;
    bool synthLoaded_ = false;
    bool waveOutCapable_ = false;

    std::mutex lock_;  // the callback's handling of a finished buffer, and stopping_
    bool stopping_ = false;
    CAutoResetEvent closed_;

    int state_ = kClosed;
    Mode mode_ = Mode::Midi;
    bool deviceOpen_ = false;
    AdpcmWaveFormat format_;
    CByteBlock pcmBlock_;  // kBufferCount buffers of kBufferBytes
    std::unique_ptr<WaveOutHeader[]> headers_;

    CPlayReceiver* receiver_ = nullptr;
    CAudioItem* item_ = nullptr;
    const uint8_t* payload_ = nullptr;  // the item's payload, locked while playing
    uint32_t payloadLength_ = 0;
    uint32_t wavePos_ = 0;
    uint32_t totalMs_ = 0;
    uint64_t bytesPlayed_ = 0;
    uint64_t msPlayed_ = 0;
    uint64_t secondsPlayed_ = 0;
    uint64_t lastPostedSeconds_ = 0;

    // Declared last so it goes first: a device never outlives the player it calls back.
    std::unique_ptr<CWaveOut> device_;
};

}  // namespace tonaro
