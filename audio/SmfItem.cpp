#include "audio/SmfItem.h"

namespace tonaro {

CSmfItem& CSmfItem::operator=(const CSmfItem& other) {
    if (this == &other) return *this;
    CopyRecordHeader(other);
    // The new block is obtained before the old one goes, so running out of memory keeps what we had.
    CByteBlock copy;
    if (other.smf_.IsAllocated()) {
        copy = CByteBlock::CopyOf(other.smf_.Data(), other.smfSize_);
        if (!copy.IsAllocated()) return *this;
    }
    smf_ = std::move(copy);
    smfSize_ = smf_.IsAllocated() ? other.smfSize_ : 0;
    masterVolumePositions_ = other.masterVolumePositions_;
    volume_ = other.volume_;
    shortened_ = other.shortened_;
    return *this;
}

int CSmfItem::WriteRecord(CFile* file) {
    if (!smf_.IsAllocated()) return kResultFailed;
    if (!file) return kResultNoInput;
    WriteRecordCode(*file);
    WriteNameBlock(*file);
    return WritePayload(*file);
}

int CSmfItem::WritePayload(CFile& file) {
    CBlockLock lock(smf_);
    if (!lock) return kResultNoMemory;
    file.Write(lock.data(), smfSize_);
    return kResultOk;
}

void CSmfItem::FreeData() {
    smf_.Free();
    smfSize_ = 0;
    masterVolumePositions_.clear();
}

bool CSmfItem::SetSmfBytes(const uint8_t* data, uint32_t size) {
    CByteBlock block = CByteBlock::CopyOf(data, size);
    if (!block.IsAllocated()) return false;
    TakeSmfBytes(std::move(block), size);
    return true;
}

void CSmfItem::TakeSmfBytes(CByteBlock block, uint32_t size) {
    smf_ = std::move(block);
    smfSize_ = size;
    // Recorded positions point into the old bytes; CollectMasterVolume finds them anew.
    masterVolumePositions_.clear();
}

}  // namespace tonaro
