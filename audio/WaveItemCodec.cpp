#include "audio/WaveItem.h"

namespace tonaro {

// Reading, encoding, gain, rate conversion and fitting of WAVE entries land here.
int CWaveItem::Load(CFile& /*file*/) { return kResultUnsupported; }
int CWaveItem::WritePayload(CFile& /*file*/) { return kResultFailed; }
uint32_t CWaveItem::GetPlayTime() const { return 0; }
int CWaveItem::FitToSize(uint32_t /*limit*/) { return kResultFailed; }
bool CWaveItem::EncodeAdpcm() { return false; }
bool CWaveItem::DecodeAdpcm() { return false; }
void CWaveItem::ApplyGain(int /*decibels*/) {}
int CWaveItem::ConvertPcm(uint32_t /*rate*/, uint16_t /*channels*/, uint16_t /*bits*/) { return kResultUnsupported; }

}  // namespace tonaro
