#include <algorithm>
#include <vector>

#include "app/progress/ProgressState.h"
#include "audio/Endian.h"
#include "audio/Gain.h"
#include "audio/ImaAdpcm.h"
#include "audio/ImaAdpcmDecoder.h"
#include "audio/ImaAdpcmEncoder.h"
#include "audio/PcmConverter.h"
#include "audio/WaveItem.h"
#include "audio/WaveReader.h"

namespace tonaro {

namespace {

constexpr uint32_t kRiffHeaderBytes = 48;
constexpr uint32_t kKeptSeconds = 17;
constexpr uint32_t kMinPlayTimeMs = 1000;

WaveFormat PcmFormatOf(uint16_t channels, uint32_t rate, uint16_t bits) {
    const uint16_t blockAlign = uint16_t(bits / 8 * channels);
    return {kWaveFormatPcm, channels, rate, rate * blockAlign, blockAlign, bits, 0};
}

}  // namespace

int CWaveItem::Load(CFile& file) {
    WaveFileInfo info;
    if (ReadWaveFile(file, info) != kResultOk) return kResultUnsupported;
    FreeData();
    const uint64_t kept = std::min<uint64_t>(info.dataSize, uint64_t(kKeptSeconds) * info.format.avgBytesPerSec);
    CByteBlock block = CByteBlock::Allocate(size_t(kept));
    if (!block.IsAllocated()) return kResultUnsupported;
    if (!file.Seek(info.dataOffset) || file.Read(block.Lock(), size_t(kept)) != kept) return kResultUnsupported;
    block.Unlock();
    pcm_ = std::move(block);
    pcmSize_ = uint32_t(kept);
    pcmFormat_ = info.format;
    if (!EncodeAdpcm()) {
        FreeData();
        return kResultUnsupported;
    }
    fileRate_ = pcmFormat_.samplesPerSec;
    return kResultOk;
}

int CWaveItem::WritePayload(CFile& file) {
    CBlockLock data(adpcm_);
    if (!data) return kResultNoMemory;
    uint8_t header[kRiffHeaderBytes];
    std::copy_n("RIFF", 4, header);
    PutLe32(header + 4, adpcmSize_ + kRiffHeaderBytes - 8);
    std::copy_n("WAVEfmt ", 8, header + 8);
    PutLe32(header + 16, 20);
    const auto format = outputFormat_.ToBytes();
    std::copy(format.begin(), format.end(), header + 20);
    std::copy_n("data", 4, header + 40);
    PutLe32(header + 44, adpcmSize_);
    file.Write(header, sizeof header);
    file.Write(data.data(), adpcmSize_);
    return kResultOk;
}

uint32_t CWaveItem::GetPlayTime() const {
    const uint32_t perSecond = outputFormat_.wave.avgBytesPerSec;
    const uint64_t ms = perSecond ? uint64_t(adpcmSize_) * 1000 / perSecond : 0;
    return uint32_t(std::max<uint64_t>(ms, kMinPlayTimeMs));
}

int CWaveItem::FitToSize(uint32_t limit) {
    if (!adpcm_.IsAllocated() || !outputFormat_.wave.blockAlign) return kResultFailed;
    if (limit < kRecordHeaderLength + kRiffHeaderBytes) return kResultNoInput;
    const uint32_t room = limit - kRecordHeaderLength - kRiffHeaderBytes;
    if (room > adpcmSize_) return kResultOk;
    SetShortened(1);
    const uint32_t size = room / outputFormat_.wave.blockAlign * outputFormat_.wave.blockAlign;
    return SetAdpcm(outputFormat_, adpcm_.Data(), size) ? kResultOk : kResultNoMemory;
}

bool CWaveItem::EncodeAdpcm() {
    const uint32_t total = CImaAdpcmEncoder::EncodedSize(pcmFormat_, pcmSize_);
    if (!total) return false;
    CByteBlock block = CByteBlock::Allocate(total);
    CBlockLock pcm(pcm_);
    if (!block.IsAllocated() || !pcm) return false;
    CImaAdpcmEncoder encoder;
    encoder.Encode(pcmFormat_, pcm.data(), pcmSize_, block.Lock(),
                   [](int percent) { CProgressState::Global().ReportProgress(CProgressState::kPercent, percent); });
    block.Unlock();
    adpcm_ = std::move(block);
    adpcmSize_ = total;
    outputFormat_ = ImaAdpcmFormat(pcmFormat_.channels, pcmFormat_.samplesPerSec);
    return true;
}

bool CWaveItem::DecodeAdpcm() {
    const CImaAdpcmDecoder decoder(outputFormat_);
    const size_t samples = decoder.SampleCount(adpcmSize_);
    if (!samples || samples * 2 > UINT32_MAX) return false;
    CByteBlock block = CByteBlock::Allocate(samples * 2);
    CBlockLock adpcm(adpcm_);
    if (!block.IsAllocated() || !adpcm) return false;
    // Samples are stored little-endian whatever the host order.
    std::vector<int16_t> decoded(samples);
    decoder.Decode(adpcm.data(), adpcmSize_, decoded.data());
    uint8_t* out = block.Lock();
    for (size_t i = 0; i < samples; ++i) PutLe16(out + 2 * i, uint16_t(decoded[i]));
    block.Unlock();
    pcm_ = std::move(block);
    pcmSize_ = uint32_t(samples * 2);
    pcmFormat_ = PcmFormatOf(outputFormat_.wave.channels, outputFormat_.wave.samplesPerSec, 16);
    return true;
}

void CWaveItem::ApplyGain(int decibels) {
    volume_ = std::clamp(decibels, kMinGainDb, kMaxGainDb);
    CBlockLock pcm(pcm_);
    if (pcm) ApplyGainQ15(pcm.data(), pcmSize_, pcmFormat_, GainFactorQ15(volume_));
}

int CWaveItem::ConvertPcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    if (rate == pcmFormat_.samplesPerSec) return kResultOk;
    if (channels != 1 && channels != 2) channels = pcmFormat_.channels;
    if (bits != 8 && bits != 16) bits = pcmFormat_.bitsPerSample;
    const uint32_t sourceRate = pcmFormat_.samplesPerSec;
    uint64_t capacity = uint64_t(sourceRate ? rate / sourceRate + 1 : 1) * pcmSize_;
    capacity = capacity * (channels > pcmFormat_.channels ? 2 : 1) / (channels < pcmFormat_.channels ? 2 : 1);
    capacity = capacity * (bits > pcmFormat_.bitsPerSample ? 2 : 1) / (bits < pcmFormat_.bitsPerSample ? 2 : 1);
    if (capacity > UINT32_MAX) return kResultNoMemory;

    CByteBlock output = CByteBlock::Allocate(size_t(capacity));
    if (!output.IsAllocated() || !pcm_.IsAllocated()) return kResultNoMemory;
    uint32_t produced = 0;
    {
        CBlockLock pcm(pcm_);
        CBlockLock out(output);
        const PcmShape source{sourceRate, pcmFormat_.bitsPerSample, pcmFormat_.channels};
        const PcmShape target{rate, bits, channels};
        if (const int result =
                CPcmConverter::Convert(pcm.data(), pcmSize_, out.data(), uint32_t(capacity), produced, source, target);
            result != CPcmConverter::kDone)
            return result;
    }
    pcm_ = std::move(output);
    pcmSize_ = produced;
    pcmFormat_ = PcmFormatOf(channels, rate, bits);
    return kResultOk;
}

}  // namespace tonaro
