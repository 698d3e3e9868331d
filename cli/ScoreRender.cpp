#include "cli/ScoreRender.h"

#include <dlfcn.h>
#include <fmt/format.h>
#include <fmt/ostream.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "audio/File.h"
#include "cli/RenderCommand.h"
#include "preview/SynthBinding.h"

namespace tonaro::cli {
namespace {

constexpr uint32_t kFrameRate = 22050;
constexpr uint64_t kChunkFrames = 22;
// Generate is called with whole chunks, so its chunks stay where FramesOfOnePlay counts them.
constexpr uint64_t kCallFrames = kChunkFrames * 64;
constexpr uint32_t kBytesPerFrame = 4;
// Release tails longer than this after the last play are cut, so a voice that never decays
// cannot fill the disk.
constexpr uint64_t kMaxTailFrames = 30 * kFrameRate;

// The last event's time: the largest ms that Seek accepts (Seek fails only past it).
uint32_t LastEventMs(const WholeSongApi& api) {
    uint64_t good = 0;
    uint64_t bad = 1;
    while (bad <= UINT32_MAX && api.seek(static_cast<uint32_t>(bad)) == 0) {
        good = bad;
        bad *= 2;
    }
    while (bad - good > 1) {
        const uint64_t mid = good + (bad - good) / 2;
        (mid <= UINT32_MAX && api.seek(static_cast<uint32_t>(mid)) == 0 ? good : bad) = mid;
    }
    api.seek(0);
    return static_cast<uint32_t>(good);
}

// Generates up to `frames` frames, fewer when the song ends first.
void GenerateUpTo(const WholeSongApi& api, uint64_t frames, std::vector<int16_t>& pcm) {
    std::vector<int16_t> buffer(2 * kCallFrames);
    while (frames > 0) {
        const uint64_t n = std::min(frames, kCallFrames);
        const uint32_t bytes = api.generate(buffer.data(), static_cast<uint32_t>(n * kBytesPerFrame));
        if (bytes == 0) return;
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + bytes / 2);
        frames -= n;
    }
}

class LoadedLibrary {
public:
    // Opens the synthesizer library by the binding's rule: the program's folder first.
    LoadedLibrary() {
        std::error_code error;
        const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error) module_.reset(dlopen((program.parent_path() / kSynthLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!module_) module_.reset(dlopen(kSynthLibraryName, RTLD_NOW | RTLD_LOCAL));
    }

    bool loaded() const { return module_ != nullptr; }

    std::optional<WholeSongApi> wholeSongApi() const {
        WholeSongApi api;
        resolve("SetRepeat", api.setRepeat);
        resolve("SendData", api.sendData);
        resolve("FixData", api.fixData);
        resolve("Seek", api.seek);
        resolve("Generate", api.generate);
        if (!api.setRepeat || !api.sendData || !api.fixData || !api.seek || !api.generate) return std::nullopt;
        return api;
    }

private:
    struct Closer {
        void operator()(void* module) const { dlclose(module); }
    };

    template <typename Fn>
    void resolve(const char* name, Fn& fn) const {
        fn = reinterpret_cast<Fn>(dlsym(module_.get(), name));
    }

    std::unique_ptr<void, Closer> module_;
};

}  // namespace

bool IsScoreFile(std::span<const uint8_t> bytes) {
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "MMMD", 4) == 0;
}

uint64_t FramesOfOnePlay(uint64_t start, uint32_t startMs, uint32_t lastEventMs) {
    if (startMs >= lastEventMs) return kChunkFrames;
    // The chunk starting at q dispatches the event at lastEventMs once q * 1000 / 22050 >= lastEventMs.
    const uint64_t due = (uint64_t(lastEventMs) * kFrameRate + 999) / 1000;
    const uint64_t chunks = due > start ? (due - start + kChunkFrames - 1) / kChunkFrames : 0;
    return chunks * kChunkFrames + kChunkFrames;
}

int RenderScore(std::span<const uint8_t> score, const WholeSongApi& api, const ScoreRenderOptions& options,
                std::vector<int16_t>& pcm, std::ostream& err) {
    api.sendData(nullptr, 0);
    api.sendData(score.data(), static_cast<unsigned>(score.size()));
    if (api.fixData() != 1) {
        fmt::print(err, "the score has no playable track\n");
        return 1;
    }
    const uint32_t lastMs = LastEventMs(api);
    if (options.seekMs > lastMs) {
        fmt::print(err, "--seek {} lies past the song's last event at {} ms\n", options.seekMs, lastMs);
        return 1;
    }
    if (options.seekMs > 0 ? api.seek(options.seekMs) != 0 : api.fixData() != 1) {
        fmt::print(err, "the score cannot be positioned\n");
        return 1;
    }
    // Loop through the library while more plays follow; the last play ends on its own.
    uint64_t loopFrames = 0;
    uint64_t start = uint64_t(options.seekMs) * kFrameRate / 1000;
    uint32_t startMs = options.seekMs;
    for (int play = 1; play < options.plays; ++play) {
        loopFrames += FramesOfOnePlay(start, startMs, lastMs);
        start = 0;
        startMs = 0;
    }
    api.setRepeat(options.plays > 1 ? 1 : 0);
    GenerateUpTo(api, loopFrames, pcm);
    api.setRepeat(0);
    GenerateUpTo(api, FramesOfOnePlay(start, startMs, lastMs) + kMaxTailFrames, pcm);
    api.sendData(nullptr, 0);
    return 0;
}

void AddScoreRenderOptions(CLI::App& render, ScoreRenderOptions& options) {
    render.add_option("--repeat", options.plays, "Score files: how many times the song plays (through SetRepeat)")
        ->check(CLI::Range(1, 1000));
    render.add_option("--seek", options.seekMs, "Score files: start the first play this many milliseconds in");
}

std::optional<int> RunScoreRender(const std::string& input, const std::string& output,
                                  const ScoreRenderOptions& options, std::ostream& err) {
    std::ifstream in(input, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<uint8_t> score{std::istreambuf_iterator<char>(in), {}};
    if (!IsScoreFile(score)) return std::nullopt;

    const LoadedLibrary library;
    if (!library.loaded()) {
        fmt::print(err, "{}\n", kSynthMissingMessage);
        return 1;
    }
    const auto api = library.wholeSongApi();
    if (!api) {
        fmt::print(err, "{}: the synthesizer library has no whole-song exports\n", input);
        return 1;
    }
    std::vector<int16_t> pcm;
    if (RenderScore(score, *api, options, pcm, err) != 0) return 1;
    auto out = CDiskFile::Open(output, CDiskFile::Mode::CreateWrite);
    if (!out || !WriteWaveFile(*out, pcm) || !out->Close()) {
        fmt::print(err, "{}: cannot be written\n", output);
        return 1;
    }
    return 0;
}

}  // namespace tonaro::cli
