// Real sounds through the whole WAVE path: speech from espeak-ng with a tone and a sweep from sox,
// at every accepted rate, 8 and 16 bits, mono and stereo. Each loads, fits one database, adjusts
// to every lower rate, and its payload decodes with sox to exactly our decoder's samples. ffmpeg
// (5.1) expands a code as ((2m + 1) × step) >> 3 instead of the standard shift-and-add, so it
// drifts by a few steps within a block, on its own encoder's output as on ours; it must decode
// every block to as many samples and stay within 30 dB SNR of ours (a wrong header, nibble order
// or channel interleave would fall to about 0 dB).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "audio/ImaAdpcmDecoder.h"
#include "audio/WaveItem.h"
#include "palm/AudioRow.h"
#include "palm/WaveAdjustment.h"

namespace tonaro {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<int16_t> Samples(const Bytes& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return out;
}

class WaveRealSoundTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!Shell("command -v sox") || !Shell("command -v ffmpeg") || !Shell("command -v espeak-ng")) return;
        char pattern[] = "/tmp/tonaro_wave_XXXXXX";
        if (!mkdtemp(pattern)) return;
        dir_ = pattern;
        const std::string speech = (dir_ / "speech.wav").string();
        const std::string tone = (dir_ / "tone.wav").string();
        const std::string sweep = (dir_ / "sweep.wav").string();
        ready_ = Shell("espeak-ng -s 170 -w " + speech +
                       " \"Seven sounds are waiting for the next synchronisation of the handheld.\"") &&
                 Shell("sox -n -r 22050 -c 1 " + tone + " synth 1.5 sine 440 vol 0.7") &&
                 Shell("sox -n -r 22050 -c 1 " + sweep + " synth 2 sine 100-9000 vol 0.9") &&
                 Shell("sox " + speech + " " + tone + " " + sweep + " " + (dir_ / "source.wav").string());
    }
    static void TearDownTestSuite() {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "sox, ffmpeg or espeak-ng missing";
    }

    // Our decoder's samples of the row's payload beside those of sox and ffmpeg.
    static void ExpectPeersDecodeAlike(CAudioRow& row, const std::string& label) {
        auto& item = *static_cast<CWaveItem*>(row.Item());
        CMemoryFile payload;
        ASSERT_EQ(item.WritePayload(payload), 0);
        const fs::path wave = dir_ / "payload.wav";
        std::ofstream(wave, std::ios::binary)
            .write(reinterpret_cast<const char*>(payload.Bytes().data()), std::streamsize(payload.Bytes().size()));
        const CImaAdpcmDecoder decoder(item.GetOutputFormat());
        const Bytes adpcm(payload.Bytes().begin() + 48, payload.Bytes().end());
        std::vector<int16_t> ours(decoder.SampleCount(adpcm.size()));
        decoder.Decode(adpcm.data(), adpcm.size(), ours.data());

        const fs::path soxRaw = dir_ / "sox.raw", ffmpegRaw = dir_ / "ffmpeg.raw";
        ASSERT_TRUE(Shell("sox " + wave.string() + " -t raw -e signed -b 16 " + soxRaw.string())) << label;
        ASSERT_TRUE(Shell("ffmpeg -y -v error -i " + wave.string() + " -f s16le " + ffmpegRaw.string())) << label;
        EXPECT_TRUE(Samples(ReadBytes(soxRaw)) == ours) << label << ": sox decodes differently";
        const std::vector<int16_t> peer = Samples(ReadBytes(ffmpegRaw));
        ASSERT_EQ(peer.size(), ours.size()) << label;
        double signal = 0, drift = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            signal += double(ours[i]) * ours[i];
            drift += (double(peer[i]) - ours[i]) * (double(peer[i]) - ours[i]);
        }
        EXPECT_GT(10 * std::log10(signal / std::max(drift, 1.0)), 30.0) << label << ": ffmpeg drifts from ours";
    }

    static inline fs::path dir_;
    static inline bool ready_ = false;
};

uint64_t DatabaseBytes(CAudioRow& row) {
    CMemoryFile file;
    row.SetDatabaseName("AlarmSound2026121005000000001");
    EXPECT_TRUE(row.WriteDatabase(&file));
    return file.Bytes().size();
}

TEST_F(WaveRealSoundTest, EveryShapeConvertsFitsAndDecodesAlikeInPeers) {
    const uint32_t rates[] = {44100, 22050, 11025, 8000};
    for (uint32_t rate : rates) {
        for (int bits : {8, 16}) {
            for (int channels : {1, 2}) {
                const std::string label =
                    std::to_string(rate) + " Hz " + std::to_string(bits) + " bit " + std::to_string(channels) + " ch";
                const fs::path input = dir_ / "input.wav";
                ASSERT_TRUE(Shell("sox " + (dir_ / "source.wav").string() + " -r " + std::to_string(rate) + " -b " +
                                  std::to_string(bits) + " -c " + std::to_string(channels) + " " + input.string()))
                    << label;
                auto file = CDiskFile::Open(input.string(), CDiskFile::Mode::Read);
                ASSERT_TRUE(file) << label;
                CAudioRow row;
                ASSERT_EQ(row.LoadWave(*file, input.string()), 0) << label;
                EXPECT_LE(DatabaseBytes(row), 64000u) << label;
                EXPECT_EQ(DatabaseBytes(row), row.ConvertedSize()) << label;
                ExpectPeersDecodeAlike(row, label);

                for (uint32_t lower : rates) {
                    if (lower >= rate) continue;
                    ASSERT_EQ(AdjustWaveRow(row, lower, -3), 0) << label << " to " << lower;
                    EXPECT_LE(DatabaseBytes(row), 64000u) << label << " to " << lower;
                }
                ExpectPeersDecodeAlike(row, label + " at 8000 Hz");
            }
        }
    }
}

}  // namespace
}  // namespace tonaro
