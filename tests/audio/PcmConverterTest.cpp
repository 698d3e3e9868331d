#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "audio/PcmConverter.h"
#include "audio/PcmFilterTables.h"
#include "audio/WaveItem.h"
#include "audio/WaveTestFiles.h"

namespace tonaro {
namespace {

using test::Bytes;

std::vector<int16_t> ToSamples(const uint8_t* bytes, uint32_t size) {
    std::vector<int16_t> out(size / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = int16_t(GetLe16(bytes + 2 * i));
    return out;
}

struct Converted {
    int result;
    std::vector<int16_t> samples;
};

Converted Convert(const Bytes& input, PcmShape source, PcmShape target, uint32_t capacity = 0) {
    Bytes output(capacity ? capacity : input.size() * 4);
    uint32_t produced = 0;
    const int result = CPcmConverter::Convert(input.data(), uint32_t(input.size()), output.data(),
                                              uint32_t(output.size()), produced, source, target);
    return {result, ToSamples(output.data(), produced)};
}

TEST(PcmConverterLayout, TablesHaveTheDesignedShape) {
    struct Shape {
        uint32_t source, target;
        int taps, rows, peak;
    };
    const Shape shapes[] = {{44100, 22050, 46, 1, 23},   {22050, 11025, 46, 1, 23},   {44100, 11025, 46, 1, 23},
                            {44100, 8000, 64, 1024, 32}, {22050, 8000, 46, 1024, 23}, {11025, 8000, 46, 1024, 23}};
    size_t bytes = 0;
    for (const Shape& s : shapes) {
        const PcmFilterTable* table = FindPcmFilterTable(s.source, s.target);
        ASSERT_NE(table, nullptr) << s.source << "->" << s.target;
        EXPECT_EQ(table->taps, s.taps);
        EXPECT_EQ(table->rows, s.rows);
        ASSERT_EQ(table->coefficients.size(), size_t(s.taps) * s.rows);
        const double* row0 = table->Row(0);
        EXPECT_EQ(std::max_element(row0, row0 + s.taps) - row0, s.peak);
        if (s.source != 22050 || s.target != 11025) bytes += table->coefficients.size() * sizeof(double);
        if (s.rows == 1) {
            for (int k = 1; k < s.peak; ++k) EXPECT_DOUBLE_EQ(row0[s.peak - k], row0[s.peak + k]);
        } else {
            // Row 1023 − p is row p reversed: the centre moves by one tap across the rows.
            for (int p : {0, 1, 300, 511}) {
                const double* a = table->Row(p);
                const double* b = table->Row(1023 - p);
                for (int k = 0; k < s.taps; ++k) EXPECT_NEAR(a[k], b[s.taps - 1 - k], 1e-12);
            }
            const double* last = table->Row(1023);
            EXPECT_EQ(std::max_element(last, last + s.taps) - last, s.peak - 1);
        }
    }
    EXPECT_EQ(FindPcmFilterTable(22050, 11025), FindPcmFilterTable(44100, 22050));
    EXPECT_EQ(bytes, 1278688u);
}

double GainDb(const double* row, int taps, double cyclesPerSample) {
    double re = 0, im = 0;
    for (int k = 0; k < taps; ++k) {
        re += row[k] * std::cos(2 * M_PI * cyclesPerSample * k);
        im -= row[k] * std::sin(2 * M_PI * cyclesPerSample * k);
    }
    return 20 * std::log10(std::hypot(re, im));
}

TEST(PcmConverterResponse, EveryTableMeetsItsPassbandAndStopband) {
    struct Required {
        uint32_t source, target;
        double dcGain, minus3Hz, minus6Hz, stopDb;
    };
    // DC gain at least this close to 1, -3 and -6 dB points no lower, and attenuation from
    // 1.2 × the target Nyquist frequency up to the source Nyquist frequency at least this deep.
    const Required required[] = {{44100, 22050, 0.9927, 10300, 10700, -70},
                                 {44100, 11025, 0.9965, 4970, 5310, -35},
                                 {44100, 8000, 0.9945, 3650, 3890, -31},
                                 {22050, 8000, 0.9972, 3650, 3830, -52},
                                 {11025, 8000, 0.9773, 3760, 3890, -100}};
    for (const Required& r : required) {
        const PcmFilterTable& table = *FindPcmFilterTable(r.source, r.target);
        for (int p : {0, table.rows / 2, table.rows - 1}) {
            const double* row = table.Row(p);
            double dc = 0;
            for (int k = 0; k < table.taps; ++k) dc += row[k];
            EXPECT_LE(std::abs(dc - 1), 1 - r.dcGain) << r.source << "->" << r.target << " row " << p;
            double minus3 = 0, minus6 = 0, stop = -400;
            for (double hz = 0; hz <= r.source / 2.0; hz += 5) {
                const double g = GainDb(row, table.taps, hz / r.source);
                if (!minus3 && g < -3) minus3 = hz;
                if (!minus6 && g < -6) minus6 = hz;
                if (hz >= 1.2 * r.target / 2) stop = std::max(stop, g);
            }
            EXPECT_GE(minus3, r.minus3Hz) << r.source << "->" << r.target << " row " << p;
            EXPECT_GE(minus6, r.minus6Hz) << r.source << "->" << r.target << " row " << p;
            EXPECT_LE(stop, r.stopDb) << r.source << "->" << r.target << " row " << p;
        }
    }
}

TEST(PcmConverterRate, HalvesStereoWithCausalTapsAtTwiceTheOutputIndex) {
    // 1000 stereo frames; an impulse of 30000 at left frame 101, right silent.
    std::vector<int16_t> input(2000, 0);
    input[202] = 30000;
    const Converted out = Convert(test::Samples16(input), {44100, 16, 2}, {22050, 16, 2});
    ASSERT_EQ(out.result, 0);
    ASSERT_EQ(out.samples.size(), 2u * 500);
    const double* row = FindPcmFilterTable(44100, 22050)->Row(0);
    for (int i = 0; i < 500; ++i) {
        // Output i sums input frames 2i, 2i − 1, ..., 2i − 45: the impulse meets tap 2i − 101.
        const int tap = 2 * i - 101;
        const int expected = tap >= 0 && tap < 46 ? int(std::trunc(row[tap] * 30000)) : 0;
        EXPECT_EQ(out.samples[2 * i], expected) << i;
        EXPECT_EQ(out.samples[2 * i + 1], 0) << i;
    }
    EXPECT_GT(out.samples[2 * 62], 14000);  // the peak: tap 23 = 2 × 62 − 101
}

TEST(PcmConverterRate, FrameCountsFollowTheStep) {
    struct Case {
        uint32_t source, target, frames, expected;
    };
    const Case cases[] = {{44100, 22050, 1000, 500},  {22050, 11025, 1001, 500}, {44100, 11025, 1000, 250},
                          {44100, 8000, 44100, 8000}, {22050, 8000, 1000, 362},  {11025, 8000, 1000, 725}};
    for (const Case& c : cases) {
        const Converted out = Convert(Bytes(c.frames * 2, 0), {c.source, 16, 1}, {c.target, 16, 1});
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.samples.size(), c.expected) << c.source << "->" << c.target;
    }
}

TEST(PcmConverterRate, SkipsTapsBeforeTheFirstSampleAndKeepsDc) {
    // Constant 10000: the first outputs use fewer taps and stay below; from 2i ≥ 45 the full row
    // (DC gain 1) gives 10000 within rounding.
    const Converted out = Convert(test::Samples16(std::vector<int16_t>(400, 10000)), {44100, 16, 1}, {22050, 16, 1});
    ASSERT_EQ(out.samples.size(), 200u);
    EXPECT_LT(out.samples[5], 9000);
    for (size_t i = 23; i < 200; ++i) EXPECT_NEAR(out.samples[i], 10000, 1) << i;
}

TEST(PcmConverterRate, NeverProducesMinus32768) {
    // Full-scale negative samples, after a step from full-scale positive that rings past them.
    std::vector<int16_t> input(3000, -32768);
    std::fill(input.begin(), input.begin() + 1500, 32767);
    for (auto [source, target] : {std::pair{44100u, 8000u}, {11025u, 8000u}, {44100u, 22050u}}) {
        const Converted out = Convert(test::Samples16(input), {source, 16, 1}, {target, 16, 1});
        ASSERT_EQ(out.result, 0);
        EXPECT_EQ(*std::min_element(out.samples.begin(), out.samples.end()), -32767) << source << "->" << target;
    }
}

TEST(PcmConverterRate, WidensEightBitSamplesBeforeFiltering) {
    // 8-bit mono 22050 Hz at 192 → (192 − 128) × 256 = 16384, then 8000 Hz 16-bit.
    const Converted out = Convert(Bytes(2205, 192), {22050, 8, 1}, {8000, 16, 1});
    ASSERT_EQ(out.result, 0);
    ASSERT_EQ(out.samples.size(), 800u);
    for (size_t i = 20; i < 800; ++i) EXPECT_NEAR(out.samples[i], 16384, 1) << i;
}

TEST(PcmConverterRate, RefusesPairsWithoutATable) {
    const std::pair<uint32_t, uint32_t> refused[] = {
        {22050, 44100}, {8000, 11025}, {11025, 11025}, {48000, 8000}, {44100, 16000}};
    for (auto [source, target] : refused)
        EXPECT_EQ(Convert(Bytes(400, 0), {source, 16, 1}, {target, 16, 1}).result, 1) << source << "->" << target;
    // The rate stage takes 16-bit samples only.
    uint32_t produced = 0;
    Bytes out(400);
    EXPECT_EQ(
        CPcmConverter::ConvertRate(out.data(), 100, out.data() + 200, 200, produced, {44100, 8, 1}, {22050, 8, 1}), 1);
}

TEST(PcmConverterRate, ReportsACutWhenTheCapacityIsShort) {
    const Converted out = Convert(Bytes(2000, 0), {44100, 16, 1}, {22050, 16, 1}, 100);
    EXPECT_EQ(out.result, 2);
    EXPECT_EQ(out.samples.size(), 50u);
}

TEST(PcmConverterStages, WidthAndChannelRulesByHand) {
    Bytes narrow(4);
    uint32_t produced = 0;
    const Bytes wide = test::Samples16({-32768, 32767, 0, -1});
    EXPECT_EQ(CPcmConverter::ConvertBits(wide.data(), 8, narrow.data(), 4, produced, 16, 8), 0);
    EXPECT_EQ(narrow, (Bytes{0, 255, 128, 127}));

    Bytes mono(4);
    const Bytes stereo16 = test::Samples16({-3, 0, 32767, 32767});
    EXPECT_EQ(CPcmConverter::ConvertChannels(stereo16.data(), 8, mono.data(), 4, produced, 16, 2, 1), 0);
    EXPECT_EQ(ToSamples(mono.data(), produced), (std::vector<int16_t>{-1, 32767}));
    const Bytes stereo8{255, 0, 3, 4};
    EXPECT_EQ(CPcmConverter::ConvertChannels(stereo8.data(), 4, mono.data(), 4, produced, 8, 2, 1), 0);
    EXPECT_EQ(Bytes(mono.begin(), mono.begin() + produced), (Bytes{127, 3}));

    Bytes doubled(8);
    EXPECT_EQ(CPcmConverter::ConvertChannels(stereo8.data(), 4, doubled.data(), 6, produced, 8, 1, 2), 2);
    EXPECT_EQ(Bytes(doubled.begin(), doubled.begin() + produced), (Bytes{255, 255, 0, 0, 3, 3}));
    EXPECT_EQ(CPcmConverter::ConvertBits(wide.data(), 8, narrow.data(), 4, produced, 16, 24), 1);
    EXPECT_EQ(CPcmConverter::ConvertChannels(wide.data(), 8, narrow.data(), 4, produced, 16, 3, 1), 1);
}

TEST(PcmConverterItem, ConvertPcmChangesTheShapeButNotTheFileRate) {
    CWaveItem item;
    const Bytes pcm(2 * 11025, 128);  // 8-bit stereo, 11025 frames
    ASSERT_TRUE(item.SetPcm({1, 2, 11025, 22050, 2, 8, 0}, pcm.data(), uint32_t(pcm.size())));
    // Equal rate: nothing changes, not even the width.
    EXPECT_EQ(item.ConvertPcm(11025, 1, 16), 0);
    EXPECT_EQ(item.GetPcmSize(), pcm.size());
    // Upward: refused, samples kept.
    EXPECT_EQ(item.ConvertPcm(22050, 0, 16), 1);
    EXPECT_EQ(item.GetPcmFormat().samplesPerSec, 11025u);
    // Channels 0 keep the count; 8000 frames of 16-bit stereo.
    EXPECT_EQ(item.ConvertPcm(8000, 0, 16), 0);
    EXPECT_EQ(item.GetPcmFormat(), (WaveFormat{1, 2, 8000, 32000, 4, 16, 0}));
    EXPECT_EQ(item.GetPcmSize(), 8000u * 4);
    EXPECT_EQ(item.GetFileRate(), 0u);
}

}  // namespace
}  // namespace tonaro
