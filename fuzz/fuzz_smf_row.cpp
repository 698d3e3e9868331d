// The MIDI path of the add flow on any bytes: load (format-1 merge), Master Volume insertion,
// cutting to size and play time, then the database the installation would write, read back.
#include <cstdint>
#include <vector>

#include "audio/File.h"
#include "audio/ResultCode.h"
#include "fuzz/DatabaseCheck.h"
#include "palm/AudioRow.h"

using namespace tonaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CMemoryFile file(std::vector<uint8_t>(data, data + size));
    CAudioRow row;
    if (row.LoadSmf(file, "fuzz.mid") != kResultOk) return 0;

    fuzzinput::CheckDatabase(row);
    return 0;
}
