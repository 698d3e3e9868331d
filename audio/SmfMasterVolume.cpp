#include <algorithm>
#include <cstring>
#include <limits>

#include "audio/Endian.h"
#include "audio/SmfItem.h"
#include "audio/SmfScanner.h"

namespace tonaro {

namespace {

// The Master Volume message inserted: delta 0, F0, length 7, 7F 7F 04 01, fine 0, coarse 127, F7.
constexpr uint8_t kMasterVolumeEvent[] = {0x00, 0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7};
constexpr uint8_t kMasterVolumePrefix[] = {0x7F, 0x7F, 0x04, 0x01};
constexpr uint8_t kGmSystemOnPrefix[] = {0x7E, 0x7F, 0x09, 0x01};
constexpr uint8_t kSystemReset = 0xFF;
constexpr uint32_t kMinTestedSysExBytes = 5;
constexpr uint32_t kMasterVolumeBytes = 7;  // 7F 7F 04 01 ll mm F7
constexpr uint32_t kCoarseOffset = 5;       // mm, from the message's first data byte

bool SysExStartsWith(const uint8_t* bytes, const SmfEvent& event, const uint8_t (&prefix)[4], uint32_t minLength) {
    return event.status == kStatusSysEx && event.dataLength >= minLength &&
           std::memcmp(bytes + event.data, prefix, sizeof prefix) == 0;
}

// A message after which the sound resets its volume: General MIDI System On, or an escaped System Reset.
bool IsReset(const uint8_t* bytes, const SmfEvent& event) {
    return SysExStartsWith(bytes, event, kGmSystemOnPrefix, kMinTestedSysExBytes) ||
           (event.status == kStatusEscape && event.dataLength >= 1 && bytes[event.data] == kSystemReset);
}

// Where a Master Volume message goes. The event that follows it loses its running status to the
// inserted F0, so when it relies on running status its status byte is written as well.
struct Insertion {
    uint32_t position;
    uint32_t statusPosition = 0;  // where the follower's own status byte goes; 0 when it has one
    uint8_t status = 0;
};

}  // namespace

int CSmfItem::InsertMasterVolume() {
    if (!smf_.IsAllocated() || smfSize_ == 0) return kResultFailed;
    const uint8_t* bytes = smf_.Data();
    SmfTrackSpan span;
    if (!FirstTrackSpan(bytes, smfSize_, span)) return kResultUnsupported;

    std::vector<Insertion> insertions;
    bool volumeSet = false, noteSeen = false;
    CSmfScanner scanner(bytes, span.begin, span.end);
    SmfEvent event;
    for (;;) {
        const SmfScanResult result = scanner.Next(event);
        if (result == SmfScanResult::kEndOfTrack) break;
        if (result != SmfScanResult::kEvent) return kResultUnsupported;
        if (!insertions.empty() && insertions.back().position == event.start && event.runningStatus) {
            insertions.back().statusPosition = event.body;
            insertions.back().status = event.status;
        }
        if (event.IsSoundingNoteOn(bytes)) {
            if (!volumeSet && !noteSeen) {
                insertions.push_back({event.start});
                if (event.runningStatus) insertions.back() = {event.start, event.body, event.status};
                noteSeen = true;
            } else if (volumeSet) {
                noteSeen = true;
                volumeSet = false;
            }
        } else if (IsReset(bytes, event)) {
            if (noteSeen && !volumeSet) {
                insertions.push_back({event.end});
                volumeSet = true;
            }
        } else if (SysExStartsWith(bytes, event, kMasterVolumePrefix, kMinTestedSysExBytes)) {
            volumeSet = true;
        }
    }

    uint64_t grown = smfSize_;
    for (const Insertion& insertion : insertions)
        grown += sizeof kMasterVolumeEvent + (insertion.statusPosition ? 1 : 0);
    // Sizes and track lengths are 32-bit.
    if (grown > std::numeric_limits<uint32_t>::max()) return kResultNoMemory;
    const uint32_t added = uint32_t(grown - smfSize_);
    CByteBlock block = CByteBlock::Allocate(size_t{smfSize_} + added);
    if (!block.IsAllocated()) return kResultNoMemory;
    uint8_t* const begin = block.Lock();
    uint8_t* out = begin;
    uint32_t copied = 0;
    auto copyUpTo = [&](uint32_t position) {
        std::memcpy(out, bytes + copied, position - copied);
        out += position - copied;
        copied = position;
    };
    for (const Insertion& insertion : insertions) {
        copyUpTo(insertion.position);
        out = std::copy(std::begin(kMasterVolumeEvent), std::end(kMasterVolumeEvent), out);
        if (insertion.statusPosition) {
            copyUpTo(insertion.statusPosition);
            *out++ = insertion.status;
        }
    }
    copyUpTo(smfSize_);
    // The first track grows by what was inserted; bytes after it are kept as they were.
    PutBe32(begin + kSmfTrackLengthOffset, GetBe32(bytes + kSmfTrackLengthOffset) + added);
    block.Unlock();
    TakeSmfBytes(std::move(block), smfSize_ + added);
    volume_ = kMaxVolume;
    return kResultOk;
}

int CSmfItem::CollectMasterVolume() {
    masterVolumePositions_.clear();
    if (!smf_.IsAllocated() || smfSize_ == 0) return kResultFailed;
    const uint8_t* bytes = smf_.Data();
    SmfTrackSpan span;
    if (!FirstTrackSpan(bytes, smfSize_, span)) return kResultUnsupported;
    CSmfScanner scanner(bytes, span.begin, span.end);
    SmfEvent event;
    for (;;) {
        const SmfScanResult result = scanner.Next(event);
        if (result == SmfScanResult::kEndOfTrack) break;
        if (result != SmfScanResult::kEvent) return kResultUnsupported;
        if (SysExStartsWith(bytes, event, kMasterVolumePrefix, kMasterVolumeBytes))
            masterVolumePositions_.push_back(event.data);
    }
    volume_ = masterVolumePositions_.empty() ? kMaxVolume : GetMaxMasterVolume();
    return kResultOk;
}

int CSmfItem::AdjustMasterVolume(int delta) {
    if (!smf_.IsAllocated() || smfSize_ == 0) return kResultFailed;
    CBlockLock lock(smf_);
    for (const uint32_t position : masterVolumePositions_) {
        uint8_t& coarse = lock.data()[position + kCoarseOffset];
        coarse = uint8_t(std::clamp(int{coarse} + delta, 0, kMaxVolume));
    }
    volume_ = GetMaxMasterVolume();
    return kResultOk;
}

int CSmfItem::GetMaxMasterVolume() const {
    int largest = 0;
    for (const uint32_t position : masterVolumePositions_)
        largest = std::max(largest, int{smf_.Data()[position + kCoarseOffset]});
    return std::min(largest, kMaxVolume);
}

}  // namespace tonaro
