#include "app/progress/ProgressState.h"
#include "audio/SmfItem.h"
#include "palm/AudioRow.h"

namespace tonaro {

namespace {

// One step of the load with its share of the file's progress range, in percent.
struct SmfLoadStep {
    int startPercent;
    int endPercent;
    int (*run)(CSmfItem& item, CFile& file);
};

bool Oversized(const CSmfItem& item) {
    return item.GetRecordSize() + kDatabaseHeaderBytes + kRecordEntryBytes > kMaxDatabaseBytes;
}

constexpr SmfLoadStep kSmfLoadSteps[] = {
    {0, 70, [](CSmfItem& item, CFile& file) { return item.Load(file); }},
    {70, 80, [](CSmfItem& item, CFile&) { return item.InsertMasterVolume(); }},
    {80, 90, [](CSmfItem& item, CFile&) { return Oversized(item) ? item.FitToSize(kFitLimit) : int{kResultOk}; }},
    {90, 100, [](CSmfItem& item, CFile&) { return item.CollectMasterVolume(); }},
};

}  // namespace

int CAudioRow::LoadSmf(CFile& file, const std::string& path) {
    CProgressState& progress = CProgressState::Global();
    CProgressRangeGuard range(progress);
    const std::string name = BaseNameOf(path);
    file.Seek(0);
    auto item = std::make_unique<CSmfItem>();
    for (const SmfLoadStep& step : kSmfLoadSteps) {
        range.Narrow(step.startPercent, step.endPercent);
        if (const int result = step.run(*item, file); result != kResultOk) return result;
        progress.ReportProgress(CProgressState::kPercent, 100);
        // A cancel noticed between steps ends the load as cancelled wherever it is seen.
        if (progress.IsCancelled()) return kResultCancelled;
    }
    item->SetName(name);
    item->SetRecordCode(MakeFourCC("PMrc"));
    InstallItem(std::move(item), AudioClass::Smf, path);
    return kResultOk;
}

}  // namespace tonaro
