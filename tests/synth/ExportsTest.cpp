// The built shared library's real-time exports, called through dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "synth/Mevo22kApi.h"

namespace {

const std::string kLibrary = std::string(TONARO_BIN_DIR) + "/libmevo22k.so";

class SynthLibraryCalls : public ::testing::Test {
protected:
    void SetUp() override {
        module = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        generate = reinterpret_cast<RtGenerateFn>(dlsym(module, "RtGenerate"));
        write = reinterpret_cast<RtWriteMessageFn>(dlsym(module, "RtWriteMessage"));
        start = reinterpret_cast<RtStartFn>(dlsym(module, "RtStart"));
        stop = reinterpret_cast<RtStopFn>(dlsym(module, "RtStop"));
        regWave = reinterpret_cast<RtRegWaveFn>(dlsym(module, "RtRegWave"));
        delWave = reinterpret_cast<RtDelWaveFn>(dlsym(module, "RtDelWave"));
        ASSERT_TRUE(generate && write && start && stop && regWave && delWave);
    }
    void TearDown() override {
        if (module) dlclose(module);
    }

    void* module = nullptr;
    RtGenerateFn generate = nullptr;
    RtWriteMessageFn write = nullptr;
    RtStartFn start = nullptr;
    RtStopFn stop = nullptr;
    RtRegWaveFn regWave = nullptr;
    RtDelWaveFn delWave = nullptr;
};

// A short preview from RtStart to RtStop as the player drives it: messages at 22-frame chunk
// boundaries. Notes overlap on several channels with vibrato and a pitch bend, so voice slots
// are reused and the LFOs run while earlier releases still sound.
std::vector<int16_t> playPreview(RtStartFn start, RtWriteMessageFn write, RtGenerateFn generate, RtStopFn stop) {
    struct Timed {
        unsigned chunk;
        std::vector<unsigned char> message;
    };
    std::vector<Timed> schedule = {
        {0, {0xC1, 40}}, {0, {0xB1, 1, 127}}, {0, {0xC2, 16}}, {0, {0xB2, 10, 20}}, {0, {0x99, 38, 110}},
    };
    for (unsigned n = 0; n < 24; ++n) {
        const unsigned char channel = static_cast<unsigned char>(n % 3);
        const unsigned char key = static_cast<unsigned char>(48 + (n * 7) % 24);
        schedule.push_back({n * 20, {static_cast<unsigned char>(0x90 | channel), key, 100}});
        schedule.push_back({n * 20 + 45, {static_cast<unsigned char>(0x80 | channel), key, 0}});
    }
    schedule.push_back({200, {0xE1, 0x00, 0x50}});
    std::stable_sort(schedule.begin(), schedule.end(), [](const Timed& a, const Timed& b) { return a.chunk < b.chunk; });

    constexpr unsigned kChunks = 700;
    std::vector<int16_t> pcm(2 * 22 * kChunks);
    EXPECT_EQ(start(), 1);
    std::size_t next = 0;
    for (unsigned chunk = 0; chunk < kChunks; ++chunk) {
        for (; next < schedule.size() && schedule[next].chunk == chunk; ++next)
            write(schedule[next].message.data(), static_cast<unsigned>(schedule[next].message.size()));
        generate(pcm.data() + 2 * 22 * chunk, 22);
    }
    stop();
    return pcm;
}

TEST_F(SynthLibraryCalls, RendersANoteAndSilencesOnStop) {
    EXPECT_EQ(start(), 1);
    std::vector<int16_t> pcm(2 * 2205, 99);
    EXPECT_EQ(generate(pcm.data(), 0), 0);
    EXPECT_EQ(pcm[0], 99);  // nothing written
    const unsigned char note[] = {0x90, 69, 127};
    write(note, 3);
    EXPECT_EQ(generate(pcm.data(), 2205), 2205);
    int peak = 0;
    for (int16_t s : pcm) peak = std::max(peak, std::abs(int(s)));
    EXPECT_GT(peak, 100);
    stop();
    EXPECT_EQ(generate(pcm.data(), 2205), 2205);
    for (int16_t s : pcm) ASSERT_EQ(s, 0);
}

TEST_F(SynthLibraryCalls, ASecondPreviewSoundsExactlyLikeTheFirst) {
    const std::vector<int16_t> first = playPreview(start, write, generate, stop);
    ASSERT_NE(std::count(first.begin(), first.end(), 0), std::ptrdiff_t(first.size()));
    const std::vector<int16_t> second = playPreview(start, write, generate, stop);
    const auto differ = std::mismatch(first.begin(), first.end(), second.begin());
    EXPECT_EQ(differ.first, first.end()) << "first difference at sample " << (differ.first - first.begin());
}

TEST_F(SynthLibraryCalls, WaveIdsAreGivenFrom63) {
    delWave(0);
    const unsigned char adpcm[] = {0x00, 0x11};
    EXPECT_EQ(regWave(0, adpcm, 2, 8000), 63u);
    EXPECT_EQ(regWave(0, adpcm, 2, 8000), 64u);
    EXPECT_EQ(regWave(256, adpcm, 2, 8000), 0u);
    EXPECT_EQ(regWave(7, adpcm, 2, 8000), 7u);
    delWave(63);
    EXPECT_EQ(regWave(0, adpcm, 2, 8000), 63u);
    delWave(0);
}

}  // namespace
