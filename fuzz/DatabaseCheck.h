#pragma once

#include <cstdlib>
#include <string>

#include "audio/File.h"
#include "palm/AudioRow.h"
#include "palm/DatabaseReader.h"

namespace fuzzinput {

// A loaded entry always fits one database, is written whole and reads back: anything else aborts.
inline void CheckDatabase(tonaro::CAudioRow& row) {
    row.SetDatabaseName("AlarmSound2026121005000000001");
    tonaro::CMemoryFile out;
    if (!row.WriteDatabase(&out) || out.Length() != row.ConvertedSize() || out.Length() > tonaro::kMaxDatabaseBytes)
        abort();
    tonaro::SoundDatabaseInfo info;
    std::string reason;
    if (!tonaro::ReadSoundDatabase(out.Bytes(), info, reason)) abort();
}

}  // namespace fuzzinput
