#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/File.h"
#include "audio/ResultCode.h"

namespace tonaro {

using FourCC = std::array<char, 4>;

// One sound of the list, prepared as the single record of a Palm sound database:
// a 38-byte record header (code, header length, name) followed by the payload.
class CAudioItem {
public:
    static constexpr uint8_t kRecordHeaderLength = 38;
    static constexpr size_t kNameFieldBytes = 31;

    CAudioItem() = default;
    CAudioItem(const CAudioItem&) = delete;
    virtual ~CAudioItem() = default;

    virtual int Load(CFile& file);
    // Writes the record header and payload at the file's position; a result code.
    virtual int WriteRecord(CFile* file);
    virtual int WritePayload(CFile& file);
    virtual int WriteRecordCode(CFile& file);
    virtual int WriteNameBlock(CFile& file);
    virtual void FreeData() {}
    virtual uint32_t GetRecordSize() const { return kRecordHeaderLength; }
    // Stores the name cut on whole characters to 31 bytes of the legacy code page (UTF-8 in and out).
    virtual void SetName(std::string_view name);
    virtual std::string GetName() const { return name_; }
    // Pins the payload bytes; null when there are none. Every non-null lock needs an UnlockPayload.
    virtual const uint8_t* LockPayload() { return nullptr; }
    virtual void UnlockPayload() {}
    virtual uint32_t GetPayloadSize() const { return 0; }
    // Play time in milliseconds.
    virtual uint32_t GetPlayTime() const { return 0; }
    virtual int GetVolume() const { return 0; }
    virtual int IsShortened() const { return 0; }
    virtual void SetShortened(int /*flag*/) {}
    virtual void SetRecordCode(const FourCC& code) { recordCode_ = code; }
    virtual FourCC GetRecordCode() const { return recordCode_; }

    // The 31-byte name field as written: legacy bytes, zero-padded, unterminated when full.
    std::array<uint8_t, kNameFieldBytes> NameField() const;

protected:
    // Copies the record header fields; the derived copy assignments start with it.
    void CopyRecordHeader(const CAudioItem& other);

private:
    FourCC recordCode_{' ', ' ', ' ', ' '};
    uint8_t headerLength_ = kRecordHeaderLength;
    uint8_t reservedA_ = 0;
    std::string name_;  // UTF-8
    uint8_t reservedB_ = 0;
};

// Four-character code from a string literal of four characters.
constexpr FourCC MakeFourCC(const char (&text)[5]) { return {text[0], text[1], text[2], text[3]}; }

}  // namespace tonaro
