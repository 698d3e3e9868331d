#include <gtest/gtest.h>

#include <cmath>

#include "audio/ImaAdpcm.h"
#include "audio/ImaAdpcmDecoder.h"
#include "audio/ImaAdpcmEncoder.h"
#include "audio/WaveItem.h"
#include "audio/WaveTestFiles.h"

namespace tonaro {
namespace {

using test::Bytes;

TEST(ImaAdpcmFormat, FollowsTheBlockTable) {
    struct Row {
        uint16_t channels;
        uint32_t rate;
        uint16_t blockAlign, samplesPerBlock;
        uint32_t avgBytes;
    };
    const Row table[] = {{1, 8000, 256, 505, 4055},     {1, 11025, 256, 505, 5588},   {1, 22050, 512, 1017, 11100},
                         {1, 44100, 1024, 2041, 22125}, {2, 8000, 512, 505, 8110},    {2, 11025, 512, 505, 11177},
                         {2, 22050, 1024, 1017, 22201}, {2, 44100, 2048, 2041, 44251}};
    for (const Row& row : table) {
        const AdpcmWaveFormat format = ImaAdpcmFormat(row.channels, row.rate);
        EXPECT_EQ(format.wave, (WaveFormat{17, row.channels, row.rate, row.avgBytes, row.blockAlign, 4, 2}))
            << row.channels << " " << row.rate;
        EXPECT_EQ(format.samplesPerBlock, row.samplesPerBlock);
    }
}

TEST(ImaAdpcmDecoder, DecodesByHand) {
    // Mono block: first sample 1000 at step index 0 (step 7); codes 7, F, 0, 8, then zeros.
    Bytes block(256, 0);
    block[0] = 0xE8;
    block[1] = 0x03;
    block[4] = 0xF7;
    block[5] = 0x80;
    const CImaAdpcmDecoder decoder(ImaAdpcmFormat(1, 8000));
    ASSERT_EQ(decoder.SampleCount(block.size()), 505u);
    std::vector<int16_t> out(505);
    decoder.Decode(block.data(), block.size(), out.data());
    // 7: +(0+7+3+1) → 1011, index 8 (step 16); F: -(2+16+8+4) → 981, index 16 (step 34);
    // 0: +4 → 985, index 15 (step 31); 8: -3 → 982, index 14.
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 5), (std::vector<int16_t>{1000, 1011, 981, 985, 982}));
}

TEST(ImaAdpcmDecoder, InterleavesStereoGroupsAndSaturates) {
    Bytes block(512, 0);
    block[0] = 0xFF;  // left: 32767 at index 88
    block[1] = 0x7F;
    block[2] = 88;
    block[4] = 0x9C;  // right: -100 at index 0
    block[5] = 0xFF;
    block[8] = 0x07;   // left code 7: stays at 32767
    block[12] = 0x0F;  // right code F: -100 - 11 = -111
    const CImaAdpcmDecoder decoder(ImaAdpcmFormat(2, 8000));
    std::vector<int16_t> out(decoder.SampleCount(block.size()));
    ASSERT_EQ(out.size(), 2u * 505);
    decoder.Decode(block.data(), block.size(), out.data());
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 4), (std::vector<int16_t>{32767, -100, 32767, -111}));
}

TEST(ImaAdpcmDecoder, DecodesAPartialLastBlockOnlyAsFarAsItsBytes) {
    const CImaAdpcmDecoder decoder(ImaAdpcmFormat(1, 8000));
    EXPECT_EQ(decoder.SampleCount(256 + 4 + 4 + 2), 505u + 1 + 8);
    EXPECT_EQ(decoder.SampleCount(3), 0u);
    const CImaAdpcmDecoder refused(AdpcmWaveFormat{{1, 1, 8000, 16000, 2, 16, 0}, 1});
    EXPECT_EQ(refused.SampleCount(1000), 0u);
}

std::vector<int16_t> Signal(size_t count, uint32_t rate, int channels) {
    // Two partials and a decaying burst: something with level changes for the step index to follow.
    std::vector<int16_t> out(count * channels);
    for (size_t i = 0; i < count; ++i) {
        const double t = double(i) / rate;
        const double burst = std::exp(-8 * std::fmod(t, 0.5)) * std::sin(2 * M_PI * 1500 * t);
        for (int c = 0; c < channels; ++c)
            out[i * channels + c] = int16_t(9000 * std::sin(2 * M_PI * (220 + 110 * c) * t) +
                                            6000 * std::sin(2 * M_PI * 3100 * t) + 12000 * burst);
    }
    return out;
}

double Snr(const std::vector<int16_t>& source, const std::vector<int16_t>& decoded) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < source.size(); ++i) {
        signal += double(source[i]) * source[i];
        noise += (double(source[i]) - decoded[i]) * (double(source[i]) - decoded[i]);
    }
    return 10 * std::log10(signal / noise);
}

// The plain encoder: each code the standard quantiser picks, one sample at a time.
std::vector<int16_t> GreedyDecoded(const std::vector<int16_t>& source, int channels, uint32_t samplesPerBlock) {
    std::vector<int16_t> out(source.size());
    const size_t frames = source.size() / channels;
    for (int c = 0; c < channels; ++c) {
        ImaState state;
        for (size_t i = 0; i < frames; ++i) {
            const int16_t x = source[i * channels + c];
            if (i % samplesPerBlock == 0) {
                state.predictor = x;
            } else {
                const int32_t step = kImaStepTable[state.stepIndex];
                const int32_t delta = x - state.predictor;
                const int magnitude = std::min(7, int(4 * std::abs(delta) / step));
                ImaDecodeNibble(state, (delta < 0 ? 8 : 0) | magnitude);
            }
            out[i * channels + c] = int16_t(state.predictor);
        }
    }
    return out;
}

TEST(ImaAdpcmEncoder, BeatsTheGreedyEncoderAtEveryShape) {
    for (uint32_t rate : {8000u, 22050u, 44100u}) {
        for (int channels : {1, 2}) {
            const AdpcmWaveFormat format = ImaAdpcmFormat(uint16_t(channels), rate);
            const size_t frames = 3 * format.samplesPerBlock;  // whole blocks: no padding to compare
            const std::vector<int16_t> source = Signal(frames, rate, channels);
            const Bytes pcm = test::Samples16(source);
            const WaveFormat shape{1, uint16_t(channels), rate, rate * 2 * channels, uint16_t(2 * channels), 16, 0};
            Bytes encoded(CImaAdpcmEncoder::EncodedSize(shape, uint32_t(pcm.size())));
            ASSERT_EQ(encoded.size(), 3u * format.wave.blockAlign);
            CImaAdpcmEncoder().Encode(shape, pcm.data(), uint32_t(pcm.size()), encoded.data(), nullptr);
            const CImaAdpcmDecoder decoder(format);
            std::vector<int16_t> decoded(decoder.SampleCount(encoded.size()));
            ASSERT_EQ(decoded.size(), source.size());
            decoder.Decode(encoded.data(), encoded.size(), decoded.data());
            const double ours = Snr(source, decoded);
            const double greedy = Snr(source, GreedyDecoded(source, channels, format.samplesPerBlock));
            EXPECT_GT(ours, greedy + 1.0) << rate << " " << channels;
            // Every block starts at its first sample exactly, with a valid step index.
            for (size_t b = 0; b < 3; ++b) {
                for (int c = 0; c < channels; ++c) {
                    const uint8_t* head = &encoded[b * format.wave.blockAlign + 4 * c];
                    EXPECT_EQ(int16_t(GetLe16(head)), source[b * format.samplesPerBlock * channels + c]);
                    EXPECT_LE(head[2], 88);
                    EXPECT_EQ(head[3], 0);
                }
            }
        }
    }
}

TEST(ImaAdpcmEncoder, HandlesFullScaleExtremesRepeatably) {
    // Signals whose errors reach the limits of the search's costs: full-scale square waves and an
    // alternating maximum swing. The search must give the same bytes every time and stay close to
    // the greedy coder (its coarse cost bins may trail it by a little on full-scale jumps).
    struct Case {
        const char* name;
        int16_t (*sample)(size_t);
    };
    const Case cases[] = {
        {"nyquist swing", [](size_t i) { return int16_t(i % 2 ? 32767 : -32768); }},
        {"square 100 samples", [](size_t i) { return int16_t(i / 50 % 2 ? 32767 : -32768); }},
        {"silence after a step", [](size_t i) { return int16_t(i < 700 ? 30000 : 0); }},
    };
    const AdpcmWaveFormat format = ImaAdpcmFormat(1, 22050);
    const WaveFormat shape{1, 1, 22050, 44100, 2, 16, 0};
    for (const Case& c : cases) {
        std::vector<int16_t> source(2 * format.samplesPerBlock);
        for (size_t i = 0; i < source.size(); ++i) source[i] = c.sample(i);
        const Bytes pcm = test::Samples16(source);
        Bytes first(CImaAdpcmEncoder::EncodedSize(shape, uint32_t(pcm.size())));
        Bytes second(first.size());
        CImaAdpcmEncoder().Encode(shape, pcm.data(), uint32_t(pcm.size()), first.data(), nullptr);
        CImaAdpcmEncoder().Encode(shape, pcm.data(), uint32_t(pcm.size()), second.data(), nullptr);
        EXPECT_EQ(first, second) << c.name;
        const CImaAdpcmDecoder decoder(format);
        std::vector<int16_t> decoded(decoder.SampleCount(first.size()));
        ASSERT_EQ(decoded.size(), source.size());
        decoder.Decode(first.data(), first.size(), decoded.data());
        EXPECT_GT(Snr(source, decoded), Snr(source, GreedyDecoded(source, 1, format.samplesPerBlock)) - 1.0) << c.name;
    }
}

TEST(ImaAdpcmEncoder, PadsTheLastBlockAndWidensEightBitSamples) {
    // 8-bit mono, 600 frames: two blocks of 505; the pad holds the last sample.
    const Bytes pcm(600, 200);  // (200 - 128) × 256 = 18432
    const WaveFormat shape{1, 1, 8000, 8000, 1, 8, 0};
    Bytes encoded(CImaAdpcmEncoder::EncodedSize(shape, 600));
    ASSERT_EQ(encoded.size(), 512u);
    CImaAdpcmEncoder().Encode(shape, pcm.data(), 600, encoded.data(), nullptr);
    const CImaAdpcmDecoder decoder(ImaAdpcmFormat(1, 8000));
    std::vector<int16_t> decoded(decoder.SampleCount(encoded.size()));
    decoder.Decode(encoded.data(), encoded.size(), decoded.data());
    for (size_t i = 0; i < decoded.size(); ++i) EXPECT_NEAR(decoded[i], 18432, 4) << i;
}

TEST(ImaAdpcmEncoder, RefusesShapesItCannotEncode) {
    EXPECT_EQ(CImaAdpcmEncoder::EncodedSize({1, 3, 8000, 48000, 6, 16, 0}, 6000), 0u);
    EXPECT_EQ(CImaAdpcmEncoder::EncodedSize({1, 1, 8000, 24000, 3, 24, 0}, 6000), 0u);
    EXPECT_EQ(CImaAdpcmEncoder::EncodedSize({1, 2, 8000, 32000, 4, 16, 0}, 3), 0u);  // not one whole frame
    CWaveItem item;
    const Bytes pcm(3, 0);
    item.SetPcm({1, 2, 8000, 32000, 4, 16, 0}, pcm.data(), 3);
    EXPECT_FALSE(item.EncodeAdpcm());
}

TEST(ImaAdpcmEncoder, ReportsProgressPerChunkOfOutput) {
    struct Case {
        uint32_t frames;
        std::vector<int> percents;
    };
    // Stereo 44100 Hz: 2041 frames and 2048 bytes per block, two blocks per chunk of 4096 bytes.
    // 31 blocks = 63488 bytes: 16 chunks, n = 63488 / 4096 + 1 = 16, 100 × c / 16 rounded.
    // One block: a single chunk of 2048 bytes, n = 2: 50 once.
    const Case cases[] = {
        {31 * 2041, {6, 13, 19, 25, 31, 38, 44, 50, 56, 63, 69, 75, 81, 88, 94, 100}},
        {100, {50}},
    };
    for (const Case& c : cases) {
        const Bytes pcm(size_t(c.frames) * 4, 0);
        const WaveFormat shape{1, 2, 44100, 176400, 4, 16, 0};
        Bytes encoded(CImaAdpcmEncoder::EncodedSize(shape, uint32_t(pcm.size())));
        std::vector<int> reported;
        CImaAdpcmEncoder().Encode(shape, pcm.data(), uint32_t(pcm.size()), encoded.data(),
                                  [&](int percent) { reported.push_back(percent); });
        EXPECT_EQ(reported, c.percents) << c.frames;
    }
}

TEST(ImaAdpcmItem, DecodeAdpcmGivesSixteenBitPcmOfTheOutputFormat) {
    CWaveItem item;
    const Bytes pcm(2 * 1010, 0);
    ASSERT_TRUE(item.SetPcm({1, 1, 11025, 11025, 1, 8, 0}, pcm.data(), uint32_t(pcm.size())));
    ASSERT_TRUE(item.EncodeAdpcm());
    EXPECT_EQ(item.GetOutputFormat(), ImaAdpcmFormat(1, 11025));
    EXPECT_EQ(item.GetPayloadSize(), 4u * 256);  // 2020 frames in blocks of 505
    ASSERT_TRUE(item.DecodeAdpcm());
    EXPECT_EQ(item.GetPcmFormat(), (WaveFormat{1, 1, 11025, 22050, 2, 16, 0}));
    EXPECT_EQ(item.GetPcmSize(), 4u * 505 * 2);
}

}  // namespace
}  // namespace tonaro
