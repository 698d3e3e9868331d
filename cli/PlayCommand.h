#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace tonaro {
class CPreviewPlayer;
}

namespace tonaro::cli {

inline constexpr const char* kWaveOutFailedMessage = "Failed to open WAVE OUT.";
// Exit status of a play stopped by Ctrl+C, as shells report an interrupted command.
inline constexpr int kInterruptedStatus = 130;

struct PlayOptions {
    std::string file;
    std::optional<uint32_t> rate;  // WAVE entries: 44100, 22050, 11025 or 8000 Hz
    std::optional<int> volume;     // MIDI entries: Master Volume 0..127; WAVE entries: -12..+12 dB
};

// Loads the file as adding it to the list does, plays it on `player` and shows the elapsed
// "mm:ss / mm:ss" on `out` (rewritten in place when `live`, one line per second otherwise)
// until the end or until `interrupted` is set. Returns 0 at the end, kInterruptedStatus (after
// "Stopped.") when interrupted, 1 with a reason on `err` otherwise.
int RunPlay(const PlayOptions& options, CPreviewPlayer& player, std::ostream& out, std::ostream& err, bool live,
            const std::atomic<bool>& interrupted);
void AddPlayCommand(CLI::App& app, int& exitStatus);

}  // namespace tonaro::cli
