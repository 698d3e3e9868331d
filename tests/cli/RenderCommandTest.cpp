// tonaro2-cli render: the library binding, the WAVE it writes and real MIDI files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "audio/File.h"
#include "cli/RenderCommand.h"
#include "palm/AudioRow.h"
#include "preview/SynthBinding.h"

namespace tonaro::cli {
namespace {

namespace fs = std::filesystem;

const std::string kLibrary = std::string(TONARO_BIN_DIR) + "/libmevo22k.so";
const fs::path kSongs = "/usr/share/planetblupi/music";

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class RenderCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tonaro-render-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(RenderCommandTest, MissingLibraryIsReported) {
    CSynthBinding synth((dir / "libmevo22k.so").string());
    EXPECT_EQ(synth.IsLoaded(), 0);
    std::ostringstream err;
    EXPECT_EQ(RunRender({"song.mid", (dir / "out.wav").string(), {}}, synth, err), 1);
    EXPECT_EQ(err.str(), "MEVO22K.DLL is not found.\n");
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
}

TEST_F(RenderCommandTest, ProgramWithoutLibraryBesideItExitsWithTheMessage) {
    // A copy of the program in a folder of its own finds no library next to itself.
    fs::copy_file(fs::path(TONARO_BIN_DIR) / "tonaro2-cli", dir / "tonaro2-cli");
    const std::string command = "'" + (dir / "tonaro2-cli").string() + "' render '" + (dir / "x.mid").string() +
                                "' -o '" + (dir / "x.wav").string() + "' 2>'" + (dir / "err.txt").string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    std::ifstream err(dir / "err.txt");
    std::string line;
    std::getline(err, line);
    EXPECT_EQ(line, "MEVO22K.DLL is not found.");
}

TEST(RenderPayload, WaveFileHeaderDescribes22050HzStereo16Bit) {
    std::vector<int16_t> pcm = {1, -1, 300, -300};
    CMemoryFile file;
    ASSERT_TRUE(WriteWaveFile(file, pcm));
    const std::vector<uint8_t>& wave = file.Bytes();
    ASSERT_EQ(wave.size(), 44u + 8);
    EXPECT_EQ(std::string(wave.begin(), wave.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(wave, 4), 44u - 8 + 8);
    EXPECT_EQ(Le16(wave, 20), 1);
    EXPECT_EQ(Le16(wave, 22), 2);
    EXPECT_EQ(Le32(wave, 24), 22050u);
    EXPECT_EQ(Le32(wave, 28), 88200u);
    EXPECT_EQ(Le16(wave, 32), 4);
    EXPECT_EQ(Le16(wave, 34), 16);
    EXPECT_EQ(Le32(wave, 40), 8u);
    EXPECT_EQ(Le16(wave, 46), 0xFFFF);  // -1, little-endian
    const std::vector<uint8_t> samples = {0x01, 0x00, 0xFF, 0xFF, 0x2C, 0x01, 0xD4, 0xFE};
    EXPECT_EQ(std::vector<uint8_t>(wave.begin() + 44, wave.end()), samples);
}

TEST(RenderPayload, ANoteSoundsAndTheSongEndsAtEndOfTrack) {
    CSynthBinding synth(kLibrary);
    ASSERT_TRUE(synth.HasRealtimeExports());
    // Note on at 0, off at 500 ms (480 ticks at 120 bpm), End of Track.
    const std::vector<uint8_t> smf = {'M',  'T',  'h',  'd',  0,    0,   0, 6,    0,    0,    0,    1,
                                      0x01, 0xE0, 'M',  'T',  'r',  'k', 0, 0,    0,    13,   0x00, 0x90,
                                      69,   100,  0x83, 0x60, 0x80, 69,  0, 0x00, 0xFF, 0x2F, 0x00, 0x00};
    std::vector<int16_t> pcm;
    ASSERT_TRUE(RenderSmfPayload(smf.data(), uint32_t(smf.size()), synth, pcm, 22050 * 10));
    // The end is found in the buffer that holds 500 ms: 22 buffers of 512 frames.
    EXPECT_EQ(pcm.size(), 22u * 512 * 2);
    int peak = 0;
    for (size_t i = 0; i < 11025 * 2; ++i) peak = std::max(peak, std::abs(int(pcm[i])));
    EXPECT_GT(peak, 500);
}

TEST_F(RenderCommandTest, EverySongOfThePackageRendersToItsPlayTime) {
    if (!fs::is_directory(kSongs)) GTEST_SKIP() << "planetblupi-music-midi is not installed";
    CSynthBinding synth(kLibrary);
    ASSERT_EQ(synth.IsLoaded(), 1);
    for (const auto& entry : fs::directory_iterator(kSongs)) {
        const fs::path out = dir / (entry.path().stem().string() + ".wav");
        std::ostringstream err;
        ASSERT_EQ(RunRender({entry.path().string(), out.string(), 100}, synth, err), 0) << entry.path() << err.str();

        CAudioRow row;
        auto file = CDiskFile::Open(entry.path().string(), CDiskFile::Mode::Read);
        ASSERT_EQ(row.LoadSmf(*file, entry.path().string()), 0);
        const std::vector<uint8_t> wave = ReadBytes(out);
        ASSERT_GE(wave.size(), 44u);
        const uint64_t frames = Le32(wave, 40) / 4;
        const uint64_t ms = frames * 1000 / 22050;
        // The song plays to its last event and ends within the device buffer that holds it
        // (512 frames, 23 ms) plus one chunk.
        EXPECT_GE(ms + 1, row.PlayTime()) << entry.path();
        EXPECT_LE(ms, row.PlayTime() + 25) << entry.path();
        int peak = 0;
        for (size_t i = 44; i + 1 < wave.size(); i += 2) peak = std::max(peak, std::abs(int(int16_t(Le16(wave, i)))));
        EXPECT_GT(peak, 1000) << entry.path();
    }
}

}  // namespace
}  // namespace tonaro::cli
