#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace tonaro {

class CAudioRow;
class CDiskFile;
class CProgressState;

// One row of the list as the installation sees it, in list order.
struct InstallListEntry {
    CAudioRow* row;
    bool checked;
};

enum class InstallMode {
    kQueue,  // .PDB databases for the handheld
    kDump,   // the plain payloads, .MID or .WAV
};

enum class InstallEntryStatus {
    kWritten,
    kNoFreeName,  // suffixes -001 to -999 of this name are taken
    kCannotCreate,
    kWriteFailed,  // the half-written file is removed
};

// What became of one checked entry that the run reached.
struct InstallEntryResult {
    size_t index;          // in the list
    std::string fileName;  // with extension; empty when no name was free
    InstallEntryStatus status;
};

// The window side of a run; every hook does nothing by default.
class CInstallObserver {
public:
    virtual ~CInstallObserver() = default;
    // Between entries, so that a progress window stays responsive.
    virtual void PumpMessages() {}
    virtual void SetCurrentText(const std::string& /*fileName*/) {}
    virtual void EntryFinished(const InstallEntryResult& /*result*/) {}
};

struct InstallOutcome {
    std::vector<int32_t> succeeded;   // list indexes written, in list order
    std::vector<std::string> failed;  // names of entries that could not be queued, in list order
};

// Writes the checked entries of a list into `folder`: each as a database named from `localTime`
// and a counter that advances only on success (kQueue), or as its payload (kDump). The caller
// owns the progress state's range (BeginProgress/EndProgress); the run reports each entry's
// percentage of it and stops before the next entry once the state is cancelled.
class CInstallRun {
public:
    CInstallRun(InstallMode mode, std::filesystem::path folder, const std::tm& localTime)
        : mode_(mode), folder_(std::move(folder)), localTime_(localTime) {}

    InstallOutcome Run(const std::vector<InstallListEntry>& entries, CProgressState& progress,
                       CInstallObserver& observer) const;

    // "AlarmSound" followed by the date, time and a five-digit counter.
    static std::string DatabaseName(const std::tm& localTime, uint32_t counter);

private:
    bool WriteEntry(CAudioRow& row, CDiskFile& file, uint32_t databaseCounter) const;

    InstallMode mode_;
    std::filesystem::path folder_;
    std::tm localTime_;
};

}  // namespace tonaro
