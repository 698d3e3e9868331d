#pragma once

#include <cstdint>
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

    // Replaces the SMF bytes by a copy of `size` bytes; false when memory runs out.
    bool SetSmfBytes(const uint8_t* data, uint32_t size);
    const std::vector<uint32_t>& MasterVolumePositions() const { return masterVolumePositions_; }

private:
    int shortened_ = 0;
    int volume_ = kMaxVolume;
    std::vector<uint32_t> masterVolumePositions_;  // offset of each Master Volume message's 0x7F byte
    uint32_t smfSize_ = 0;
    CByteBlock smf_;
};

}  // namespace tonaro
