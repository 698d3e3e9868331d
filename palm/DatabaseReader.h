#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "audio/AudioItem.h"

namespace tonaro {

struct SmfPayloadInfo {
    uint16_t format = 0;
    uint16_t tracks = 0;
    uint16_t division = 0;
};

struct WavePayloadInfo {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t samplesPerBlock = 0;
    uint32_t dataSize = 0;
};

// What a one-record sound database as this program writes it holds.
struct SoundDatabaseInfo {
    std::string name;  // the database name's bytes up to the first zero
    uint16_t attributes = 0;
    uint16_t version = 0;
    uint32_t creationDate = 0;  // seconds since 1904-01-01 00:00 UTC
    uint32_t modificationDate = 0;
    uint32_t lastBackupDate = 0;
    uint32_t modificationNumber = 0;
    uint32_t appInfoId = 0;
    uint32_t sortInfoId = 0;
    FourCC type{};
    FourCC creator{};
    uint32_t uniqueIdSeed = 0;
    uint32_t nextRecordListId = 0;
    uint16_t recordCount = 0;
    uint32_t recordOffset = 0;
    uint8_t recordAttributes = 0;
    uint32_t recordUniqueId = 0;

    FourCC recordCode{};
    uint8_t recordHeaderLength = 0;
    std::string recordName;  // legacy code page bytes up to the first zero, at most 31
    uint32_t payloadSize = 0;
    std::variant<SmfPayloadInfo, WavePayloadInfo> payload;
};

// Reads a database image; on failure returns false with a one-line reason. Never reads outside `bytes`.
bool ReadSoundDatabase(std::span<const uint8_t> bytes, SoundDatabaseInfo& info, std::string& reason);

}  // namespace tonaro
