#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "audio/AudioItem.h"
#include "audio/ByteBlock.h"

namespace tonaro {

// A Standard MIDI File entry, always held as a format-0 file.
class CSmfItem : public CAudioItem {
public:
    static constexpr int kMaxVolume = 127;

    CSmfItem() = default;
    CSmfItem& operator=(const CSmfItem& other);
    ~CSmfItem() override { FreeData(); }

    int Load(CFile& file) override;
    int WriteRecord(CFile* file) override;
    int WritePayload(CFile& file) override;
    void FreeData() override;
    uint32_t GetRecordSize() const override { return kRecordHeaderLength + smfSize_; }
    const uint8_t* LockPayload() override { return smf_.Lock(); }
    void UnlockPayload() override { smf_.Unlock(); }
    uint32_t GetPayloadSize() const override { return smfSize_; }
    uint32_t GetPlayTime() const override;
    int GetVolume() const override { return volume_; }
    int IsShortened() const override { return shortened_; }
    void SetShortened(int flag) override { shortened_ = flag; }

    // The format word of an SMF file, or nothing when the file does not start like one.
    static std::optional<uint16_t> ReadSmfFormat(CFile& file);

    // Puts a Master Volume message of 127 before the first sounding note unless one precedes it,
    // and after every later General MIDI System On or System Reset unless the sound sent one since
    // its last note. A result code.
    int InsertMasterVolume();
    // Cuts the SMF to at most `limit` bytes at the last point where no released channel still
    // sounds (else at the last event that starts nothing), then appends All Sound Off on every
    // channel and End of Track. A result code; 4 when the limit leaves no room for an event.
    int FitToSize(uint32_t limit);
    // Records where every Master Volume message is; the volume becomes the largest of their
    // values, or 127 when there are none. A result code.
    int CollectMasterVolume();
    // Moves every recorded Master Volume value by `delta`, each limited to 0..127.
    int AdjustMasterVolume(int delta);
    int GetMaxMasterVolume() const;

    // Replaces the SMF bytes by a copy of `size` bytes; false when memory runs out.
    bool SetSmfBytes(const uint8_t* data, uint32_t size);
    const std::vector<uint32_t>& MasterVolumePositions() const { return masterVolumePositions_; }

private:
    // Takes a finished block as the SMF bytes.
    void TakeSmfBytes(CByteBlock block, uint32_t size);

    int shortened_ = 0;
    int volume_ = kMaxVolume;
    std::vector<uint32_t> masterVolumePositions_;  // offset of each Master Volume message's 0x7F byte
    uint32_t smfSize_ = 0;
    CByteBlock smf_;
};

}  // namespace tonaro
