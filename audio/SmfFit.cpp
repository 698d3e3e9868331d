#include <array>
#include <cstring>
#include <optional>

#include "app/progress/ProgressState.h"
#include "audio/Endian.h"
#include "audio/SmfItem.h"
#include "audio/SmfScanner.h"

namespace tonaro {

namespace {

constexpr int kChannels = 16;
// Appended after a cut: All Sound Off (Bn 78 00) on every channel, then End of Track.
constexpr uint32_t kTailBytes = kChannels * 4 + 4;

std::array<uint8_t, kTailBytes> MakeTail() {
    std::array<uint8_t, kTailBytes> tail{};
    for (int channel = 0; channel < kChannels; ++channel) {
        tail[channel * 4 + 0] = 0x00;
        tail[channel * 4 + 1] = uint8_t(0xB0 | channel);
        tail[channel * 4 + 2] = 0x78;
        tail[channel * 4 + 3] = 0x00;
    }
    tail[kTailBytes - 4] = 0x00;
    tail[kTailBytes - 3] = kStatusMeta;
    tail[kTailBytes - 2] = kMetaEndOfTrack;
    tail[kTailBytes - 1] = 0x00;
    return tail;
}

// Offsets of the last byte of a cut's kept part; the scans stop at `end`, so the kept part plus
// the tail never exceeds the limit.
class CCutPointSearch {
public:
    CCutPointSearch(const uint8_t* bytes, const SmfTrackSpan& span, uint32_t end, CProgressState& progress)
        : bytes_(bytes), span_(span), end_(end), progress_(progress) {}

    // The last note release after which every channel that released a note has none sounding.
    std::optional<uint32_t> LastSilentPoint() const {
        std::array<uint32_t, kChannels> sounding{};
        uint16_t mask = 0;  // bit n: channel n still sounds after its last release
        std::optional<uint32_t> cut;
        CSmfScanner scanner(bytes_, span_.begin, span_.end);
        CPercentReporter reporter(progress_, end_);
        SmfEvent event;
        while (scanner.Position() < end_) {
            const SmfScanResult result = scanner.Next(event);
            if (result == SmfScanResult::kNoStatus || result == SmfScanResult::kMalformed) return std::nullopt;
            if (result != SmfScanResult::kEvent) break;
            reporter.Update(event.end);
            const bool release = event.IsNoteRelease(bytes_);
            if (!release && !event.IsSoundingNoteOn(bytes_)) continue;
            if (event.end > end_) break;
            uint32_t& count = sounding[event.Channel()];
            if (!release) {
                ++count;
                continue;
            }
            if (count > 0) --count;
            const uint16_t bit = uint16_t(1u << event.Channel());
            mask = count > 0 ? uint16_t(mask | bit) : uint16_t(mask & ~bit);
            if (mask == 0) cut = event.end - 1;
        }
        return cut;
    }

    // The last event that ends below the end and does not start a note or change a program or pressure.
    std::optional<uint32_t> LastQuietEvent() const {
        std::optional<uint32_t> cut;
        CSmfScanner scanner(bytes_, span_.begin, span_.end);
        CPercentReporter reporter(progress_, end_);
        SmfEvent event;
        while (scanner.Position() < end_) {
            const SmfScanResult result = scanner.Next(event);
            if (result == SmfScanResult::kNoStatus || result == SmfScanResult::kMalformed) return std::nullopt;
            if (result != SmfScanResult::kEvent || event.end > end_) break;
            reporter.Update(event.end);
            const bool startsSomething = event.IsSoundingNoteOn(bytes_) || event.Kind() == 0xC0 || event.Kind() == 0xD0;
            if (!startsSomething) cut = event.end - 1;
        }
        return cut;
    }

private:
    const uint8_t* bytes_;
    SmfTrackSpan span_;
    uint32_t end_;
    CProgressState& progress_;
};

}  // namespace

int CSmfItem::FitToSize(uint32_t limit) {
    if (!smf_.IsAllocated() || smfSize_ == 0) return kResultFailed;
    const uint8_t* bytes = smf_.Data();
    SmfTrackSpan span;
    if (!FirstTrackSpan(bytes, smfSize_, span)) return kResultUnsupported;
    if (limit <= kSmfEventsOffset + kTailBytes) return kResultNoInput;
    const uint32_t end = limit - kTailBytes;

    CProgressState& progress = CProgressState::Global();
    CProgressRangeGuard range(progress);
    CCutPointSearch search(bytes, span, end, progress);
    range.Narrow(0, 50);
    std::optional<uint32_t> cut = search.LastSilentPoint();
    if (!cut) {
        range.Narrow(50, 100);
        cut = search.LastQuietEvent();
    }
    if (!cut) return kResultFailed;

    static const std::array<uint8_t, kTailBytes> kTail = MakeTail();
    const uint32_t kept = *cut + 1;
    CByteBlock block = CByteBlock::Allocate(size_t{kept} + kTailBytes);
    if (!block.IsAllocated()) return kResultNoMemory;
    uint8_t* out = block.Lock();
    std::memcpy(out, bytes, kept);
    std::memcpy(out + kept, kTail.data(), kTail.size());
    // Everything after the cut goes, later tracks included, so the file holds one track. Its
    // length is the old one less what was cut plus the tail, which is the kept events plus the tail.
    PutBe16(out + kSmfTrackCountOffset, 1);
    PutBe32(out + kSmfTrackLengthOffset, kept - kSmfEventsOffset + kTailBytes);
    block.Unlock();
    TakeSmfBytes(std::move(block), kept + kTailBytes);
    SetShortened(1);
    return kResultOk;
}

}  // namespace tonaro
