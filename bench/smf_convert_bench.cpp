// Converts every song of Debian's planetblupi-music-midi as adding a file does (read, merge to
// format 0, insert Master Volume, cut to fit, collect) and compares with python3-mido reading,
// merging and writing the same files in the same run.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "palm/AudioRow.h"

namespace {

namespace fs = std::filesystem;

// CPU time of this thread: the machine is shared, so wall time would measure the neighbours.
double CpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

constexpr int kRepetitions = 20;
constexpr int kPeerRepetitions = 3;

struct Song {
    std::string path;
    std::vector<uint8_t> bytes;
};

// Best of the repetitions, in CPU milliseconds, for converting one song from memory.
double ConvertMilliseconds(const Song& song) {
    double best = 1e300;
    for (int i = 0; i < kRepetitions; ++i) {
        tonaro::CMemoryFile file(song.bytes);
        tonaro::CAudioRow row;
        const double start = CpuMilliseconds();
        const int result = row.LoadSmf(file, song.path);
        const double ms = CpuMilliseconds() - start;
        if (result != tonaro::kResultOk) {
            std::fprintf(stderr, "%s: load failed with %d\n", song.path.c_str(), result);
            std::exit(1);
        }
        best = std::min(best, ms);
    }
    return best;
}

// The peer's best total CPU seconds for all songs; negative when it cannot run.
double PeerSeconds(const std::vector<Song>& songs) {
    std::string command =
        "/usr/bin/python3 " TONARO_SOURCE_DIR "/bench/smf_merge_peer.py " + std::to_string(kPeerRepetitions);
    for (const Song& song : songs) command += " " + song.path;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    double seconds = -1;
    if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
    return pclose(pipe) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? argv[1] : "/usr/share/planetblupi/music";
    std::vector<Song> songs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".mid") continue;
        auto file = tonaro::CDiskFile::Open(entry.path().string(), tonaro::CDiskFile::Mode::Read);
        Song song{entry.path().string(), {}};
        if (file && file->ReadAll(song.bytes, 64u << 20)) songs.push_back(std::move(song));
    }
    std::sort(songs.begin(), songs.end(), [](const Song& a, const Song& b) { return a.path < b.path; });
    if (songs.empty()) {
        std::fprintf(stderr, "no .mid files in %s (install planetblupi-music-midi)\n", folder.c_str());
        return 1;
    }

    double totalMs = 0, totalBytes = 0;
    std::printf("CPU time, best of %d runs per file\n%-14s %10s %12s %10s\n", kRepetitions, "file", "bytes", "ms",
                "MB/s");
    for (const Song& song : songs) {
        const double ms = ConvertMilliseconds(song);
        totalMs += ms;
        totalBytes += double(song.bytes.size());
        std::printf("%-14s %10zu %12.3f %10.1f\n", fs::path(song.path).filename().c_str(), song.bytes.size(), ms,
                    double(song.bytes.size()) / 1e6 / (ms / 1e3));
    }
    const double perFile = totalMs / double(songs.size());
    std::printf("tonaro:      %.3f ms per file, %.1f MB/s input\n", perFile, totalBytes / 1e6 / (totalMs / 1e3));

    const double peer = PeerSeconds(songs);
    if (peer < 0) {
        std::printf("python3-mido: not available, no ratio\n");
        return 0;
    }
    const double peerPerFile = peer * 1e3 / double(songs.size());
    std::printf("python3-mido: %.3f ms per file, %.1f MB/s input\n", peerPerFile, totalBytes / 1e6 / peer);
    std::printf("ratio (python3-mido time / tonaro time): %.0fx\n", peerPerFile / perFile);
    return 0;
}
