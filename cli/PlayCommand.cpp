#include "cli/PlayCommand.h"

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <memory>

#include "audio/WaveItem.h"
#include "cli/ConvertCommand.h"
#include "palm/AudioRow.h"
#include "palm/WaveAdjustment.h"
#include "preview/PlayReceiverQueue.h"
#include "preview/PreviewPlayer.h"
#include "preview/WaveOutSdl.h"

namespace tonaro::cli {

namespace {

// How often the wait for the player's next message looks at the interrupt flag.
constexpr auto kInterruptPoll = std::chrono::milliseconds(50);

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }

// Catches Ctrl+C for the life of the object, so playback is stopped rather than cut off.
class CInterruptCatcher {
public:
    CInterruptCatcher() {
        g_interrupted = false;
        struct sigaction action {};
        action.sa_handler = &OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~CInterruptCatcher() { sigaction(SIGINT, &previous_, nullptr); }
    CInterruptCatcher(const CInterruptCatcher&) = delete;
    CInterruptCatcher& operator=(const CInterruptCatcher&) = delete;

private:
    struct sigaction previous_ {};
};

// Minutes are shown modulo 60, as the list shows play times.
std::string Clock(uint32_t seconds) { return fmt::format("{:02d}:{:02d}", seconds / 60 % 60, seconds % 60); }

class CProgressLine {
public:
    CProgressLine(std::ostream& out, bool live, uint32_t totalSeconds)
        : out_(out), live_(live), total_(Clock(totalSeconds)) {}

    void Show(uint32_t seconds) {
        fmt::print(out_, "{}{} / {}{}", live_ ? "\r" : "", Clock(seconds), total_, live_ ? "" : "\n");
        out_.flush();
        shown_ = true;
    }
    void Finish() {
        if (live_ && shown_) fmt::print(out_, "\n");
    }

private:
    std::ostream& out_;
    bool live_;
    std::string total_;
    bool shown_ = false;
};

int Start(CPreviewPlayer& player, CAudioRow& row, CPlayReceiver& receiver) {
    if (row.Class() == AudioClass::Smf) return player.PlayMidi(row.Item(), row.PlayTime(), &receiver);
    return player.PlayWave(static_cast<CWaveItem*>(row.Item()), row.PlayTime(), &receiver);
}

}  // namespace

int RunPlay(const PlayOptions& options, CPreviewPlayer& player, std::ostream& out, std::ostream& err, bool live,
            const std::atomic<bool>& interrupted) {
    if (!player.IsReady()) {
        fmt::print(err, "{}\n", player.IsSynthLoaded() ? kWaveOutFailedMessage : kSynthMissingMessage);
        return 1;
    }
    std::string reason;
    std::unique_ptr<CAudioRow> row = LoadEntry(options.file, reason);
    if (!row || !AdjustEntry(*row, EntryOptions{options.rate, options.volume}, reason)) {
        fmt::print(err, "{}: {}\n", options.file, reason);
        return 1;
    }

    CPlayReceiverQueue receiver;
    const int result = Start(player, *row, receiver);
    if (result == kResultUnsupported) {
        fmt::print(err, "{}\n", kWaveOutFailedMessage);
        return 1;
    }
    if (result != kResultOk || !player.IsPlaying()) {
        fmt::print(err, "{}: cannot be played\n", options.file);
        return 1;
    }
    fmt::print(out, "{}  {}\n", row->GetName(), row->Class() == AudioClass::Smf ? "MIDI" : "WAVE");
    CProgressLine line(out, live, row->PlayTime() / 1000);
    // The end repeats until Stop; the first one ends the play.
    while (!interrupted) {
        const std::optional<PlayMessage> message = receiver.Wait(kInterruptPoll);
        if (!message) continue;
        line.Show(message->param);
        if (message->message == kWmPlayEnd) break;
    }
    player.Stop();
    line.Finish();
    if (!interrupted) return 0;
    fmt::print(out, "Stopped.\n");
    return kInterruptedStatus;
}

void AddPlayCommand(CLI::App& app, int& exitStatus) {
    auto* command = app.add_subcommand("play", "Play a MIDI or WAVE file on the default audio device as it would be "
                                               "installed; Ctrl+C stops it");
    auto options = std::make_shared<PlayOptions>();
    command->add_option("file", options->file, "MIDI or WAVE file")->required();
    command->add_option("--rate", options->rate, "Sampling rate of a WAVE entry: 44100, 22050, 11025 or 8000");
    command->add_option("--volume", options->volume,
                        "Master Volume 0..127 of a MIDI entry, or -12..+12 dB of a WAVE entry");
    command->callback([options, &exitStatus] {
        CInterruptCatcher catcher;
        CPreviewPlayer player(std::make_unique<CSdlWaveOut>(), std::make_unique<CSynthBinding>());
        exitStatus = RunPlay(*options, player, std::cout, std::cerr, isatty(STDOUT_FILENO) != 0, g_interrupted);
    });
}

}  // namespace tonaro::cli
