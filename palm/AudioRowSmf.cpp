#include "palm/AudioRow.h"

namespace tonaro {

// Loading a Standard MIDI File into a row lands here.
int CAudioRow::LoadSmf(CFile& /*file*/, const std::string& /*path*/) { return kResultUnsupported; }

}  // namespace tonaro
