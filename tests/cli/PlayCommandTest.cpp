#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "audio/ImaAdpcm.h"
#include "audio/ImaAdpcmDecoder.h"
#include "audio/WaveItem.h"
#include "cli/PlayCommand.h"
#include "cli/RenderCommand.h"
#include "palm/AudioRow.h"
#include "preview/PlayReceiverQueue.h"
#include "preview/PreviewPlayer.h"
#include "preview/WaveOutCapture.h"

namespace tonaro {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kCli = std::string(TONARO_BIN_DIR) + "/tonaro2-cli";
const std::string kLongSong = "/usr/share/planetblupi/music/music002.mid";  // 8:20
const std::string kSong = "/usr/share/planetblupi/music/music009.mid";      // 3:41

void PutLe(Bytes& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// Four eighth notes at division 96 and the default tempo (48 ticks, 250 ms each): one second.
Bytes Melody() {
    Bytes track = {0x00, 0xC0, 0x05};
    for (uint8_t key : {60, 62, 64, 65}) {
        track.insert(track.end(), {0x00, 0x90, key, 100, 48, 0x80, key, 0x40});
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    Bytes smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, uint8_t(track.size())};
    smf.reserve(smf.size() + track.size());
    smf.insert(smf.end(), track.begin(), track.end());
    return smf;
}

// 0.7 s of a 16-bit mono 22050 Hz tone that starts loud, so the first sample played is not zero.
Bytes ToneWave() {
    const uint32_t frames = 22050 * 7 / 10;
    Bytes wave = {'R', 'I', 'F', 'F'};
    PutLe(wave, 36 + frames * 2, 4);
    wave.insert(wave.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(wave, 16, 4);
    for (auto [value, bytes] : {std::pair{1u, 2}, {1u, 2}, {22050u, 4}, {44100u, 4}, {2u, 2}, {16u, 2}})
        PutLe(wave, value, bytes);
    wave.insert(wave.end(), {'d', 'a', 't', 'a'});
    PutLe(wave, frames * 2, 4);
    for (uint32_t i = 0; i < frames; ++i)
        PutLe(wave, uint16_t(int16_t(12000 * std::cos(2 * M_PI * 440 * i / 22050.0))), 2);
    return wave;
}

std::vector<int16_t> Samples(const Bytes& bytes, size_t from = 0) {
    std::vector<int16_t> samples;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) samples.push_back(int16_t(bytes[i] | bytes[i + 1] << 8));
    return samples;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// `played` is `expected` followed by silence only.
void ExpectPlayedThenSilence(const std::vector<int16_t>& played, const std::vector<int16_t>& expected) {
    ASSERT_GE(played.size(), expected.size());
    const auto differ = std::mismatch(expected.begin(), expected.end(), played.begin());
    EXPECT_EQ(differ.first, expected.end()) << "first difference at sample " << differ.first - expected.begin() << " of "
                                            << expected.size();
    EXPECT_TRUE(std::all_of(played.begin() + ptrdiff_t(expected.size()), played.end(), [](int16_t v) { return !v; }));
}

class PlayCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tonaro-play-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        melody = Write("melody.mid", Melody());
        tone = Write("tone.wav", ToneWave());
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Write(const std::string& name, const Bytes& bytes) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path.string();
    }

    // Runs a shell command line; its exit status, with stdout and stderr kept in files.
    int Run(const std::string& line) {
        const int status = std::system((line + " >" + (dir / "out.txt").string() + " 2>" + (dir / "err.txt").string()).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Out() { auto b = ReadFile(dir / "out.txt"); return {b.begin(), b.end()}; }
    std::string Err() { auto b = ReadFile(dir / "err.txt"); return {b.begin(), b.end()}; }

    // Plays through SDL's disk driver; the samples recorded from the first one that is not zero
    // (the paused device records silence until the first buffer arrives).
    std::vector<int16_t> PlayToDisk(const std::string& file, const std::string& options = "") {
        const fs::path capture = dir / "capture.raw";
        EXPECT_EQ(Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + capture.string() + " " + kCli + " play " + file + options), 0)
            << Err();
        std::vector<int16_t> samples = Samples(ReadFile(capture));
        samples.erase(samples.begin(), std::find_if(samples.begin(), samples.end(), [](int16_t v) { return v != 0; }));
        return samples;
    }

    fs::path dir;
    std::string melody;
    std::string tone;
};

std::unique_ptr<CAudioRow> LoadRow(const std::string& path) {
    auto file = CDiskFile::Open(path, CDiskFile::Mode::Read);
    auto row = std::make_unique<CAudioRow>();
    if (!file || (row->LoadSmf(*file, path) != kResultOk && row->LoadWave(*file, path) != kResultOk)) return nullptr;
    return row;
}

TEST_F(PlayCommandTest, MidiPreviewOfASongIsExactlyWhatRenderWrites) {
    // The library keeps a little engine state from one song to the next, so the preview is
    // compared with a render in a process of its own, and this test (alone in its process under
    // CTest) must be the first here to use the library.
    ASSERT_EQ(Run(kCli + " render " + kSong + " -o " + (dir / "render.wav").string()), 0) << Err();
    const std::vector<int16_t> rendered = Samples(ReadFile(dir / "render.wav"), 44);

    auto row = LoadRow(kSong);
    ASSERT_TRUE(row);
    auto capture = std::make_unique<CCaptureWaveOut>();
    CCaptureWaveOut& device = *capture;
    CPreviewPlayer player(std::move(capture), std::make_unique<CSynthBinding>());
    CPlayReceiverQueue receiver;
    ASSERT_EQ(player.PlayMidi(row->Item(), row->PlayTime(), &receiver), kResultOk);
    bool ended = false;
    for (size_t buffers = 0; !ended && buffers < rendered.size() / 1024 + 100; buffers += device.Complete(1)) {
        while (auto message = receiver.Take()) ended = ended || message->message == kWmPlayEnd;
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(player.Stop(), kResultOk);
    ExpectPlayedThenSilence(device.Samples(), rendered);
}

TEST_F(PlayCommandTest, PlaysWaveOnTheDeviceAsItsPayloadDecodesButTheLastByte) {
    auto row = LoadRow(tone);
    ASSERT_TRUE(row);
    auto* item = static_cast<CWaveItem*>(row->Item());
    const uint8_t* payload = item->LockPayload();
    const size_t size = item->GetPayloadSize();
    const CImaAdpcmDecoder decoder(item->GetOutputFormat());
    std::vector<int16_t> expected(decoder.SampleCount(size - 1));
    decoder.Decode(payload, size - 1, expected.data());
    item->UnlockPayload();

    ExpectPlayedThenSilence(PlayToDisk(tone), expected);
    EXPECT_EQ(Out(), "tone  WAVE\n00:00 / 00:01\n00:01 / 00:01\n");
}

TEST_F(PlayCommandTest, PlaysMidiOnTheDeviceAsRenderWritesIt) {
    ASSERT_EQ(Run(kCli + " render " + melody + " -o " + (dir / "render.wav").string()), 0) << Err();
    const std::vector<int16_t> rendered = Samples(ReadFile(dir / "render.wav"), 44);
    std::vector<int16_t> played = PlayToDisk(melody);
    // Both begin where the synthesizer first makes a sound.
    const auto start = std::find_if(rendered.begin(), rendered.end(), [](int16_t v) { return v != 0; });
    ExpectPlayedThenSilence(played, std::vector<int16_t>(start, rendered.end()));
    EXPECT_NE(Out().find("00:01 / 00:01\n"), std::string::npos) << Out();
}

TEST_F(PlayCommandTest, ReportsAMissingDeviceOrLibraryAndUnplayableInput) {
    EXPECT_EQ(Run("SDL_AUDIODRIVER=no-such-driver " + kCli + " play " + tone), 1);
    EXPECT_EQ(Err(), "Failed to open WAVE OUT.\n");

    // A copy of the program in a folder without the library.
    const fs::path lonely = dir / "lonely";
    fs::create_directories(lonely);
    fs::copy_file(kCli, lonely / "tonaro2-cli");
    EXPECT_EQ(Run((lonely / "tonaro2-cli").string() + " play " + melody), 1);
    EXPECT_EQ(Err(), "MEVO22K.DLL is not found.\n");

    const std::string text = Write("notes.txt", Bytes(100, 'x'));
    EXPECT_EQ(Run(kCli + " play " + text), 1);
    EXPECT_EQ(Err(), text + ": This file format is not supported.\n");
    EXPECT_EQ(Run(kCli + " play " + melody + " --rate 8000"), 1);
    EXPECT_NE(Err().find("--rate applies to WAVE entries only"), std::string::npos);
    EXPECT_EQ(Run(kCli + " play " + tone + " --volume 13"), 1);
    EXPECT_NE(Err().find("-12..+12 dB"), std::string::npos);
}

TEST_F(PlayCommandTest, CtrlCStopsPlaybackCleanly) {
    ASSERT_TRUE(fs::exists(kLongSong));
    // Ctrl+C once the first time is shown, that is once playback has started.
    const std::string script = Write("interrupt.sh", [] {
        const std::string text = "\"$1\" play \"$2\" >\"$3\" & pid=$!\n"
                                 "for i in $(seq 600); do grep -q '00:00 / ' \"$3\" && break; sleep 0.05; done\n"
                                 "kill -INT $pid\nwait $pid\n";
        return Bytes(text.begin(), text.end());
    }());
    const int status = std::system(("bash " + script + " " + kCli + " " + kLongSong + " " + (dir / "out.txt").string() +
                                    " 2>" + (dir / "err.txt").string()).c_str());
    EXPECT_EQ(WEXITSTATUS(status), cli::kInterruptedStatus);
    EXPECT_EQ(Err(), "");
    EXPECT_TRUE(Out().starts_with("music002  MIDI\n00:00 / 08:20\n")) << Out();
    EXPECT_TRUE(Out().ends_with("Stopped.\n")) << Out();
}

TEST_F(PlayCommandTest, AdjustsTheEntryBeforePlaying) {
    auto capture = std::make_unique<CCaptureWaveOut>();
    CCaptureWaveOut& device = *capture;
    CPreviewPlayer player(std::move(capture), std::make_unique<CSynthBinding>());
    std::ostringstream out, err;
    const std::atomic<bool> interrupted{true};  // stops at once, after the start
    EXPECT_EQ(cli::RunPlay({tone, 8000, -6}, player, out, err, false, interrupted), cli::kInterruptedStatus);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(out.str(), "tone  WAVE\nStopped.\n");
    EXPECT_EQ(device.OpenFormat(), ImaAdpcmFormat(1, 8000));
    EXPECT_FALSE(player.IsPlaying());
}

}  // namespace
}  // namespace tonaro
