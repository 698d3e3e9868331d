#include <gtest/gtest.h>

#include <memory>

#include "audio/Gain.h"
#include "audio/WaveItem.h"
#include "audio/WaveTestFiles.h"

namespace tonaro {
namespace {

using test::Bytes;

TEST(WaveGain, Q15TableMatchesTheDecibelFormula) {
    const std::pair<int, uint32_t> hand[] = {{-12, 8231}, {-6, 16423}, {-1, 29205}, {0, 32768},
                                             {1, 36766},  {6, 65381},  {12, 130452}};
    for (auto [db, factor] : hand) EXPECT_EQ(GainFactorQ15(db), factor) << db;
    EXPECT_EQ(GainFactorQ15(20), 130452u);
    EXPECT_EQ(GainFactorQ15(-40), 8231u);
}

std::unique_ptr<CWaveItem> ItemWith(uint16_t bits, uint16_t channels, const Bytes& pcm) {
    auto item = std::make_unique<CWaveItem>();
    const uint16_t align = uint16_t(bits / 8 * channels);
    item->SetPcm({1, channels, 8000, 8000u * align, align, bits, 0}, pcm.data(), uint32_t(pcm.size()));
    return item;
}

Bytes PcmOf(CWaveItem& item) {
    const uint8_t* data = item.LockPcm();
    Bytes out(data, data + item.GetPcmSize());
    item.UnlockPcm();
    return out;
}

struct GainCase {
    int db;
    std::vector<int16_t> in;
    std::vector<int16_t> out;
    int stored;
};

TEST(WaveGain, SixteenBitSamplesRoundDownAndClip) {
    const GainCase cases[] = {
        {12, {10000, -10000, 0, -1}, {32767, -32768, 0, -4}, 12},  // 39810 clips; -3.98 floors to -4
        {-12, {10000, -10000, 1, -1}, {2511, -2512, 0, -1}, -12},  // floor of ±2511.9
        {20, {10000}, {32767}, 12},                                // beyond +12 acts as +12
        {0, {12345, -32768, 32767}, {12345, -32768, 32767}, 0},
    };
    for (const GainCase& c : cases) {
        auto item = ItemWith(16, 2, test::Samples16(c.in));
        item->ApplyGain(c.db);
        EXPECT_EQ(PcmOf(*item), test::Samples16(c.out)) << c.db;
        EXPECT_EQ(item->GetVolume(), c.stored);
    }
}

TEST(WaveGain, EightBitSamplesScaleAroundTheirMidpoint) {
    auto item = ItemWith(8, 1, {0, 128, 255, 100, 160});
    item->ApplyGain(6);
    // (0 - 128) × 65381 / 32768 = -255.4 → -256 → -128 → 0; 127 → 253.4 → 127 → 255;
    // -28 → -55.9 → -56 → 72; 32 → 63.8 → 63 → 191.
    EXPECT_EQ(PcmOf(*item), (Bytes{0, 128, 255, 72, 191}));
}

TEST(WaveGain, OtherWidthsAreLeftAloneButTheVolumeIsStored) {
    auto item = ItemWith(24, 1, {1, 2, 3});
    item->ApplyGain(-5);
    EXPECT_EQ(PcmOf(*item), (Bytes{1, 2, 3}));
    EXPECT_EQ(item->GetVolume(), -5);
}

}  // namespace
}  // namespace tonaro
