#include "audio/SmfScanner.h"

#include <algorithm>
#include <cstring>

#include "audio/Endian.h"

namespace tonaro {

namespace {

constexpr int kMaxQuantityBytes = 4;

// Data bytes that follow each channel-message kind (index: status bits 6..4).
constexpr uint8_t kChannelDataBytes[8] = {2, 2, 2, 2, 1, 1, 2, 0};

}  // namespace

bool HasSmfHeader(const uint8_t* bytes, uint64_t size) {
    return size >= kSmfEventsOffset && std::memcmp(bytes, "MThd", 4) == 0 && GetBe32(bytes + 4) == 6 &&
           std::memcmp(bytes + kSmfHeaderChunkBytes, "MTrk", 4) == 0 && GetBe32(bytes + kSmfTrackLengthOffset) != 0;
}

bool FirstTrackSpan(const uint8_t* bytes, uint32_t size, SmfTrackSpan& span) {
    if (!bytes || !HasSmfHeader(bytes, size)) return false;
    const uint64_t trackEnd = uint64_t{kSmfEventsOffset} + GetBe32(bytes + kSmfTrackLengthOffset);
    span.begin = kSmfEventsOffset;
    span.end = uint32_t(std::min<uint64_t>(trackEnd, size));
    return true;
}

bool CSmfScanner::ReadQuantity(uint32_t& position, uint32_t& value, SmfScanResult& failure) const {
    value = 0;
    for (int count = 0; count < kMaxQuantityBytes; ++count) {
        if (position >= end_) {
            failure = SmfScanResult::kPastEnd;
            return false;
        }
        const uint8_t byte = bytes_[position++];
        value = value << 7 | (byte & 0x7F);
        if (!(byte & 0x80)) return true;
    }
    failure = SmfScanResult::kMalformed;
    return false;
}

SmfScanResult CSmfScanner::Next(SmfEvent& event) {
    SmfScanResult failure = SmfScanResult::kPastEnd;
    uint32_t position = position_;
    event.start = position;
    if (!ReadQuantity(position, event.delta, failure)) return failure;
    if (position >= end_) return SmfScanResult::kPastEnd;

    event.body = position;
    event.runningStatus = !(bytes_[position] & 0x80);
    if (event.runningStatus) {
        if (!runningStatus_) return SmfScanResult::kNoStatus;
    } else {
        runningStatus_ = bytes_[position++];
    }
    event.status = runningStatus_;
    event.metaType = 0;

    if (event.IsChannelMessage()) {
        event.data = position;
        event.dataLength = kChannelDataBytes[(event.status >> 4) & 7];
    } else if (event.status == kStatusSysEx || event.status == kStatusEscape || event.status == kStatusMeta) {
        if (event.status == kStatusMeta) {
            if (position >= end_) return SmfScanResult::kPastEnd;
            event.metaType = bytes_[position++];
        }
        if (!ReadQuantity(position, event.dataLength, failure)) return failure;
        event.data = position;
    } else {
        return SmfScanResult::kMalformed;
    }
    if (event.dataLength > end_ - event.data) return SmfScanResult::kPastEnd;
    event.end = event.data + event.dataLength;
    position_ = event.end;
    const bool endOfTrack = event.status == kStatusMeta && event.metaType == kMetaEndOfTrack && event.dataLength == 0;
    return endOfTrack ? SmfScanResult::kEndOfTrack : SmfScanResult::kEvent;
}

void AppendQuantity(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value);
    while (count > 1) out.push_back(groups[--count] | 0x80);
    out.push_back(groups[0]);
}

}  // namespace tonaro
