#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tonaro {
class CAudioRow;
}

namespace tonaro::cli {

// How each loaded entry is adjusted before it is written, as the adjustment dialogs would.
struct EntryOptions {
    std::optional<uint32_t> rate;  // WAVE entries: 44100, 22050, 11025 or 8000 Hz
    std::optional<int> volume;     // MIDI entries: Master Volume 0..127; WAVE entries: -12..+12 dB
};

struct ConvertOptions {
    std::vector<std::string> files;
    std::string outputDir;
    bool dump = false;  // plain .MID / .WAV payloads instead of .PDB databases
    EntryOptions entry;
};

// Offers the file to the MIDI loader, then to the WAVE loader, as the add flow does; a reason
// when neither takes it.
std::unique_ptr<CAudioRow> LoadEntry(const std::string& path, std::string& reason);

// Applies the options to one loaded row; false with a reason when they do not fit the entry.
bool AdjustEntry(CAudioRow& row, const EntryOptions& options, std::string& reason);

// Loads every file as the add flow does and writes the list, all checked, with the installation
// core. One line per written entry on `out`, failures with their reason on `err`. Returns 0 when
// every file was written, 1 otherwise; files already written are kept.
int RunConvert(const ConvertOptions& options, std::ostream& out, std::ostream& err);
void AddConvertCommand(CLI::App& app, int& exitStatus);

}  // namespace tonaro::cli
