#include "cli/ConvertCommand.h"

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>

#include "app/progress/ProgressState.h"
#include "audio/MulDiv.h"
#include "audio/SmfItem.h"
#include "audio/WaveItem.h"
#include "palm/AudioRow.h"
#include "palm/InstallRun.h"
#include "palm/WaveAdjustment.h"

namespace tonaro::cli {

namespace {

constexpr int32_t kProgressTop = 65535;
constexpr int kMaxMidiVolume = 127;
constexpr auto kQuietMoment = std::chrono::milliseconds(300);

// A bar on stderr, drawn only on a terminal and only once the batch has lasted a moment.
class CTerminalProgressBar {
public:
    CTerminalProgressBar() : enabled_(isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}
    ~CTerminalProgressBar() {
        if (drawn_) std::fputs("\r\033[K", stderr);
    }
    CTerminalProgressBar(const CTerminalProgressBar&) = delete;
    CTerminalProgressBar& operator=(const CTerminalProgressBar&) = delete;

    static void Callback(int /*kind*/, void* target, int32_t position) {
        static_cast<CTerminalProgressBar*>(target)->Draw(position);
    }

private:
    void Draw(int32_t position) {
        if (!enabled_ || std::chrono::steady_clock::now() - start_ < kQuietMoment) return;
        constexpr int kWidth = 40;
        const int filled = std::clamp(MulDiv(position, kWidth, kProgressTop), 0, kWidth);
        if (drawn_ && filled == lastFilled_) return;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(kWidth - filled), ' ').c_str(), MulDiv(position, 100, kProgressTop));
        std::fflush(stderr);
        drawn_ = true;
        lastFilled_ = filled;
    }

    bool enabled_;
    std::chrono::steady_clock::time_point start_;
    bool drawn_ = false;
    int lastFilled_ = -1;
};

// The progress state's run for one command, ended however the command ends.
class CProgressSession {
public:
    explicit CProgressSession(CTerminalProgressBar& bar) {
        CProgressState::Global().EndProgress();
        CProgressState::Global().BeginProgress(&bar, &CTerminalProgressBar::Callback, 0, kProgressTop);
    }
    ~CProgressSession() { CProgressState::Global().EndProgress(); }
    CProgressSession(const CProgressSession&) = delete;
    CProgressSession& operator=(const CProgressSession&) = delete;
};

std::string PlayTimeText(uint32_t milliseconds) {
    return fmt::format("{:02d}:{:02d}", milliseconds / 60000 % 60, milliseconds / 1000 % 60);
}

const char* ClassText(AudioClass audioClass) {
    return audioClass == AudioClass::Smf ? "MIDI" : "WAVE";
}

struct LoadedEntry {
    std::unique_ptr<CAudioRow> row;
    std::string path;
};


class CConvertReport : public CInstallObserver {
public:
    CConvertReport(const std::vector<LoadedEntry>& entries, std::ostream& out, std::ostream& err)
        : entries_(entries), out_(out), err_(err) {}

    void EntryFinished(const InstallEntryResult& result) override {
        const CAudioRow& row = *entries_[result.index].row;
        const std::string& path = entries_[result.index].path;
        switch (result.status) {
            case InstallEntryStatus::kWritten:
                fmt::print(out_, "{}  {}  {}  {} bytes{}\n", result.fileName, ClassText(row.Class()),
                           PlayTimeText(row.PlayTime()), row.ConvertedSize(), row.IsShortened() ? "  shortened" : "");
                break;
            case InstallEntryStatus::kNoFreeName:
                fmt::print(err_, "{}: no free name: suffixes -001 to -999 are taken\n", path);
                break;
            case InstallEntryStatus::kCannotCreate:
                fmt::print(err_, "{}: {} cannot be created\n", path, result.fileName);
                break;
            case InstallEntryStatus::kWriteFailed:
                fmt::print(err_, "{}: writing {} failed\n", path, result.fileName);
                break;
        }
    }

private:
    const std::vector<LoadedEntry>& entries_;
    std::ostream& out_;
    std::ostream& err_;
};

std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

std::unique_ptr<CAudioRow> LoadEntry(const std::string& path, std::string& reason) {
    auto file = CDiskFile::Open(path, CDiskFile::Mode::Read);
    if (!file) {
        reason = "The file cannot be opened.";
        return nullptr;
    }
    auto row = std::make_unique<CAudioRow>();
    int result = row->LoadSmf(*file, path);
    if (result != kResultOk && result != kResultNoMemory && result != kResultCancelled)
        result = row->LoadWave(*file, path);
    if (result == kResultOk) return row;
    reason = result == kResultNoMemory    ? "Insufficient memory"
             : result == kResultCancelled ? "Cancelled."
                                          : "This file format is not supported.";
    return nullptr;
}

bool AdjustEntry(CAudioRow& row, const EntryOptions& options, std::string& reason) {
    if (auto* wave = dynamic_cast<CWaveItem*>(row.Item())) {
        if (!options.rate && !options.volume) return true;
        // The sampling-rate and volume dialogs' pipeline, so the bytes equal what they produce.
        if (AdjustWaveRow(row, options.rate.value_or(wave->GetFileRate()), options.volume.value_or(0)) != kResultOk) {
            reason = "the rate must be 44100, 22050, 11025 or 8000 Hz and the volume -12..+12 dB for a WAVE entry";
            return false;
        }
        return true;
    }
    auto* smf = dynamic_cast<CSmfItem*>(row.Item());
    if (smf && options.rate) {
        reason = "--rate applies to WAVE entries only";
        return false;
    }
    if (smf && options.volume) {
        if (*options.volume < 0 || *options.volume > kMaxMidiVolume) {
            reason = fmt::format("volume {} is outside 0..{} for a MIDI entry", *options.volume, kMaxMidiVolume);
            return false;
        }
        // As the volume dialog's OK: every Master Volume message moves by the same amount.
        if (smf->AdjustMasterVolume(*options.volume - smf->GetMaxMasterVolume()) != kResultOk) {
            reason = "the volume cannot be changed";
            return false;
        }
    }
    return true;
}

int RunConvert(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
    std::error_code error;
    std::filesystem::create_directories(options.outputDir, error);
    if (!std::filesystem::is_directory(options.outputDir)) {
        fmt::print(err, "{}: the output folder cannot be created\n", options.outputDir);
        return 1;
    }

    CTerminalProgressBar bar;
    CProgressSession session(bar);
    CProgressState& progress = CProgressState::Global();
    bool failed = false;

    // Loading takes the first half of the bar, writing the second.
    std::vector<LoadedEntry> entries;
    const int32_t files = int32_t(options.files.size());
    for (int32_t i = 0; i < files && !progress.IsCancelled(); ++i) {
        const std::string& path = options.files[size_t(i)];
        progress.SetProgressRange(MulDiv(kProgressTop / 2, i, files), MulDiv(kProgressTop / 2, i + 1, files));
        std::string reason;
        std::unique_ptr<CAudioRow> row = LoadEntry(path, reason);
        if (row && !AdjustEntry(*row, options.entry, reason)) row.reset();
        progress.ReportProgress(CProgressState::kPercent, 100);
        if (!row) {
            fmt::print(err, "{}: {}\n", path, reason);
            failed = true;
            continue;
        }
        entries.push_back({std::move(row), path});
    }

    progress.SetProgressRange(kProgressTop / 2, kProgressTop);
    std::vector<InstallListEntry> list;
    for (const LoadedEntry& entry : entries) list.push_back({entry.row.get(), true});
    CConvertReport report(entries, out, err);
    const CInstallRun run(options.dump ? InstallMode::kDump : InstallMode::kQueue, options.outputDir, LocalNow());
    const InstallOutcome outcome = run.Run(list, progress, report);
    failed = failed || !outcome.failed.empty() || outcome.succeeded.size() != entries.size();
    return failed ? 1 : 0;
}

void AddConvertCommand(CLI::App& app, int& exitStatus) {
    auto* command = app.add_subcommand("convert", "Convert MIDI and WAVE files to .PDB sound databases");
    auto options = std::make_shared<ConvertOptions>();
    command->add_option("files", options->files, "MIDI or WAVE files")->required();
    command->add_option("-o,--output", options->outputDir, "Folder that receives the files")->required();
    command->add_flag("--dump", options->dump, "Write the plain .MID / .WAV payloads instead of databases");
    command->add_option("--rate", options->entry.rate, "Sampling rate of WAVE entries: 44100, 22050, 11025 or 8000");
    command->add_option("--volume", options->entry.volume,
                        "Master Volume of MIDI entries, 0..127; gain of WAVE entries in dB, -12..12");
    command->callback([options, &exitStatus] { exitStatus = RunConvert(*options, std::cout, std::cerr); });
}

}  // namespace tonaro::cli
