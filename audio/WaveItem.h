#pragma once

#include <cstdint>

#include "audio/AudioItem.h"
#include "audio/ByteBlock.h"
#include "audio/WaveFormat.h"

namespace tonaro {

// A RIFF WAVE entry: the PCM samples of the file (untouched in the listed item) and the
// IMA ADPCM data that is installed.
class CWaveItem : public CAudioItem {
public:
    CWaveItem() = default;
    CWaveItem& operator=(const CWaveItem& other);
    ~CWaveItem() override { FreeData(); }

    int Load(CFile& file) override;
    int WriteRecord(CFile* file) override;
    int WritePayload(CFile& file) override;
    void FreeData() override;
    uint32_t GetRecordSize() const override;
    const uint8_t* LockPayload() override { return adpcm_.Lock(); }
    void UnlockPayload() override { adpcm_.Unlock(); }
    uint32_t GetPayloadSize() const override { return adpcmSize_; }
    uint32_t GetPlayTime() const override;
    int GetVolume() const override { return volume_; }
    int IsShortened() const override { return shortened_; }
    void SetShortened(int flag) override { shortened_ = flag; }

    virtual uint32_t GetFileRate() const { return fileRate_; }
    virtual uint32_t GetOutputRate() const { return outputFormat_.wave.samplesPerSec; }
    virtual int FitToSize(uint32_t limit);
    virtual AdpcmWaveFormat GetOutputFormat() const { return outputFormat_; }
    virtual WaveFormat GetPcmFormat() const { return pcmFormat_; }
    virtual uint8_t* LockPcm() { return pcm_.Lock(); }
    virtual void UnlockPcm() { pcm_.Unlock(); }
    virtual uint32_t GetPcmSize() const { return pcmSize_; }
    virtual bool TakeOutput(const CWaveItem* other);
    virtual bool TakePcm(const CWaveItem* other);
    virtual bool EncodeAdpcm();
    virtual bool DecodeAdpcm();
    virtual void ApplyGain(int decibels);
    virtual int ConvertPcm(uint32_t rate, uint16_t channels, uint16_t bits);

    // Replace the held PCM or ADPCM bytes by a copy; false when memory runs out (nothing changes).
    bool SetPcm(const WaveFormat& format, const uint8_t* data, uint32_t size);
    bool SetAdpcm(const AdpcmWaveFormat& format, const uint8_t* data, uint32_t size);

private:
    WaveFormat pcmFormat_;
    AdpcmWaveFormat outputFormat_;
    uint32_t fileRate_ = 0;
    int volume_ = 0;  // dB, -12..+12, as last applied
    int shortened_ = 0;
    CByteBlock pcm_;
    uint32_t pcmSize_ = 0;
    CByteBlock adpcm_;
    uint32_t adpcmSize_ = 0;
};

}  // namespace tonaro
