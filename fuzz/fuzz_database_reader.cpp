// The reader behind `tonaro2-cli info` on any bytes.
#include <cstdint>
#include <span>
#include <string>

#include "palm/DatabaseReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tonaro::SoundDatabaseInfo info;
    std::string reason;
    tonaro::ReadSoundDatabase(std::span<const uint8_t>(data, size), info, reason);
    return 0;
}
