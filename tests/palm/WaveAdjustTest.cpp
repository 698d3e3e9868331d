#include <gtest/gtest.h>

#include <memory>

#include "audio/WaveItem.h"
#include "audio/WaveTestFiles.h"
#include "palm/AudioRow.h"
#include "palm/WaveAdjustment.h"

namespace tonaro {
namespace {

using test::Bytes;

// A ramp-filled PCM file of `seconds` at the given shape.
Bytes RampWave(uint16_t channels, uint32_t rate, double seconds) {
    const test::FmtFields fields = test::PcmFields(channels, rate, 16);
    Bytes samples(size_t(seconds * fields.avgBytes));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 13 + i / 512);
    return test::PcmWave(fields, samples);
}

CWaveItem& WaveOf(CAudioRow& row) {
    return *static_cast<CWaveItem*>(row.Item());
}

Bytes Payload(CAudioRow& row) {
    const uint8_t* data = row.Item()->LockPayload();
    Bytes out(data, data + row.Item()->GetPayloadSize());
    row.Item()->UnlockPayload();
    return out;
}

class WaveAdjustTest : public ::testing::Test {
protected:
    void Load(uint16_t channels, uint32_t rate, double seconds) {
        CMemoryFile file(RampWave(channels, rate, seconds));
        ASSERT_EQ(row.LoadWave(file, "/sounds/Ramp.wav"), 0);
    }
    CAudioRow row;
};

TEST_F(WaveAdjustTest, LoadingTwoSecondsOfStereoCutsTheRowToThirtyOneBlocks) {
    Load(2, 44100, 2);
    EXPECT_EQ(row.ConvertedSize(), 172u + 63488);
    EXPECT_EQ(row.PlayTime(), 1434u);
    EXPECT_EQ(row.IsShortened(), 1);
}

TEST_F(WaveAdjustTest, LowerRatesConvertTheLoadedPcmAndClearTheCut) {
    Load(2, 44100, 2);
    const Bytes loaded = Payload(row);
    struct Step {
        uint32_t rate;
        int volume;
        uint32_t outputRate, adpcmBytes, playTime;
        int shortened;
    };
    const Step steps[] = {
        // 88200 frames → 44100 at 22050 Hz: 44 blocks of 1017 frames, 1024 bytes; 45056 × 1000 / 22201.
        {22050, 0, 22050, 45056, 2029, 0},
        // 88200 / 5.5125 = 16000 frames: 32 blocks of 505, 512 bytes; 16384 × 1000 / 8110.
        {8000, -6, 8000, 16384, 2020, 0},
        // 22050 frames at 11025 Hz: 44 blocks of 505, 512 bytes; 22528 × 1000 / 11177.
        {11025, 12, 11025, 22528, 2015, 0},
        {44100, 0, 44100, 63488, 1434, 1},
    };
    for (const Step& s : steps) {
        ASSERT_EQ(AdjustWaveRow(row, s.rate, s.volume), 0) << s.rate;
        EXPECT_EQ(WaveOf(row).GetOutputRate(), s.outputRate);
        EXPECT_EQ(row.Item()->GetPayloadSize(), s.adpcmBytes);
        EXPECT_EQ(row.ConvertedSize(), 172 + s.adpcmBytes);
        EXPECT_EQ(row.PlayTime(), s.playTime);
        EXPECT_EQ(row.IsShortened(), s.shortened);
        EXPECT_EQ(row.GetVolume(), s.volume);
        // The listed item keeps the file's samples whatever was chosen.
        EXPECT_EQ(WaveOf(row).GetPcmSize(), 88200u * 4);
        EXPECT_EQ(WaveOf(row).GetFileRate(), 44100u);
    }
    // Back at the file rate without gain: the bytes of the load, re-encoded from the same samples.
    EXPECT_EQ(Payload(row), loaded);
}

TEST_F(WaveAdjustTest, MatchesTheDialogStepsByteForByte) {
    Load(1, 22050, 3);
    ASSERT_EQ(AdjustWaveRow(row, 8000, 5), 0);
    // The volume dialog after the rate dialog chose 8.0 kHz: a working copy converts, scales, encodes.
    CWaveItem working;
    working = WaveOf(row);
    ASSERT_TRUE(working.TakePcm(&WaveOf(row)));
    ASSERT_EQ(working.ConvertPcm(8000, 0, 16), 0);
    working.ApplyGain(5);
    ASSERT_TRUE(working.EncodeAdpcm());
    const uint8_t* data = working.LockPayload();
    EXPECT_EQ(Payload(row), Bytes(data, data + working.GetPayloadSize()));
    working.UnlockPayload();
}

TEST_F(WaveAdjustTest, RateAboveTheFileRateEncodesAtTheFileRate) {
    Load(1, 22050, 1);
    const Bytes loaded = Payload(row);
    ASSERT_EQ(AdjustWaveRow(row, 44100, 0), 0);
    EXPECT_EQ(WaveOf(row).GetOutputRate(), 22050u);
    EXPECT_EQ(Payload(row), loaded);
}

TEST_F(WaveAdjustTest, RefusesBadArgumentsAndNonWaveRowsLeavingTheRowAlone) {
    CAudioRow empty;
    EXPECT_EQ(AdjustWaveRow(empty, 22050, 0), 1);
    Load(1, 44100, 1);
    const Bytes loaded = Payload(row);
    const std::pair<uint32_t, int> refused[] = {{16000, 0}, {48000, 0}, {0, 0}, {22050, 13}, {22050, -13}};
    for (auto [rate, volume] : refused) EXPECT_EQ(AdjustWaveRow(row, rate, volume), 1) << rate << " " << volume;
    EXPECT_EQ(Payload(row), loaded);
    EXPECT_EQ(row.GetVolume(), 0);
}

}  // namespace
}  // namespace tonaro
