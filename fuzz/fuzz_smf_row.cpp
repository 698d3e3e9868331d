// The MIDI path of the add flow on any bytes: load (format-1 merge), Master Volume insertion,
// cutting to size and play time, then the database the installation would write, read back.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/File.h"
#include "audio/ResultCode.h"
#include "palm/AudioRow.h"
#include "palm/DatabaseReader.h"

using namespace tonaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CMemoryFile file(std::vector<uint8_t>(data, data + size));
    CAudioRow row;
    if (row.LoadSmf(file, "fuzz.mid") != kResultOk) return 0;

    row.SetDatabaseName("AlarmSound2026121005000000001");
    CMemoryFile out;
    // A loaded entry always fits one database and is written whole.
    if (!row.WriteDatabase(&out) || out.Length() != row.ConvertedSize() || out.Length() > kMaxDatabaseBytes) abort();
    SoundDatabaseInfo info;
    std::string reason;
    if (!ReadSoundDatabase(out.Bytes(), info, reason)) abort();
    return 0;
}
