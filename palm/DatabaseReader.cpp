#include "palm/DatabaseReader.h"

#include <algorithm>
#include <cstring>

#include "audio/Endian.h"
#include "palm/AudioRow.h"

namespace tonaro {

namespace {

constexpr size_t kRecordStart = kDatabaseHeaderBytes + kRecordEntryBytes;
constexpr size_t kSmfHeaderBytes = 14;
constexpr size_t kWaveHeaderBytes = 48;

FourCC FourCCAt(const uint8_t* p) { return {char(p[0]), char(p[1]), char(p[2]), char(p[3])}; }

bool Is(const uint8_t* p, const char (&text)[5]) { return std::memcmp(p, text, 4) == 0; }

std::string Printable(const FourCC& code) {
    std::string text;
    for (char c : code) text += (c >= 0x20 && c < 0x7F) ? c : '.';
    return text;
}

struct SoundKind {
    FourCC type;
    FourCC creator;
    FourCC recordCode;
};
constexpr SoundKind kSmfKind{MakeFourCC("smfr"), MakeFourCC("SmMd"), MakeFourCC("PMrc")};
constexpr SoundKind kWaveKind{MakeFourCC("PCMr"), MakeFourCC("SdAd"), MakeFourCC("PArc")};

bool ReadSmfPayload(std::span<const uint8_t> payload, SmfPayloadInfo& smf, std::string& reason) {
    if (payload.size() < kSmfHeaderBytes || !Is(payload.data(), "MThd") || GetBe32(&payload[4]) != 6) {
        reason = "the record does not hold a Standard MIDI File";
        return false;
    }
    smf = {GetBe16(&payload[8]), GetBe16(&payload[10]), GetBe16(&payload[12])};
    return true;
}

bool ReadWavePayload(std::span<const uint8_t> payload, WavePayloadInfo& wave, std::string& reason) {
    const uint8_t* p = payload.data();
    if (payload.size() < kWaveHeaderBytes || !Is(p, "RIFF") || !Is(p + 8, "WAVE") || !Is(p + 12, "fmt ") ||
        GetLe32(p + 16) != 20 || !Is(p + 40, "data")) {
        reason = "the record does not hold an IMA ADPCM WAVE file";
        return false;
    }
    wave = {GetLe16(p + 20), GetLe16(p + 22), GetLe32(p + 24), GetLe32(p + 28),
            GetLe16(p + 32), GetLe16(p + 34), GetLe16(p + 38), GetLe32(p + 44)};
    if (wave.dataSize != payload.size() - kWaveHeaderBytes) {
        reason = "the WAVE data size " + std::to_string(wave.dataSize) + " does not match the " +
                 std::to_string(payload.size() - kWaveHeaderBytes) + " bytes present";
        return false;
    }
    return true;
}

}  // namespace

bool ReadSoundDatabase(std::span<const uint8_t> bytes, SoundDatabaseInfo& info, std::string& reason) {
    if (bytes.size() < kRecordStart) {
        reason = "file of " + std::to_string(bytes.size()) + " bytes is too short for a database header and one record entry";
        return false;
    }
    const uint8_t* h = bytes.data();
    info.name.assign(reinterpret_cast<const char*>(h), std::find(h, h + 32, 0) - h);
    info.attributes = GetBe16(h + 32);
    info.version = GetBe16(h + 34);
    info.creationDate = GetBe32(h + 36);
    info.modificationDate = GetBe32(h + 40);
    info.lastBackupDate = GetBe32(h + 44);
    info.modificationNumber = GetBe32(h + 48);
    info.appInfoId = GetBe32(h + 52);
    info.sortInfoId = GetBe32(h + 56);
    info.type = FourCCAt(h + 60);
    info.creator = FourCCAt(h + 64);
    info.uniqueIdSeed = GetBe32(h + 68);
    info.nextRecordListId = GetBe32(h + 72);
    info.recordCount = GetBe16(h + 76);
    info.recordOffset = GetBe32(h + 78);
    info.recordAttributes = h[82];
    info.recordUniqueId = uint32_t(h[83]) << 16 | uint32_t(h[84]) << 8 | h[85];

    const SoundKind* kind = nullptr;
    for (const SoundKind* candidate : {&kSmfKind, &kWaveKind})
        if (info.type == candidate->type && info.creator == candidate->creator) kind = candidate;
    if (!kind) {
        reason = "not a sound database (type '" + Printable(info.type) + "', creator '" + Printable(info.creator) + "')";
        return false;
    }
    if (info.recordCount != 1) {
        reason = "holds " + std::to_string(info.recordCount) + " records instead of one";
        return false;
    }
    if (info.recordOffset != kRecordStart) {
        reason = "record offset " + std::to_string(info.recordOffset) + " is not " + std::to_string(kRecordStart);
        return false;
    }
    const std::span<const uint8_t> record = bytes.subspan(kRecordStart);
    if (record.size() < CAudioItem::kRecordHeaderLength) {
        reason = "record of " + std::to_string(record.size()) + " bytes is shorter than its 38-byte header";
        return false;
    }
    info.recordCode = FourCCAt(record.data());
    info.recordHeaderLength = record[4];
    const uint8_t* name = record.data() + 6;
    info.recordName.assign(reinterpret_cast<const char*>(name), std::find(name, name + 31, 0) - name);
    if (info.recordCode != kind->recordCode) {
        reason = "record code '" + Printable(info.recordCode) + "' does not belong to type '" + Printable(info.type) + "'";
        return false;
    }
    if (info.recordHeaderLength != CAudioItem::kRecordHeaderLength) {
        reason = "record header length " + std::to_string(info.recordHeaderLength) + " is not 38";
        return false;
    }
    const std::span<const uint8_t> payload = record.subspan(CAudioItem::kRecordHeaderLength);
    info.payloadSize = uint32_t(payload.size());
    if (kind == &kSmfKind) {
        SmfPayloadInfo smf;
        if (!ReadSmfPayload(payload, smf, reason)) return false;
        info.payload = smf;
    } else {
        WavePayloadInfo wave;
        if (!ReadWavePayload(payload, wave, reason)) return false;
        info.payload = wave;
    }
    return true;
}

}  // namespace tonaro
