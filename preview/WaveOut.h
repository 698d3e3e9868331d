#pragma once

#include <atomic>
#include <cstdint>

#include "audio/WaveFormat.h"

namespace tonaro {

// Results of wave-output calls, with the numbers the multimedia system gives them.
enum WaveOutResult : int {
    kWaveOutOk = 0,
    kWaveOutBadDevice = 2,     // no usable device
    kWaveOutNotOpen = 5,       // the call needs an open device
    kWaveOutBadFormat = 32,    // the device does not play this format
    kWaveOutStillPlaying = 33, // the buffer is still queued
    kWaveOutUnprepared = 34,   // the buffer was not prepared
};

// Header flags.
inline constexpr uint32_t kHeaderDone = 0x01;
inline constexpr uint32_t kHeaderPrepared = 0x02;
inline constexpr uint32_t kHeaderInQueue = 0x10;

// One buffer handed to the device. `flags` is atomic because the device thread marks a buffer
// done while the owner may be looking at it.
struct WaveOutHeader {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0;
    uint32_t user = 0;
    std::atomic<uint32_t> flags{0};

    bool Has(uint32_t mask) const { return (flags.load() & mask) == mask; }
};

enum class WaveOutMessage { Open, Close, Done };

class CWaveOut;

// Receives a device's notifications: Open and Close on the thread that opens or closes it, Done
// on the device's own thread (or on the thread calling Reset for the buffers Reset returns). The
// client may prepare and write buffers from inside Done.
class CWaveOutClient {
public:
    virtual void OnWaveOut(CWaveOut& device, WaveOutMessage message, WaveOutHeader* header) = 0;

protected:
    ~CWaveOutClient() = default;
};

// A wave-output device: buffers written to it are played in order and handed back done.
// Formats are 22050 Hz 16-bit stereo PCM and the IMA ADPCM formats of WaveOutFormats.h. One open
// at a time; after Close has returned (and sent Close) no notification arrives any more.
class CWaveOut {
public:
    virtual ~CWaveOut() = default;

    // Whether the device would play `format`; leaves nothing open.
    virtual int Query(const AdpcmWaveFormat& format) = 0;
    virtual int Open(const AdpcmWaveFormat& format, CWaveOutClient& client) = 0;
    virtual int Prepare(WaveOutHeader& header) = 0;
    virtual int Unprepare(WaveOutHeader& header) = 0;
    // Queues a prepared buffer; playback starts with the first buffer written after Open.
    virtual int Write(WaveOutHeader& header) = 0;
    // Stops playback and hands every queued buffer back done, before returning.
    virtual int Reset() = 0;
    // Hands back what is still queued, closes the device and sends Close. Fails only when
    // nothing is open.
    virtual int Close() = 0;
};

}  // namespace tonaro
