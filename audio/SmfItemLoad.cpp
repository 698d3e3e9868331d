#include <algorithm>
#include <limits>

#include "app/progress/ProgressState.h"
#include "audio/Endian.h"
#include "audio/SmfConvert.h"
#include "audio/SmfItem.h"
#include "audio/SmfScanner.h"

namespace tonaro {

namespace {

constexpr uint16_t kFormatMultiTrack = 1;
// A division of 0 or an SMPTE division (top bit set) is timed at this many ticks per quarter note.
constexpr uint32_t kFallbackTicksPerQuarter = 480;
constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note

uint32_t TicksPerQuarter(const uint8_t* bytes) {
    const uint16_t division = GetBe16(bytes + kSmfDivisionOffset);
    return division == 0 || (division & 0x8000) ? kFallbackTicksPerQuarter : division;
}

}  // namespace

std::optional<uint16_t> CSmfItem::ReadSmfFormat(CFile& file) {
    uint8_t header[kSmfEventsOffset];
    if (!file.Seek(0) || file.Length() < sizeof header || file.Read(header, sizeof header) != sizeof header)
        return std::nullopt;
    if (!HasSmfHeader(header, sizeof header)) return std::nullopt;
    return GetBe16(header + 8);
}

int CSmfItem::Load(CFile& file) {
    const uint64_t length = file.Length();
    if (length == 0) return kResultFailed;
    const std::optional<uint16_t> format = ReadSmfFormat(file);
    if (!format) return kResultUnsupported;
    // Offsets into the bytes are 32-bit, as the track lengths are.
    if (length > std::numeric_limits<uint32_t>::max()) return kResultNoMemory;

    uint32_t size = uint32_t(length);
    CByteBlock bytes = CByteBlock::Allocate(size);
    if (!bytes.IsAllocated()) return kResultNoMemory;
    if (!file.Seek(0) || file.Read(bytes.Lock(), size) != size) return kResultFailed;
    bytes.Unlock();

    if (*format == kFormatMultiTrack) {
        std::vector<uint8_t> merged;
        if (const int result = ConvertToFormat0(bytes.Data(), size, merged, CProgressState::Global());
            result != kResultOk)
            return result;
        if (merged.size() > std::numeric_limits<uint32_t>::max()) return kResultNoMemory;
        bytes = CByteBlock::CopyOf(merged.data(), merged.size());
        if (!bytes.IsAllocated()) return kResultNoMemory;
        size = uint32_t(merged.size());
    }

    FreeData();
    if (size < uint64_t{kSmfEventsOffset} + GetBe32(bytes.Data() + kSmfTrackLengthOffset)) return kResultUnsupported;
    TakeSmfBytes(std::move(bytes), size);
    return kResultOk;
}

uint32_t CSmfItem::GetPlayTime() const {
    const uint8_t* bytes = smf_.Data();
    SmfTrackSpan span;
    if (!FirstTrackSpan(bytes, smfSize_, span)) return 0;
    // Milliseconds per tick = tempo / (ticks per quarter * 1000); each tempo section is timed from
    // its own start, so rounding never accumulates. 64-bit products keep long songs exact.
    const uint64_t divisor = uint64_t{TicksPerQuarter(bytes)} * 1000;
    uint64_t tempo = kDefaultTempo;
    uint64_t ticks = 0, sectionTicks = 0, sectionTime = 0;

    CSmfScanner scanner(bytes, span.begin, span.end);
    SmfEvent event;
    for (;;) {
        const SmfScanResult result = scanner.Next(event);
        if (result != SmfScanResult::kEvent && result != SmfScanResult::kEndOfTrack) return 0;
        ticks += event.delta;
        const uint64_t time = sectionTime + ((ticks - sectionTicks) * tempo + divisor / 2) / divisor;
        if (result == SmfScanResult::kEndOfTrack)
            return uint32_t(std::min<uint64_t>(time, std::numeric_limits<uint32_t>::max()));
        if (event.status == kStatusMeta && event.metaType == kMetaSetTempo && event.dataLength == 3) {
            tempo = uint32_t(bytes[event.data]) << 16 | uint32_t(bytes[event.data + 1]) << 8 | bytes[event.data + 2];
            sectionTicks = ticks;
            sectionTime = time;
        }
    }
}

}  // namespace tonaro
