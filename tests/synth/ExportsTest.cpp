// The built shared library's real-time exports, called through dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>

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
