#include "audio/SmfItem.h"

namespace tonaro {

// Reading, checking and fitting of Standard MIDI Files lands here.
int CSmfItem::Load(CFile& /*file*/) { return kResultUnsupported; }

uint32_t CSmfItem::GetPlayTime() const { return 0; }

}  // namespace tonaro
