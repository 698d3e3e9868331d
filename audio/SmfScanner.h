#pragma once

#include <cstdint>
#include <vector>

namespace tonaro {

// Layout of the SMF bytes as kept: a 14-byte header chunk, then the first track chunk, whose
// 32-bit length sits at byte 18 and whose events start at byte 22.
inline constexpr uint32_t kSmfHeaderChunkBytes = 14;
inline constexpr uint32_t kSmfTrackCountOffset = 10;
inline constexpr uint32_t kSmfDivisionOffset = 12;
inline constexpr uint32_t kSmfTrackLengthOffset = 18;
inline constexpr uint32_t kSmfEventsOffset = 22;

inline constexpr uint8_t kStatusSysEx = 0xF0;
inline constexpr uint8_t kStatusEscape = 0xF7;
inline constexpr uint8_t kStatusMeta = 0xFF;
inline constexpr uint8_t kMetaEndOfTrack = 0x2F;
inline constexpr uint8_t kMetaSetTempo = 0x51;

// True when the first 22 bytes hold "MThd", a header length of 6, "MTrk" and a non-zero track length.
bool HasSmfHeader(const uint8_t* bytes, uint64_t size);

// The event bytes of the first track: from byte 22 to the track's declared end, never past `size`.
// False when the header is not an SMF header.
struct SmfTrackSpan {
    uint32_t begin = kSmfEventsOffset;
    uint32_t end = kSmfEventsOffset;
};
bool FirstTrackSpan(const uint8_t* bytes, uint32_t size, SmfTrackSpan& span);

// One event as it lies in the bytes. Under running status the event has no status byte of its
// own and `body` is its first data byte.
struct SmfEvent {
    uint32_t start = 0;  // first byte of the delta time
    uint32_t delta = 0;
    uint32_t body = 0;   // the status byte, or the first data byte under running status
    uint8_t status = 0;  // the status in force
    bool runningStatus = false;
    uint8_t metaType = 0;     // FF events only
    uint32_t data = 0;        // channel messages: first data byte; F0, F7, FF: first byte after the length
    uint32_t dataLength = 0;  // channel messages: 1 or 2
    uint32_t end = 0;         // one past the last byte

    uint8_t Kind() const { return status & 0xF0; }
    uint8_t Channel() const { return status & 0x0F; }
    bool IsChannelMessage() const { return status < kStatusSysEx; }
    bool IsSoundingNoteOn(const uint8_t* bytes) const { return Kind() == 0x90 && bytes[data + 1] > 0; }
    bool IsNoteRelease(const uint8_t* bytes) const {
        return Kind() == 0x80 || (Kind() == 0x90 && bytes[data + 1] == 0);
    }
};

enum class SmfScanResult {
    kEvent,
    kEndOfTrack,  // the meta event 2F of length 0
    kPastEnd,     // the event needs bytes beyond the scan's end
    kNoStatus,    // a data byte before any status byte
    kMalformed,   // a status F1..F6 or F8..FE, or a variable-length quantity longer than 4 bytes
};

// Reads events one at a time, bounded by the end it is given: a truncated quantity or a length
// past the end yields kPastEnd, never a read beyond it. A byte with bit 7 set becomes the running
// status, F0, F7 and FF included.
class CSmfScanner {
public:
    CSmfScanner(const uint8_t* bytes, uint32_t begin, uint32_t end) : bytes_(bytes), position_(begin), end_(end) {}

    SmfScanResult Next(SmfEvent& event);
    uint32_t Position() const { return position_; }
    const uint8_t* Bytes() const { return bytes_; }

private:
    bool ReadQuantity(uint32_t& position, uint32_t& value, SmfScanResult& failure) const;

    const uint8_t* bytes_;
    uint32_t position_;
    uint32_t end_;
    uint8_t runningStatus_ = 0;
};

// Appends a variable-length quantity: 7 bits per byte, most significant group first.
void AppendQuantity(std::vector<uint8_t>& out, uint32_t value);

}  // namespace tonaro
