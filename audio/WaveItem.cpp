#include "audio/WaveItem.h"

namespace tonaro {

namespace {
constexpr uint32_t kRiffHeaderBytes = 48;
}

CWaveItem& CWaveItem::operator=(const CWaveItem& other) {
    if (this == &other) return *this;
    CopyRecordHeader(other);
    if (!other.pcm_.IsAllocated() || !other.adpcm_.IsAllocated()) return *this;
    // Both copies are obtained before the old blocks go, so running out of memory keeps what we had.
    CByteBlock adpcm = CByteBlock::CopyOf(other.adpcm_.Data(), other.adpcmSize_);
    CByteBlock pcm = CByteBlock::CopyOf(other.pcm_.Data(), other.pcmSize_);
    if (!adpcm.IsAllocated() || !pcm.IsAllocated()) return *this;
    adpcm_ = std::move(adpcm);
    adpcmSize_ = other.adpcmSize_;
    pcm_ = std::move(pcm);
    pcmSize_ = other.pcmSize_;
    pcmFormat_ = other.pcmFormat_;
    outputFormat_ = other.outputFormat_;
    fileRate_ = other.fileRate_;
    volume_ = other.volume_;
    shortened_ = other.shortened_;
    return *this;
}

int CWaveItem::WriteRecord(CFile* file) {
    if (!adpcm_.IsAllocated()) return kResultFailed;
    if (!file) return kResultNoInput;
    WriteRecordCode(*file);
    WriteNameBlock(*file);
    return WritePayload(*file);
}

void CWaveItem::FreeData() {
    adpcm_.Free();
    adpcmSize_ = 0;
    pcm_.Free();
    pcmSize_ = 0;
}

uint32_t CWaveItem::GetRecordSize() const { return kRecordHeaderLength + kRiffHeaderBytes + adpcmSize_; }

bool CWaveItem::TakeOutput(const CWaveItem* other) {
    if (!other || !other->adpcm_.IsAllocated()) return false;
    if (!SetAdpcm(other->outputFormat_, other->adpcm_.Data(), other->adpcmSize_)) return false;
    volume_ = other->volume_;
    shortened_ = other->shortened_;
    return true;
}

bool CWaveItem::TakePcm(const CWaveItem* other) {
    if (!other || !other->pcm_.IsAllocated()) return false;
    return SetPcm(other->pcmFormat_, other->pcm_.Data(), other->pcmSize_);
}

bool CWaveItem::SetPcm(const WaveFormat& format, const uint8_t* data, uint32_t size) {
    CByteBlock block = CByteBlock::CopyOf(data, size);
    if (!block.IsAllocated()) return false;
    pcm_ = std::move(block);
    pcmSize_ = size;
    pcmFormat_ = format;
    return true;
}

bool CWaveItem::SetAdpcm(const AdpcmWaveFormat& format, const uint8_t* data, uint32_t size) {
    CByteBlock block = CByteBlock::CopyOf(data, size);
    if (!block.IsAllocated()) return false;
    adpcm_ = std::move(block);
    adpcmSize_ = size;
    outputFormat_ = format;
    return true;
}

}  // namespace tonaro
