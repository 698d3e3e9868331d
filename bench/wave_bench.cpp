// Prints, for speech and music at every accepted rate, mono and stereo: the SNR of our IMA ADPCM
// encoder beside ffmpeg's adpcm_ima_wav (default and -trellis 8, decoded by ffmpeg and by a
// standard decoder), and encoding speed as a ratio to ffmpeg, with our time for 17 s of 44.1 kHz
// stereo; then the measured row-0 responses of the converter's tables beside the required ones,
// and the converter's speed as a ratio to sox's rate effect. Needs sox, ffmpeg, espeak-ng; music
// is rendered from the packaged MIDI songs by timidity (freepats), else made with sox.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/ImaAdpcm.h"
#include "audio/ImaAdpcmDecoder.h"
#include "audio/ImaAdpcmEncoder.h"
#include "audio/PcmConverter.h"
#include "audio/PcmFilterTables.h"
#include "audio/WaveReader.h"

namespace fs = std::filesystem;
using namespace tonaro;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

double TimeRun(const std::string& command) {
    const auto start = Clock::now();
    if (!Run(command)) std::fprintf(stderr, "failed: %s\n", command.c_str());
    return Seconds(start);
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Pcm {
    WaveFormat format;
    std::vector<uint8_t> bytes;
};

Pcm ReadPcm(const fs::path& path) {
    CMemoryFile file(ReadBytes(path));
    WaveFileInfo info;
    Pcm pcm;
    if (ReadWaveFile(file, info) != 0) return pcm;
    pcm.format = info.format;
    pcm.bytes.assign(file.Bytes().begin() + long(info.dataOffset),
                     file.Bytes().begin() + long(info.dataOffset + info.dataSize));
    return pcm;
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return samples;
}

double Snr(const std::vector<int16_t>& source, const std::vector<int16_t>& decoded) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < source.size() && i < decoded.size(); ++i) {
        signal += double(source[i]) * source[i];
        noise += (double(source[i]) - decoded[i]) * (double(source[i]) - decoded[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

// ffmpeg's SNR, decoded by ffmpeg itself and by sox (the standard shift-and-add expansion that
// our decoder and the handheld use; ffmpeg 5.1 rounds its expansion differently), and its encoding
// time (minus a PCM-only run of the same input: start-up and reading).
struct PeerResult {
    double snr;
    double standardSnr;
    double seconds;
    double processSeconds;  // the whole encoding run, start-up and reading included
};

PeerResult Ffmpeg(const fs::path& in, const fs::path& dir, uint32_t blockAlign, const std::string& options,
                  const std::vector<int16_t>& source) {
    const fs::path out = dir / "peer.wav", raw = dir / "peer.raw", standard = dir / "peer-sox.raw";
    const std::string input = "ffmpeg -y -v error -i " + in.string();
    const double baseline = TimeRun(input + " -c:a pcm_s16le -f null -");
    const double total = TimeRun(input + " -c:a adpcm_ima_wav -block_size " + std::to_string(blockAlign) + " " +
                                 options + " " + out.string());
    Run("ffmpeg -y -v error -i " + out.string() + " -f s16le " + raw.string());
    Run("sox " + out.string() + " -t raw -e signed -b 16 " + standard.string());
    return {Snr(source, Samples(ReadBytes(raw))), Snr(source, Samples(ReadBytes(standard))),
            std::max(total - baseline, 1e-6), total};
}

// Music rendered from a packaged MIDI song, cut to 17 s; false when that cannot be done.
bool RenderSong(const std::string& song, const fs::path& out, const fs::path& dir) {
    const fs::path midi = fs::path("/usr/share/planetblupi/music") / song;
    const fs::path full = dir / "song.wav";
    if (!fs::exists(midi) || !fs::exists("/etc/timidity/freepats.cfg")) return false;
    const bool made =
        Run("timidity -c /etc/timidity/freepats.cfg -Ow -s 44100 -o " + full.string() + " " + midi.string()) &&
        Run("sox " + full.string() + " " + out.string() + " trim 0 17");
    fs::remove(full);
    return made;
}

// A plucked arpeggio over a sustained chord, with reverb: broadband, with transients and decays.
void SynthesiseMusic(const fs::path& out, const fs::path& dir) {
    std::string notes;
    const char* names[] = {"C3", "E3", "G3", "C4", "E4", "G4", "E4", "C4",
                           "A2", "C3", "E3", "A3", "F2", "A2", "C3", "F3"};
    for (int i = 0; i < 68; ++i) {
        const fs::path note = dir / ("n" + std::to_string(i) + ".wav");
        Run("sox -n -r 44100 -c 1 " + note.string() + " synth 0.25 pluck " + names[i % 16]);
        notes += " " + note.string();
    }
    Run("sox" + notes + " " + (dir / "arp.wav").string());
    Run("sox -n -r 44100 -c 1 " + (dir / "pad.wav").string() +
        " synth 17 sawtooth C2 sawtooth G2 vol 0.15 lowpass 2000 tremolo 3 40");
    Run("sox -m " + (dir / "arp.wav").string() + " " + (dir / "pad.wav").string() + " -c 2 " + out.string() +
        " remix 1 1v0.8 reverb 40 50 60 gain -n -1");
}

// The sources by name: speech, and two songs (a loud one and a quiet one).
std::vector<std::string> MakeSources(const fs::path& dir) {
    const std::string text =
        "The quick brown fox jumps over the lazy dog. Sound databases are installed on the handheld at the next "
        "synchronisation. Every sound is cut at a whole block when it is longer than the limit allows, and the "
        "list shows its play time and its size in red.";
    Run("espeak-ng -s 150 -w " + (dir / "speech.wav").string() + " \"" + text + "\"");
    std::vector<std::string> names = {"speech"};
    for (const char* song : {"music005.mid", "music003.mid"}) {
        const std::string name = std::string("song") + song[7];
        if (RenderSong(song, dir / (name + ".wav"), dir)) names.push_back(name);
    }
    if (names.size() == 1) {
        SynthesiseMusic(dir / "music.wav", dir);
        names.push_back("music");
    }
    return names;
}

struct Encoded {
    std::vector<uint8_t> bytes;
    double seconds;     // wall, best of the runs
    double cpuSeconds;  // process time of that run
};

Encoded EncodeOurs(const Pcm& pcm, int runs) {
    const uint32_t size = uint32_t(pcm.bytes.size());
    Encoded result{std::vector<uint8_t>(CImaAdpcmEncoder::EncodedSize(pcm.format, size)), 1e9, 0};
    for (int run = 0; run < runs; ++run) {
        CImaAdpcmEncoder encoder;
        const std::clock_t cpu = std::clock();
        const auto start = Clock::now();
        encoder.Encode(pcm.format, pcm.bytes.data(), size, result.bytes.data(), nullptr);
        const double seconds = Seconds(start);
        if (seconds < result.seconds) {
            result.seconds = seconds;
            result.cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
        }
    }
    return result;
}

void CodecTable(const fs::path& dir, const std::vector<std::string>& names) {
    std::printf(
        "IMA ADPCM encoder: SNR in dB against the source (higher is better). ffmpeg's streams decoded by ffmpeg\n"
        "itself, then (in brackets) by sox's standard decoder, as ours and the handheld decode; margin = ours minus\n"
        "ffmpeg -trellis 8 by ffmpeg's decoder. Speed: ffmpeg's encoding time / ours (above 1: we are faster)\n");
    std::printf("%-7s %6s %2s | %6s %15s %17s %7s | %7s %9s %9s\n", "source", "rate", "ch", "ours", "ffmpeg",
                "ffmpeg -trellis 8", "margin", "ours s", "vs ffmpeg", "vs tr. 8");
    const uint32_t rates[] = {44100, 22050, 11025, 8000};
    double worstMargin = 1e9, worstStandardMargin = 1e9;
    for (const std::string& name : names) {
        for (uint32_t rate : rates) {
            for (int channels : {1, 2}) {
                const fs::path in = dir / "in.wav";
                Run("sox " + (dir / (name + ".wav")).string() + " -r " + std::to_string(rate) + " -c " +
                    std::to_string(channels) + " -b 16 " + in.string() + " trim 0 17");
                const Pcm pcm = ReadPcm(in);
                const std::vector<int16_t> source = Samples(pcm.bytes);
                const Encoded ours = EncodeOurs(pcm, 1);
                const AdpcmWaveFormat format = ImaAdpcmFormat(pcm.format.channels, rate);
                const CImaAdpcmDecoder decoder(format);
                std::vector<int16_t> decoded(decoder.SampleCount(ours.bytes.size()));
                decoder.Decode(ours.bytes.data(), ours.bytes.size(), decoded.data());
                const double snr = Snr(source, decoded);

                const PeerResult plain = Ffmpeg(in, dir, format.wave.blockAlign, "", source);
                const PeerResult trellis = Ffmpeg(in, dir, format.wave.blockAlign, "-trellis 8", source);
                worstMargin = std::min(worstMargin, snr - trellis.snr);
                worstStandardMargin = std::min(worstStandardMargin, snr - trellis.standardSnr);
                std::printf("%-7s %6u %2d | %6.2f %6.2f (%6.2f) %8.2f (%6.2f) %+7.2f | %7.3f %8.2fx %8.2fx\n",
                            name.c_str(), rate, channels, snr, plain.snr, plain.standardSnr, trellis.snr,
                            trellis.standardSnr, snr - trellis.snr, ours.seconds, plain.seconds / ours.seconds,
                            trellis.seconds / ours.seconds);
            }
        }
    }
    std::printf("Smallest margin over ffmpeg -trellis 8: %+.2f dB by its own decoder, %+.2f dB by the standard one\n",
                worstMargin, worstStandardMargin);

    // The sound the handheld keeps at most: 17 s of 44.1 kHz stereo.
    const fs::path in = dir / "in.wav";
    Run("sox " + (dir / (names[1] + ".wav")).string() + " -r 44100 -c 2 -b 16 " + in.string() + " trim 0 17");
    const Pcm pcm = ReadPcm(in);
    const Encoded ours = EncodeOurs(pcm, 3);
    const std::vector<int16_t> source = Samples(pcm.bytes);
    const uint32_t blockAlign = ImaAdpcmFormat(2, 44100).wave.blockAlign;
    const PeerResult plain = Ffmpeg(in, dir, blockAlign, "", source);
    const PeerResult trellis = Ffmpeg(in, dir, blockAlign, "-trellis 8", source);
    std::printf(
        "17 s of 44.1 kHz stereo (%s): ours %.3f s wall (best of 3), %.3f s CPU; ffmpeg whole runs: %.3f s "
        "(%.2fx ours), -trellis 8 %.3f s (%.2fx ours)\n",
        names[1].c_str(), ours.seconds, ours.cpuSeconds, plain.processSeconds, plain.processSeconds / ours.seconds,
        trellis.processSeconds, trellis.processSeconds / ours.seconds);
}

struct Required {
    uint32_t source, target;
    double dc, minus3, minus6, stopDb;
};

double GainDb(const PcmFilterTable& table, double hz) {
    double re = 0, im = 0;
    const double w = 2 * M_PI * hz / table.sourceRate;
    for (int k = 0; k < table.taps; ++k) {
        re += table.Row(0)[k] * std::cos(w * k);
        im -= table.Row(0)[k] * std::sin(w * k);
    }
    return 20 * std::log10(std::hypot(re, im) + 1e-300);
}

void ResponseTable() {
    const Required required[] = {{44100, 22050, 0.9927, 10300, 10700, -70},
                                 {44100, 11025, 0.9965, 4970, 5310, -35},
                                 {44100, 8000, 0.9945, 3650, 3890, -31},
                                 {22050, 8000, 0.9972, 3650, 3830, -52},
                                 {11025, 8000, 0.9773, 3760, 3890, -100}};
    std::printf("\nConverter tables, row 0: measured (required)\n");
    std::printf("%-13s | %-17s | %-17s | %-17s | %s\n", "table", "DC gain", "-3 dB Hz", "-6 dB Hz",
                "max dB from 1.2 x target Nyquist");
    for (const Required& r : required) {
        const PcmFilterTable& table = *FindPcmFilterTable(r.source, r.target);
        double m3 = 0, m6 = 0, stop = -400;
        for (double hz = 0; hz <= r.source / 2.0; hz += 1) {
            const double g = GainDb(table, hz);
            if (!m3 && g < -3) m3 = hz;
            if (!m6 && g < -6) m6 = hz;
            if (hz >= 0.6 * r.target) stop = std::max(stop, g);
        }
        double dc = 0;
        for (int k = 0; k < table.taps; ++k) dc += table.Row(0)[k];
        std::printf("%5u->%-6u | %.4f (%.4f) | %6.0f (%6.0f) | %6.0f (%6.0f) | %7.1f (%5.0f)\n", r.source, r.target, dc,
                    r.dc, m3, r.minus3, m6, r.minus6, stop, r.stopDb);
    }
}

void ConverterSpeed(const fs::path& dir, const std::vector<std::string>& names) {
    std::printf("\nConverter speed, 60 s of stereo music: ours in-process against sox rate (process time)\n");
    const fs::path in = dir / "long.wav";
    const std::string music = (dir / (names[1] + ".wav")).string();
    Run("sox " + music + " " + music + " " + music + " " + music + " -r 44100 -c 2 -b 16 " + in.string() +
        " trim 0 60");
    const Pcm pcm = ReadPcm(in);
    for (uint32_t target : {22050u, 11025u, 8000u}) {
        const double baseline = TimeRun("sox " + in.string() + " -t null -");
        const double peer =
            TimeRun("sox " + in.string() + " " + (dir / "out.wav").string() + " rate " + std::to_string(target)) -
            baseline;
        std::vector<uint8_t> out(pcm.bytes.size());
        uint32_t produced = 0;
        const auto start = Clock::now();
        CPcmConverter::Convert(pcm.bytes.data(), uint32_t(pcm.bytes.size()), out.data(), uint32_t(out.size()), produced,
                               {44100, 16, 2}, {target, 16, 2});
        const double ours = Seconds(start);
        std::printf("44100 -> %5u: ours %.3f s, sox %.3f s, speed ratio ours/sox %.2fx\n", target, ours, peer,
                    peer / ours);
    }
}

}  // namespace

int main() {
    char pattern[] = "/tmp/wave_bench_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path dir = pattern;
    const std::vector<std::string> names = MakeSources(dir);
    CodecTable(dir, names);
    ResponseTable();
    ConverterSpeed(dir, names);
    fs::remove_all(dir);
    return 0;
}
