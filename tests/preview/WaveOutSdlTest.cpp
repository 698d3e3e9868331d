#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/ImaAdpcm.h"
#include "preview/WaveOutFormats.h"
#include "preview/WaveOutSdl.h"

namespace tonaro {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object.
class CScopedEnv {
public:
    CScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~CScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Records the device's notifications; Done may arrive on any thread.
class CRecordingClient : public CWaveOutClient {
public:
    void OnWaveOut(CWaveOut&, WaveOutMessage message, WaveOutHeader* header) override {
        std::lock_guard hold(mutex_);
        messages.push_back(message);
        if (message == WaveOutMessage::Done) {
            done.push_back(header);
            threads.push_back(std::this_thread::get_id());
        }
        changed_.notify_all();
    }
    bool WaitForDone(size_t count) {
        std::unique_lock hold(mutex_);
        return changed_.wait_for(hold, std::chrono::seconds(20), [&] { return done.size() >= count; });
    }
    std::vector<WaveOutMessage> Messages() {
        std::lock_guard hold(mutex_);
        return messages;
    }

    std::vector<WaveOutMessage> messages;
    std::vector<WaveOutHeader*> done;
    std::vector<std::thread::id> threads;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

std::vector<int16_t> ReadSamples(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    return samples;
}

class SdlWaveOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tonaro-waveout-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Writes each buffer, waits until all came back, closes; returns what the disk driver wrote
    // from the first sample that is not zero: before the first buffer arrives the driver records
    // the paused device's silence. The driver keeps real time, so all buffers are queued long
    // before the first is played out.
    std::vector<int16_t> PlayToDisk(const AdpcmWaveFormat& format, std::vector<std::vector<uint8_t>> buffers) {
        const fs::path capture = dir / "capture.raw";
        CScopedEnv driver("SDL_AUDIODRIVER", "disk");
        CScopedEnv file("SDL_DISKAUDIOFILE", capture.string());
        CSdlWaveOut device;
        CRecordingClient client;
        EXPECT_EQ(device.Open(format, client), kWaveOutOk);
        std::vector<WaveOutHeader> headers(buffers.size());
        for (size_t i = 0; i < buffers.size(); ++i) {
            headers[i].data = buffers[i].data();
            headers[i].bufferLength = uint32_t(buffers[i].size());
            EXPECT_EQ(device.Prepare(headers[i]), kWaveOutOk);
            EXPECT_EQ(device.Write(headers[i]), kWaveOutOk);
        }
        EXPECT_TRUE(client.WaitForDone(buffers.size()));
        EXPECT_EQ(device.Close(), kWaveOutOk);
        for (size_t i = 0; i < buffers.size(); ++i) {
            EXPECT_EQ(client.done[i], &headers[i]) << "buffers come back in play order";
            EXPECT_NE(client.threads[i], std::this_thread::get_id()) << "played buffers come back on the device thread";
        }
        std::vector<int16_t> samples = ReadSamples(capture);
        samples.erase(samples.begin(), std::find_if(samples.begin(), samples.end(), [](int16_t v) { return v != 0; }));
        return samples;
    }

    fs::path dir;
};

void ExpectPlayedThenSilence(const std::vector<int16_t>& played, const std::vector<int16_t>& expected) {
    ASSERT_GE(played.size(), expected.size());
    EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + ptrdiff_t(expected.size())), expected);
    for (size_t i = expected.size(); i < played.size(); ++i) ASSERT_EQ(played[i], 0) << "at sample " << i;
}

TEST_F(SdlWaveOutTest, DiskDriverReceivesPcmBuffersInOrderAndUntouched) {
    std::vector<uint8_t> first = {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};  // 1, -1, -32768, 32767
    std::vector<uint8_t> second = {0x34, 0x12, 0xCC, 0xED};                          // 0x1234, -0x1234
    const std::vector<int16_t> played = PlayToDisk(PcmPreviewFormat(), {first, second});
    ExpectPlayedThenSilence(played, {1, -1, -32768, 32767, 0x1234, -0x1234});
}

TEST_F(SdlWaveOutTest, DiskDriverReceivesDecodedImaAdpcm) {
    // One mono block cut short after its first group: first sample 100 at step index 0, then the
    // codes 7, 0, 8, 8, 0, 0, 0, 0 (low nibble first). Worked by hand through the step table:
    // 7 adds 7/8+7+7/2+7/4 = 11 (index 8, step 16); 0 adds 2 (index 7, step 14); 8 takes 1
    // (index 6, step 13); 8 takes 1 (index 5, step 12); each 0 then adds 1.
    std::vector<uint8_t> block = {100, 0, 0, 0, 0x07, 0x88, 0x00, 0x00};
    const std::vector<int16_t> played = PlayToDisk(ImaAdpcmFormat(1, 8000), {block});
    ExpectPlayedThenSilence(played, {100, 111, 113, 112, 111, 112, 113, 114, 115});
}

TEST_F(SdlWaveOutTest, AcceptsExactlyThePreviewFormats) {
    CScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    CSdlWaveOut device;
    for (uint32_t rate : kAdpcmPreviewRates) {
        for (uint16_t channels : kAdpcmPreviewChannels) {
            EXPECT_EQ(device.Query(ImaAdpcmFormat(channels, rate)), kWaveOutOk) << rate << " Hz, " << channels;
        }
    }
    EXPECT_EQ(device.Query(PcmPreviewFormat()), kWaveOutOk);

    AdpcmWaveFormat pcm44 = PcmPreviewFormat();
    pcm44.wave.samplesPerSec = 44100;
    pcm44.wave.avgBytesPerSec = 176400;
    AdpcmWaveFormat pcmMono = PcmPreviewFormat();
    pcmMono.wave.channels = 1;
    pcmMono.wave.blockAlign = 2;
    pcmMono.wave.avgBytesPerSec = 44100;
    AdpcmWaveFormat wrongBlock = ImaAdpcmFormat(1, 22050);
    wrongBlock.wave.blockAlign = 256;
    AdpcmWaveFormat otherRate = ImaAdpcmFormat(2, 11025);
    otherRate.wave.samplesPerSec = 16000;
    for (const AdpcmWaveFormat& refused : {pcm44, pcmMono, wrongBlock, otherRate, AdpcmWaveFormat{}}) {
        EXPECT_EQ(device.Query(refused), kWaveOutBadFormat);
        CRecordingClient client;
        EXPECT_EQ(device.Open(refused, client), kWaveOutBadFormat);
        EXPECT_TRUE(client.Messages().empty());
    }
}

TEST_F(SdlWaveOutTest, WithoutAUsableDriverQueryAndOpenFail) {
    CScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    CSdlWaveOut device;
    CRecordingClient client;
    EXPECT_EQ(device.Query(PcmPreviewFormat()), kWaveOutBadDevice);
    EXPECT_EQ(device.Open(PcmPreviewFormat(), client), kWaveOutBadDevice);
    WaveOutHeader header;
    EXPECT_EQ(device.Write(header), kWaveOutNotOpen);
    EXPECT_EQ(device.Close(), kWaveOutNotOpen);
    EXPECT_TRUE(client.Messages().empty());
}

TEST_F(SdlWaveOutTest, ResetAndCloseHandEveryQueuedBufferBackBeforeTheyReturn) {
    CScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    CSdlWaveOut device;
    CRecordingClient client;
    ASSERT_EQ(device.Open(PcmPreviewFormat(), client), kWaveOutOk);
    // About three seconds of PCM per buffer, so most are still queued when Reset comes.
    std::vector<uint8_t> pcm(4 * 65536);
    std::vector<WaveOutHeader> headers(6);
    for (WaveOutHeader& header : headers) {
        header.data = pcm.data();
        header.bufferLength = uint32_t(pcm.size());
        EXPECT_EQ(device.Write(header), kWaveOutUnprepared);
        ASSERT_EQ(device.Prepare(header), kWaveOutOk);
        ASSERT_EQ(device.Write(header), kWaveOutOk);
    }
    EXPECT_EQ(device.Write(headers[0]), kWaveOutStillPlaying);
    EXPECT_EQ(device.Unprepare(headers.back()), kWaveOutStillPlaying);
    ASSERT_EQ(device.Reset(), kWaveOutOk);
    EXPECT_EQ(client.done.size(), headers.size());
    for (WaveOutHeader& header : headers) {
        EXPECT_EQ(header.flags.load(), kHeaderDone | kHeaderPrepared);
        EXPECT_EQ(device.Unprepare(header), kWaveOutOk);
    }
    // Buffers still queued at Close come back before the Close notification, the last one.
    ASSERT_EQ(device.Prepare(headers[0]), kWaveOutOk);
    ASSERT_EQ(device.Write(headers[0]), kWaveOutOk);
    ASSERT_EQ(device.Close(), kWaveOutOk);
    const std::vector<WaveOutMessage> messages = client.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.front(), WaveOutMessage::Open);
    EXPECT_EQ(messages[messages.size() - 2], WaveOutMessage::Done);
    EXPECT_EQ(messages.back(), WaveOutMessage::Close);
    EXPECT_EQ(client.done.size(), headers.size() + 1);
}

}  // namespace
}  // namespace tonaro
