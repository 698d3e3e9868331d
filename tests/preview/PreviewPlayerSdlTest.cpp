#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "audio/ImaAdpcm.h"
#include "preview/PreviewPlayer.h"
#include "preview/WaveOutSdl.h"
#include "tests/preview/PlayerFixture.h"

namespace tonaro {
namespace {

using test::Drain;
using test::MakeSmfItem;
using test::MakeWaveItem;
using test::NoiseBytes;

// The player on SDL's dummy driver (set for every test), whose thread calls back in real time:
// these tests look for races between that thread and Play, Stop and destruction.
class PreviewPlayerSdlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STREQ(std::getenv("SDL_AUDIODRIVER"), "dummy");
        player.emplace(std::make_unique<CSdlWaveOut>(), std::make_unique<CSynthBinding>());
        ASSERT_TRUE(player->IsReady());
    }
    void TearDown() override { player.reset(); }

    std::unique_ptr<CWaveItem> wave = MakeWaveItem(ImaAdpcmFormat(1, 8000), NoiseBytes(6000, 9));
    // At 22050 Hz the device's period, which closing waits out, is shortest.
    std::unique_ptr<CWaveItem> fastWave = MakeWaveItem(ImaAdpcmFormat(2, 22050), NoiseBytes(40000, 5));
    std::unique_ptr<CSmfItem> smf = MakeSmfItem(test::ChordSmf());
    std::optional<CPreviewPlayer> player;
    CPlayReceiverQueue receiver;
};

TEST_F(PreviewPlayerSdlTest, PlaysToTheEndOnTheDeviceThread) {
    // 5999 bytes at 4055 bytes per second: 1479 ms.
    ASSERT_EQ(player->PlayWave(wave.get(), wave->GetPlayTime(), &receiver), kResultOk);
    std::vector<PlayMessage> messages;
    while (messages.empty() || messages.back().message != kWmPlayEnd) {
        const auto next = receiver.Wait(std::chrono::seconds(20));
        ASSERT_TRUE(next) << "the device stopped calling back";
        messages.push_back(*next);
    }
    EXPECT_EQ(player->Stop(), kResultOk);
    EXPECT_EQ(messages, (std::vector<PlayMessage>{{kWmPlayTime, 0}, {kWmPlayTime, 1}, {kWmPlayEnd, 1}}));
    EXPECT_TRUE(Drain(receiver).empty());
}

TEST_F(PreviewPlayerSdlTest, StartsAndStops200TimesInARow) {
    for (int i = 0; i < 200; ++i) {
        const int result = i % 2 ? player->PlayMidi(smf.get(), 500, &receiver)
                                 : player->PlayWave(fastWave.get(), fastWave->GetPlayTime(), &receiver);
        ASSERT_EQ(result, kResultOk);
        ASSERT_TRUE(player->IsPlaying());
        // Let the device thread get going some of the time, so Stop meets it at every stage.
        std::this_thread::sleep_for(std::chrono::microseconds(i % 7 * 1500));
        ASSERT_EQ(player->Stop(), kResultOk);
        ASSERT_FALSE(player->IsPlaying());
        Drain(receiver);
        ASSERT_FALSE(receiver.Wait(std::chrono::milliseconds(i % 20 ? 0 : 30))) << "nothing after Stop";
    }
}

TEST_F(PreviewPlayerSdlTest, PlayWhilePlayingAndDestructionWhilePlaying) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(player->PlayWave(fastWave.get(), fastWave->GetPlayTime(), &receiver), kResultOk);
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 4 * 5));
        ASSERT_EQ(player->PlayMidi(smf.get(), 500, &receiver), kResultOk);
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 3 * 5));
        player.reset();
        player.emplace(std::make_unique<CSdlWaveOut>(), std::make_unique<CSynthBinding>());
    }
}

}  // namespace
}  // namespace tonaro
