#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "audio/ImaAdpcm.h"
#include "audio/ImaAdpcmDecoder.h"
#include "preview/PreviewPlayer.h"
#include "preview/WaveOutCapture.h"
#include "preview/WaveOutFormats.h"
#include "tests/preview/PlayerFixture.h"

namespace tonaro {
namespace {

using test::Drain;
using test::MakeSmfItem;
using test::MakeWaveItem;
using test::NoiseBytes;

constexpr PlayMessage Time(uint32_t seconds) { return {kWmPlayTime, seconds}; }
constexpr PlayMessage End(uint32_t seconds) { return {kWmPlayEnd, seconds}; }

// A player on a capturing device; the test plays the device's buffers itself.
class PreviewPlayerTest : public ::testing::Test {
protected:
    void MakePlayer(CCaptureWaveOut::FormatFilter refuse = {},
                    std::unique_ptr<CSynthBinding> synth = std::make_unique<CSynthBinding>()) {
        auto capture = std::make_unique<CCaptureWaveOut>();
        capture->RefuseFormats(std::move(refuse));
        device = capture.get();
        player.emplace(std::move(capture), std::move(synth));
    }
    void SetUp() override {
        MakePlayer();
        ASSERT_TRUE(player->IsSynthLoaded()) << "libmevo22k.so is built next to the tests";
    }

    CCaptureWaveOut* device = nullptr;
    std::optional<CPreviewPlayer> player;
    CPlayReceiverQueue receiver;
};

TEST_F(PreviewPlayerTest, ProbeNeedsEveryAdpcmFormatAndThePcmFormat) {
    using Refuse = std::function<bool(const AdpcmWaveFormat&)>;
    const struct {
        const char* what;
        Refuse refuse;
        bool capable;
    } cases[] = {
        {"nothing refused", nullptr, true},
        {"PCM refused", [](const AdpcmWaveFormat& f) { return f.wave.formatTag == kWaveFormatPcm; }, false},
        {"stereo 44100 ADPCM refused", [](const AdpcmWaveFormat& f) { return f == ImaAdpcmFormat(2, 44100); }, false},
        {"mono 8000 ADPCM refused", [](const AdpcmWaveFormat& f) { return f == ImaAdpcmFormat(1, 8000); }, false},
    };
    for (const auto& c : cases) {
        MakePlayer(c.refuse);
        EXPECT_EQ(player->IsWaveOutCapable(), c.capable) << c.what;
        EXPECT_EQ(player->IsReady(), c.capable) << c.what;
        auto item = MakeWaveItem(ImaAdpcmFormat(1, 8000), NoiseBytes(600, 1));
        EXPECT_EQ(player->PlayWave(item.get(), 1000, &receiver), c.capable ? kResultOk : kResultFailed) << c.what;
        player->Stop();
    }
}

TEST_F(PreviewPlayerTest, WithoutTheLibraryNothingPlays) {
    MakePlayer({}, std::make_unique<CSynthBinding>("/nonexistent/libmevo22k.so"));
    EXPECT_FALSE(player->IsSynthLoaded());
    EXPECT_TRUE(player->IsWaveOutCapable());
    auto wave = MakeWaveItem(ImaAdpcmFormat(1, 8000), NoiseBytes(600, 1));
    auto smf = MakeSmfItem(test::ChordSmf());
    EXPECT_EQ(player->PlayWave(wave.get(), 1000, &receiver), kResultFailed);
    EXPECT_EQ(player->PlayMidi(smf.get(), 1000, &receiver), kResultFailed);
    EXPECT_EQ(device->OpenCount(), 0);
    EXPECT_TRUE(Drain(receiver).empty());
}

TEST_F(PreviewPlayerTest, WaveEntryPlaysItsDecodedBytesButTheLastThenSilence) {
    const struct {
        uint16_t channels;
        uint32_t rate;
        size_t bytes;
    } cases[] = {
        {1, 22050, 5 * 512 + 77},    // a partial block at the end, in the second buffer
        {2, 8000, 4 * 512 + 1},      // the last byte alone starts a new block: it is dropped
        {2, 44100, 2 * 2048 + 300},  // one block per buffer
        {1, 8000, 2048 + 1},         // the last byte alone would fill a second buffer
    };
    for (const auto& c : cases) {
        const AdpcmWaveFormat format = ImaAdpcmFormat(c.channels, c.rate);
        const std::vector<uint8_t> adpcm = NoiseBytes(c.bytes, uint32_t(c.bytes));
        auto item = MakeWaveItem(format, adpcm);
        ASSERT_EQ(player->PlayWave(item.get(), item->GetPlayTime(), &receiver), kResultOk);
        ASSERT_TRUE(player->IsPlaying());
        EXPECT_EQ(device->OpenFormat(), format);
        device->Complete(c.bytes / CPreviewPlayer::kBufferBytes + 3);

        const CImaAdpcmDecoder decoder(format);
        std::vector<int16_t> expected(decoder.SampleCount(c.bytes - 1));
        decoder.Decode(adpcm.data(), c.bytes - 1, expected.data());
        const std::vector<int16_t> played = device->Samples();
        ASSERT_GT(played.size(), expected.size()) << c.bytes;
        EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + ptrdiff_t(expected.size())), expected)
            << c.bytes;
        EXPECT_TRUE(std::all_of(played.begin() + ptrdiff_t(expected.size()), played.end(), [](int16_t v) { return !v; }))
            << "silence follows, " << c.bytes;
        EXPECT_EQ(player->Stop(), kResultOk);
    }
}

TEST_F(PreviewPlayerTest, PlayTimeIsPostedPerWholeSecondWithinThePlayTimeThenTheEndRepeats) {
    // Mono 8000 Hz plays 4055 bytes per second. 9999 of the 10000 bytes are played, in buffers
    // of 2048: after each buffer 2048, 4096, 6144, 8192, 9999 bytes (505, 1010, 1515, 2020,
    // 2465 ms), then silent buffers (12047 bytes, 2970 ms; 14095 bytes, 3475 ms).
    const struct {
        uint32_t totalMs;
        size_t buffers;
        std::vector<PlayMessage> messages;
    } cases[] = {
        {2466, 7, {Time(0), Time(1), Time(2), End(2), End(2)}},
        // Second 2 is past the play time, and the end comes with the first buffer past it.
        {1500, 4, {Time(0), Time(1), End(1), End(1)}},
    };
    for (const auto& c : cases) {
        auto item = MakeWaveItem(ImaAdpcmFormat(1, 8000), NoiseBytes(10000, 7));
        ASSERT_EQ(player->PlayWave(item.get(), c.totalMs, &receiver), kResultOk);
        EXPECT_EQ(device->Queued(), 5u);
        EXPECT_EQ(device->Complete(c.buffers), c.buffers);
        EXPECT_EQ(Drain(receiver), c.messages) << c.totalMs;

        EXPECT_EQ(player->Stop(), kResultOk);
        EXPECT_FALSE(player->IsPlaying());
        EXPECT_FALSE(device->IsOpen());
        EXPECT_EQ(device->Complete(1), 0u);
        EXPECT_TRUE(Drain(receiver).empty()) << "nothing after Stop";
    }
}

TEST_F(PreviewPlayerTest, PlayWhilePlayingStopsTheFirstEntry) {
    auto first = MakeWaveItem(ImaAdpcmFormat(1, 8000), NoiseBytes(10000, 1));
    const std::vector<uint8_t> secondBytes = NoiseBytes(3000, 2);
    auto second = MakeWaveItem(ImaAdpcmFormat(2, 22050), secondBytes);
    ASSERT_EQ(player->PlayWave(first.get(), first->GetPlayTime(), &receiver), kResultOk);
    device->Complete(1);
    ASSERT_EQ(player->PlayWave(second.get(), second->GetPlayTime(), &receiver), kResultOk);
    EXPECT_EQ(device->OpenCount(), 2);
    EXPECT_EQ(device->OpenFormat(), ImaAdpcmFormat(2, 22050));
    device->Complete(1);

    const CImaAdpcmDecoder decoder(ImaAdpcmFormat(2, 22050));
    std::vector<int16_t> expected(decoder.SampleCount(2048));
    decoder.Decode(secondBytes.data(), 2048, expected.data());
    EXPECT_EQ(device->Samples(), expected);
    EXPECT_EQ(Drain(receiver), (std::vector<PlayMessage>{Time(0), Time(0)}));
    EXPECT_EQ(player->Stop(), kResultOk);
}

TEST_F(PreviewPlayerTest, EmptyAndOneBytePayloadsPlayNothingButPostTheStart) {
    for (size_t size : {0u, 1u}) {
        const std::vector<uint8_t> bytes(size, 0x5A);
        auto wave = MakeWaveItem(ImaAdpcmFormat(1, 8000), bytes);
        ASSERT_EQ(player->PlayWave(wave.get(), 1000, &receiver), kResultOk);
        EXPECT_EQ(device->Queued(), 0u);
        // Nothing will come back from the device, so the end is reported at once.
        EXPECT_EQ(Drain(receiver), (std::vector<PlayMessage>{Time(0), End(1)})) << size;
        EXPECT_EQ(player->Stop(), kResultOk);

        auto smf = MakeSmfItem(bytes);
        ASSERT_EQ(player->PlayMidi(smf.get(), 1000, &receiver), kResultOk);
        EXPECT_FALSE(player->IsPlaying());
        EXPECT_FALSE(device->IsOpen());
        EXPECT_EQ(Drain(receiver), (std::vector<PlayMessage>{Time(0)})) << size;
    }
}

TEST_F(PreviewPlayerTest, MidiEntryStreamsSynthesizerPcmUntilEndOfTrack) {
    auto smf = MakeSmfItem(test::ChordSmf());
    ASSERT_EQ(player->PlayMidi(smf.get(), 500, &receiver), kResultOk);
    ASSERT_TRUE(player->IsPlaying());
    EXPECT_EQ(device->OpenFormat(), PcmPreviewFormat());
    EXPECT_EQ(device->Queued(), CPreviewPlayer::kBufferCount);
    // 500 ms is 11025 frames: the song ends in the 22nd buffer of 512 frames, and the first
    // buffer whose refill finds the end after 500 ms posts the end.
    device->Complete(40);
    const std::vector<int16_t> played = device->Samples();
    ASSERT_EQ(played.size(), 40u * 1024);
    EXPECT_TRUE(std::any_of(played.begin(), played.begin() + 11025 * 2, [](int16_t v) { return v != 0; }));
    EXPECT_TRUE(std::all_of(played.begin() + 22 * 1024, played.end(), [](int16_t v) { return !v; }));
    const std::vector<PlayMessage> messages = Drain(receiver);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), Time(0));
    EXPECT_EQ(messages[1], End(0));
    EXPECT_EQ(player->Stop(), kResultOk);
}

TEST_F(PreviewPlayerTest, MalformedMidiHeaderClosesTheDeviceAgain) {
    std::vector<uint8_t> smf = test::ChordSmf();
    smf[7] = 7;  // header length must be 6
    auto item = MakeSmfItem(smf);
    ASSERT_EQ(player->PlayMidi(item.get(), 500, &receiver), kResultOk);
    EXPECT_FALSE(player->IsPlaying());
    EXPECT_FALSE(device->IsOpen());
    EXPECT_EQ(device->OpenCount(), 1);
}

TEST_F(PreviewPlayerTest, StopIsRefusedUnlessPlayingAndDestructionStopsPlayback) {
    EXPECT_EQ(player->Stop(), kResultFailed);
    EXPECT_EQ(player->PlayWave(nullptr, 1000, &receiver), kResultFailed);
    auto item = MakeWaveItem(ImaAdpcmFormat(1, 8000), NoiseBytes(10000, 3));
    ASSERT_EQ(player->PlayWave(item.get(), 1000, &receiver), kResultOk);
    EXPECT_EQ(player->Stop(), kResultOk);
    EXPECT_EQ(player->Stop(), kResultFailed);

    ASSERT_EQ(player->PlayWave(item.get(), 1000, &receiver), kResultOk);
    device->Complete(2);  // 1010 ms: past the play time, so the end instead of second 1
    player.reset();       // with buffers still queued
    EXPECT_EQ(Drain(receiver), (std::vector<PlayMessage>{Time(0), Time(0), End(1)}));
}

}  // namespace
}  // namespace tonaro
