#include "palm/InstallRun.h"

#include <cstdio>
#include <optional>
#include <system_error>

#include "app/progress/ProgressState.h"
#include "audio/MulDiv.h"
#include "palm/AudioRow.h"
#include "palm/InstallNamer.h"

namespace tonaro {

namespace {

const char* ExtensionOf(InstallMode mode, const CAudioRow& row) {
    if (mode == InstallMode::kQueue) return ".PDB";
    return row.Class() == AudioClass::Smf ? ".MID" : ".WAV";
}

}  // namespace

std::string CInstallRun::DatabaseName(const std::tm& localTime, uint32_t counter) {
    char name[64];
    std::snprintf(name, sizeof name, "AlarmSound%04d%02d%02d%02d%02d%02d%05u", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min, localTime.tm_sec,
                  unsigned(counter));
    return name;
}

bool CInstallRun::WriteEntry(CAudioRow& row, CDiskFile& file, uint32_t databaseCounter) const {
    if (mode_ == InstallMode::kQueue) {
        row.SetDatabaseName(DatabaseName(localTime_, databaseCounter));
        return row.WriteDatabase(&file);
    }
    return row.Item() && row.Item()->WritePayload(file) == kResultOk;
}

InstallOutcome CInstallRun::Run(const std::vector<InstallListEntry>& entries, CProgressState& progress,
                                CInstallObserver& observer) const {
    InstallOutcome outcome;
    CInstallNamer namer;
    int32_t checkedCount = 0;
    for (const InstallListEntry& entry : entries) {
        if (!entry.checked) continue;
        namer.Count(entry.row->GetName());
        ++checkedCount;
    }

    uint32_t databaseCounter = 1;
    int32_t processed = 0;
    for (size_t index = 0; index < entries.size(); ++index) {
        if (progress.IsCancelled()) break;
        observer.PumpMessages();
        const InstallListEntry& entry = entries[index];
        if (!entry.checked) continue;
        CAudioRow& row = *entry.row;
        const std::string name = row.GetName();
        const char* extension = ExtensionOf(mode_, row);

        const std::optional<std::string> fileName = namer.NextFileName(name, extension);
        if (!fileName) {
            outcome.failed.push_back(name);
            observer.EntryFinished({index, {}, InstallEntryStatus::kNoFreeName});
            continue;
        }
        const std::string fullName = *fileName + extension;
        observer.SetCurrentText(fullName);
        const std::filesystem::path path = folder_ / fullName;

        auto file = CDiskFile::Open(path.string(), CDiskFile::Mode::CreateWrite);
        if (!file) {
            // Reported by its file name; it does not move the bar.
            outcome.failed.push_back(*fileName);
            observer.EntryFinished({index, fullName, InstallEntryStatus::kCannotCreate});
            continue;
        }
        bool written = WriteEntry(row, *file, databaseCounter);
        // A full disk may show only when the buffered bytes go out on closing.
        written = file->Close() && written;
        if (written) {
            outcome.succeeded.push_back(int32_t(index));
            if (mode_ == InstallMode::kQueue) ++databaseCounter;
            observer.EntryFinished({index, fullName, InstallEntryStatus::kWritten});
        } else {
            // No half-written file is left for the handheld.
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
            outcome.failed.push_back(name);
            observer.EntryFinished({index, fullName, InstallEntryStatus::kWriteFailed});
        }
        ++processed;
        progress.ReportProgress(CProgressState::kPercent, MulDiv(100, processed, checkedCount));
    }
    return outcome;
}

}  // namespace tonaro
