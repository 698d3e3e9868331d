// Renders every song of planetblupi-music-midi through libmevo22k.so as the preview plays it and
// through timidity (freepats) to WAVE files of the same format, in the same run, and prints the
// speed of each as a multiple of real time (the fastest of kRuns runs), their ratio, and peak
// memory (/usr/bin/time).
//
//   synth_bench [folder of .mid files]
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/File.h"
#include "audio/SmfItem.h"
#include "cli/RenderCommand.h"
#include "palm/AudioRow.h"
#include "preview/SynthBinding.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;

namespace {

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `command` under /usr/bin/time; returns its peak resident memory in KiB (0 on failure).
long PeakKb(const std::string& command, const fs::path& report) {
    if (!Run("/usr/bin/time -f %M -o '" + report.string() + "' " + command + " >/dev/null 2>&1")) return 0;
    std::FILE* file = std::fopen(report.c_str(), "r");
    long kb = 0;
    if (file) {
        if (std::fscanf(file, "%ld", &kb) != 1) kb = 0;
        std::fclose(file);
    }
    return kb;
}

bool WriteFile(const fs::path& path, const uint8_t* data, size_t size) {
    auto file = tonaro::CDiskFile::Open(path.string(), tonaro::CDiskFile::Mode::CreateWrite);
    return file && file->Write(data, size) && file->Close();
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path songs = argc > 1 ? argv[1] : "/usr/share/planetblupi/music";
    const std::string timidityConfig = "/etc/timidity/freepats.cfg";
    if (!fs::is_directory(songs) || !Run("command -v timidity >/dev/null") || !fs::exists(timidityConfig)) {
        std::fprintf(stderr, "needs %s, timidity and %s (tools/setup.sh installs them)\n", songs.c_str(),
                     timidityConfig.c_str());
        return 1;
    }
    tonaro::CSynthBinding synth(std::string(TONARO_BIN_DIR) + "/libmevo22k.so");
    if (!synth.HasRealtimeExports()) {
        std::fprintf(stderr, "%s\n", tonaro::kSynthMissingMessage);
        return 1;
    }
    const fs::path work = fs::temp_directory_path() / ("synth-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(songs))
        if (entry.path().extension() == ".mid") files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    std::printf("%-14s %9s %12s %12s %8s\n", "song", "audio s", "ours x rt", "timidity x rt", "ratio");
    double audioTotal = 0, oursTotal = 0, timidityTotal = 0;
    long peakOurs = 0, peakTimidity = 0;
    for (const fs::path& path : files) {
        // The entry as the add flow loads it (merged, cut to size); both synthesizers play it.
        tonaro::CAudioRow row;
        auto file = tonaro::CDiskFile::Open(path.string(), tonaro::CDiskFile::Mode::Read);
        if (!file || row.LoadSmf(*file, path.string()) != 0) {
            std::fprintf(stderr, "%s: not loaded\n", path.c_str());
            continue;
        }
        auto* item = dynamic_cast<tonaro::CSmfItem*>(row.Item());
        const uint8_t* payload = item->LockPayload();
        const uint32_t size = item->GetPayloadSize();
        const fs::path midi = work / path.filename();
        WriteFile(midi, payload, size);

        // Rendered as tonaro2-cli render does it: each device buffer goes to the WAVE file at once.
        uint64_t samples = 0;
        const auto renderOurs = [&]() -> double {
            samples = 0;
            const auto start = Clock::now();
            auto wave = tonaro::CDiskFile::Open((work / "ours.wav").string(), tonaro::CDiskFile::Mode::CreateWrite);
            if (!wave) return -1;
            tonaro::cli::CWaveFileStream stream(*wave);
            tonaro::cli::RenderSmfPayload(payload, size, synth, (uint64_t(row.PlayTime()) + 10000) * 22050 / 1000,
                                          [&](const int16_t* pcm, size_t count) {
                                              samples += count;
                                              return stream.Append(pcm, count);
                                          });
            if (!stream.Finish() || !wave->Close()) return -1;
            return Seconds(Clock::now() - start);
        };
        long timidityKb = 0;
        const auto renderTimidity = [&]() -> double {
            const auto start = Clock::now();
            timidityKb = PeakKb("timidity -c " + timidityConfig + " -s 22050 -Ow -o '" +
                                    (work / "timidity.wav").string() + "' '" + midi.string() + "'",
                                work / "time.txt");
            return timidityKb == 0 ? -1 : Seconds(Clock::now() - start);
        };
        // The fastest of a few alternating runs of each, so that passing load on the machine
        // weighs on neither.
        double ours = 1e30, timidity = 1e30;
        for (int run = 0; run < kRuns; ++run) {
            const double o = renderOurs();
            const double t = renderTimidity();
            if (o < 0 || t < 0) {
                std::fprintf(stderr, "%s: %s failed\n", path.c_str(), o < 0 ? "writing our WAVE file" : "timidity");
                return 1;
            }
            ours = std::min(ours, o);
            timidity = std::min(timidity, t);
        }
        item->UnlockPayload();

        // Peak memory of the whole command-line render of the same entry, WAVE image included.
        const long oursKb = PeakKb("'" + std::string(TONARO_BIN_DIR) + "/tonaro2-cli' render '" + path.string() +
                                       "' -o '" + (work / "cli.wav").string() + "'",
                                   work / "time.txt");
        peakOurs = std::max(peakOurs, oursKb);
        peakTimidity = std::max(peakTimidity, timidityKb);

        const double audio = double(samples / 2) / 22050.0;
        audioTotal += audio;
        oursTotal += ours;
        timidityTotal += timidity;
        std::printf("%-14s %9.1f %12.0f %12.0f %8.1f\n", path.filename().c_str(), audio, audio / ours, audio / timidity,
                    timidity / ours);
    }
    std::printf("%-14s %9.1f %12.0f %12.0f %8.1f\n", "all", audioTotal, audioTotal / oursTotal,
                audioTotal / timidityTotal, timidityTotal / oursTotal);
    std::printf("peak memory (largest song): tonaro2-cli render %ld KiB, timidity %ld KiB\n", peakOurs, peakTimidity);
    fs::remove_all(work);
    return 0;
}
