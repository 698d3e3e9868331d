#include "palm/AudioRow.h"

#include <array>
#include <atomic>
#include <cstring>

#include "audio/Endian.h"
#include "audio/WaveItem.h"

namespace tonaro {

namespace {

constexpr uint8_t kRecordAttributesDirty = 0x40;
constexpr size_t kDatabaseNameField = 32;

std::atomic<CAudioRow::Clock> g_clock{nullptr};

uint32_t PalmNow() {
    const CAudioRow::Clock clock = g_clock.load();
    const std::time_t now = clock ? clock() : std::time(nullptr);
    return uint32_t(uint64_t(now) + kPalmEpochOffset);
}

struct ClassCodes {
    FourCC type;
    FourCC creator;
};

ClassCodes CodesOf(AudioClass audioClass) {
    return audioClass == AudioClass::Smf ? ClassCodes{MakeFourCC("smfr"), MakeFourCC("SmMd")}
                                         : ClassCodes{MakeFourCC("PCMr"), MakeFourCC("SdAd")};
}

}  // namespace

void CAudioRow::SetClock(Clock clock) { g_clock.store(clock); }

std::string BaseNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    std::string title = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = title.find_last_of('.');
    if (dot != std::string::npos && dot > 0) title.resize(dot);
    return title;
}

void CAudioRow::InstallItem(std::unique_ptr<CAudioItem> item, AudioClass audioClass, const std::string& path) {
    item_ = std::move(item);
    databaseName_.clear();
    sourcePath_ = path;
    class_ = audioClass;
    recordCount_ = 1;
    const ClassCodes codes = CodesOf(audioClass);
    type_ = codes.type;
    creator_ = codes.creator;
    UpdateConvertedSize();
    UpdatePlayTime();
}

int CAudioRow::LoadWave(CFile& file, const std::string& path) {
    file.Seek(0);
    auto item = std::make_unique<CWaveItem>();
    if (const int result = item->Load(file); result != kResultOk) return result;
    if (item->GetRecordSize() + kDatabaseHeaderBytes + kRecordEntryBytes > kMaxDatabaseBytes) {
        if (const int result = item->FitToSize(kFitLimit); result != kResultOk) return result;
    }
    item->SetName(BaseNameOf(path));
    item->SetRecordCode(MakeFourCC("PArc"));
    InstallItem(std::move(item), AudioClass::Wave, path);
    return kResultOk;
}

bool CAudioRow::WriteDatabase(CFile* file) {
    if (class_ == AudioClass::None || !item_ || !file) return false;
    if (!file->Seek(0)) return false;
    if (databaseName_.size() >= kDatabaseNameField) return false;

    creationDate_ = modificationDate_ = PalmNow();
    lastBackupDate_ = 0;

    std::array<uint8_t, kDatabaseHeaderBytes> header{};
    std::memcpy(header.data(), databaseName_.data(), databaseName_.size());
    PutBe16(&header[32], attributes_);
    PutBe16(&header[34], version_);
    PutBe32(&header[36], creationDate_);
    PutBe32(&header[40], modificationDate_);
    PutBe32(&header[44], lastBackupDate_);
    PutBe32(&header[48], modificationNumber_);
    PutBe32(&header[52], appInfoId_);
    PutBe32(&header[56], sortInfoId_);
    std::memcpy(&header[60], type_.data(), 4);
    std::memcpy(&header[64], creator_.data(), 4);
    PutBe32(&header[68], uniqueIdSeed_);
    PutBe32(&header[72], nextRecordListId_);
    PutBe16(&header[76], recordCount_);
    file->Write(header.data(), header.size());

    const uint32_t dataOffset = kDatabaseHeaderBytes + kRecordEntryBytes * recordCount_;
    for (uint32_t index = 0; index < recordCount_; ++index) {
        std::array<uint8_t, kRecordEntryBytes> entry{};
        PutBe32(&entry[0], dataOffset);
        entry[4] = kRecordAttributesDirty;
        entry[5] = uint8_t(index >> 16);
        entry[6] = uint8_t(index >> 8);
        entry[7] = uint8_t(index);
        file->Write(entry.data(), entry.size());
    }

    const bool recordWritten = item_->WriteRecord(file) == kResultOk;
    // A failed write anywhere (a full disk) fails the whole database, never a short file reported as written.
    return recordWritten && file->Flush() && !file->HasFailed();
}

void CAudioRow::SetDatabaseName(const std::string& name) {
    databaseName_ = name;
    UpdateConvertedSize();
}

uint32_t CAudioRow::UpdateConvertedSize() {
    convertedSize_ = kDatabaseHeaderBytes + kRecordEntryBytes * recordCount_ + (item_ ? item_->GetRecordSize() : 0);
    return convertedSize_;
}

uint32_t CAudioRow::UpdatePlayTime() {
    if (!item_) return 0;
    playTime_ = item_->GetPlayTime();
    return playTime_;
}

}  // namespace tonaro
