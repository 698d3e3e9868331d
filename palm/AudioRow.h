#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "audio/AudioItem.h"
#include "audio/File.h"

namespace tonaro {

// Size limits of a Palm sound database file.
inline constexpr uint32_t kDatabaseHeaderBytes = 78;
inline constexpr uint32_t kRecordEntryBytes = 8;
inline constexpr uint32_t kMaxDatabaseBytes = 64000;
// The largest record an entry is cut to: 63914 - 38 bytes of payload after the record header.
inline constexpr uint32_t kFitLimit = 63914 - CAudioItem::kRecordHeaderLength;
// Seconds from 1904-01-01 (Palm OS dates) to 1970-01-01.
inline constexpr uint32_t kPalmEpochOffset = 2082844800;

enum class AudioClass : int32_t { None = -1, Smf = 0, Wave = 1 };

// One row of the audio list and one future Palm database holding a single record, the sound.
class CAudioRow {
public:
    // The clock read for the database dates; tests replace it.
    using Clock = std::time_t (*)();

    CAudioRow() = default;
    CAudioRow(const CAudioRow&) = delete;
    CAudioRow& operator=(const CAudioRow&) = delete;
    virtual ~CAudioRow() = default;

    // Load an open file as a Standard MIDI File or a RIFF WAVE file; a result code. On failure the
    // row is unchanged.
    int LoadSmf(CFile& file, const std::string& path);
    int LoadWave(CFile& file, const std::string& path);

    // Writes the whole database at the start of `file`; false when nothing or not all was written.
    bool WriteDatabase(CFile* file);
    void SetDatabaseName(const std::string& name);
    uint32_t UpdateConvertedSize();
    uint32_t UpdatePlayTime();

    std::string GetName() const { return item_ ? item_->GetName() : std::string(); }
    void SetName(std::string_view name) {
        if (item_) item_->SetName(name);
    }
    int GetVolume() const { return item_ ? item_->GetVolume() : 0; }
    int IsShortened() const { return item_ ? item_->IsShortened() : 0; }

    CAudioItem* Item() const { return item_.get(); }
    AudioClass Class() const { return class_; }
    const std::string& SourcePath() const { return sourcePath_; }
    const std::string& DatabaseName() const { return databaseName_; }
    uint32_t ConvertedSize() const { return convertedSize_; }
    uint32_t PlayTime() const { return playTime_; }
    FourCC Type() const { return type_; }
    FourCC Creator() const { return creator_; }
    uint32_t CreationDate() const { return creationDate_; }
    uint32_t ModificationDate() const { return modificationDate_; }
    uint16_t RecordCount() const { return recordCount_; }
    int Playing() const { return playing_; }
    void SetPlaying(int playing) { playing_ = playing; }

    // Takes a loaded item as this row's audio, as loading a file does.
    void InstallItem(std::unique_ptr<CAudioItem> item, AudioClass audioClass, const std::string& path);

    static void SetClock(Clock clock);

private:
    int playing_ = 0;
    std::string sourcePath_;
    uint32_t convertedSize_ = 0;
    uint32_t playTime_ = 0;
    AudioClass class_ = AudioClass::None;
    std::string databaseName_;
    uint32_t uniqueIdSeed_ = 0;
    FourCC creator_{};
    FourCC type_{};
    uint32_t sortInfoId_ = 0;
    uint32_t appInfoId_ = 0;
    uint32_t creationDate_ = 0;
    uint32_t modificationDate_ = 0;
    uint32_t lastBackupDate_ = 0;
    uint32_t modificationNumber_ = 0;
    uint16_t version_ = 1;
    uint16_t attributes_ = 0;
    uint32_t nextRecordListId_ = 0;
    uint16_t recordCount_ = 0;
    std::unique_ptr<CAudioItem> item_;
};

// The file title without directory and extension, as entries are named.
std::string BaseNameOf(const std::string& path);

}  // namespace tonaro
