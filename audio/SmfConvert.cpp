#include "audio/SmfConvert.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <queue>

#include "app/progress/ProgressState.h"
#include "audio/Endian.h"
#include "audio/ResultCode.h"
#include "audio/SmfScanner.h"

namespace tonaro {

namespace {

constexpr int kChannels = 16;
// Shares of the merge span: 4 % per channel, the rest for joining the channels.
constexpr int kMergePercentPerChannel = 4;

// One event of a source track; its bytes stay in the source and are referred to by offset.
struct StoredEvent {
    uint32_t time;  // absolute ticks
    uint32_t data;
    uint32_t dataLength;
    uint8_t status;
    uint8_t metaType;
};
using EventList = std::vector<StoredEvent>;

// The events of one channel from all tracks, in track order; each track's run is one segment.
struct ChannelEvents {
    EventList events;
    std::vector<size_t> segmentStarts;
};

struct Segment {
    const StoredEvent* begin;
    const StoredEvent* end;
};

// Merges segments by time, taking from the earliest segment among equal head times, which is
// what repeatedly taking the smallest head does. False when cancelled.
bool MergeSegments(const std::vector<Segment>& segments, EventList& out, const CProgressState& progress) {
    struct Head {
        uint32_t time;
        size_t segment;
        bool operator>(const Head& other) const {
            return time != other.time ? time > other.time : segment > other.segment;
        }
    };
    std::vector<const StoredEvent*> next(segments.size());
    std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads;
    for (size_t i = 0; i < segments.size(); ++i) {
        next[i] = segments[i].begin;
        if (next[i] != segments[i].end) heads.push({next[i]->time, i});
    }
    while (!heads.empty()) {
        if (progress.IsCancelled()) return false;
        const size_t i = heads.top().segment;
        if (heads.size() == 1) {
            out.insert(out.end(), next[i], segments[i].end);
            break;
        }
        heads.pop();
        out.push_back(*next[i]++);
        if (next[i] != segments[i].end) heads.push({next[i]->time, i});
    }
    return true;
}

class CFormat1Converter {
public:
    CFormat1Converter(const uint8_t* bytes, uint32_t size, CProgressState& progress)
        : bytes_(bytes), size_(size), progress_(progress), range_(progress) {}

    int Run(std::vector<uint8_t>& out) {
        if (size_ <= kSmfHeaderChunkBytes || std::memcmp(bytes_, "MThd", 4) != 0 || GetBe32(bytes_ + 4) != 6)
            return kResultUnsupported;
        range_.Narrow(0, 10);
        if (const int result = ReadTracks(); result != kResultOk) return result;
        progress_.ReportProgress(CProgressState::kPercent, 100);
        range_.Narrow(10, 70);
        EventList merged;
        if (!Merge(merged)) return kResultCancelled;
        range_.Narrow(70, 100);
        return Write(merged, out);
    }

private:
    int ReadTracks() {
        const uint16_t trackCount = GetBe16(bytes_ + kSmfTrackCountOffset);
        uint32_t position = kSmfHeaderChunkBytes;
        CPercentReporter reporter(progress_, size_);
        for (uint16_t track = 0; track < trackCount; ++track) {
            if (const int result = ReadTrack(position); result != kResultOk) return result;
            reporter.Update(position);
        }
        return kResultOk;
    }

    // Parses the chunk at `position` and moves it past the chunk.
    int ReadTrack(uint32_t& position) {
        // A file that declares more tracks than it holds ends here.
        if (size_ - position < 8 || std::memcmp(bytes_ + position, "MTrk", 4) != 0) return kResultUnsupported;
        const uint32_t length = GetBe32(bytes_ + position + 4);
        if (length == 0) return kResultUnsupported;
        const uint64_t chunkEnd = uint64_t{position} + 8 + length;
        for (ChannelEvents& channel : channels_) channel.segmentStarts.push_back(channel.events.size());

        CSmfScanner scanner(bytes_, position + 8, size_);
        uint32_t time = 0;
        SmfEvent event;
        for (;;) {
            const SmfScanResult result = scanner.Next(event);
            if (result == SmfScanResult::kPastEnd) return kResultUnsupported;
            if (result == SmfScanResult::kNoStatus || result == SmfScanResult::kMalformed) return kResultFailed;
            if (event.end > chunkEnd) return kResultFailed;
            time += event.delta;
            if (result == SmfScanResult::kEndOfTrack) {
                if (event.end != chunkEnd) return kResultUnsupported;
                break;
            }
            const int channel = event.IsChannelMessage() ? event.Channel() : 0;
            channels_[channel].events.push_back({time, event.data, event.dataLength, event.status, event.metaType});
            if (progress_.IsCancelled()) return kResultCancelled;
        }
        if (progress_.IsCancelled()) return kResultCancelled;
        position = uint32_t(chunkEnd);
        return kResultOk;
    }

    bool Merge(EventList& merged) {
        std::array<EventList, kChannels> channelLists;
        for (int channel = 0; channel < kChannels; ++channel) {
            const ChannelEvents& source = channels_[channel];
            std::vector<Segment> segments;
            for (size_t i = 0; i < source.segmentStarts.size(); ++i) {
                const size_t end = i + 1 < source.segmentStarts.size() ? source.segmentStarts[i + 1] : source.events.size();
                if (source.segmentStarts[i] != end)
                    segments.push_back({source.events.data() + source.segmentStarts[i], source.events.data() + end});
            }
            channelLists[channel].reserve(source.events.size());
            if (!MergeSegments(segments, channelLists[channel], progress_)) return false;
            progress_.ReportProgress(CProgressState::kPercent, (channel + 1) * kMergePercentPerChannel);
        }
        std::vector<Segment> segments;
        size_t total = 0;
        for (const EventList& list : channelLists) {
            if (!list.empty()) segments.push_back({list.data(), list.data() + list.size()});
            total += list.size();
        }
        merged.reserve(total);
        if (!MergeSegments(segments, merged, progress_)) return false;
        progress_.ReportProgress(CProgressState::kPercent, 100);
        return true;
    }

    int Write(const EventList& events, std::vector<uint8_t>& out) {
        static constexpr uint8_t kHeader[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
        static constexpr uint8_t kTrackHeader[] = {'M', 'T', 'r', 'k', 0, 0, 0, 0};
        static constexpr uint8_t kEndOfTrack[] = {0x00, kStatusMeta, kMetaEndOfTrack, 0x00};
        out.clear();
        out.reserve(size_ + sizeof kEndOfTrack);
        out.insert(out.end(), std::begin(kHeader), std::end(kHeader));
        out.insert(out.end(), bytes_ + kSmfDivisionOffset, bytes_ + kSmfDivisionOffset + 2);
        out.insert(out.end(), std::begin(kTrackHeader), std::end(kTrackHeader));

        CPercentReporter reporter(progress_, events.size());
        uint32_t previousTime = 0;
        uint8_t lastStatus = 0;
        for (size_t i = 0; i < events.size(); ++i) {
            const StoredEvent& event = events[i];
            AppendQuantity(out, event.time - previousTime);
            previousTime = event.time;
            if (event.status != lastStatus || event.status >= kStatusSysEx) out.push_back(event.status);
            lastStatus = event.status;
            if (event.status == kStatusMeta) out.push_back(event.metaType);
            if (event.status >= kStatusSysEx) AppendQuantity(out, event.dataLength);
            out.insert(out.end(), bytes_ + event.data, bytes_ + event.data + event.dataLength);
            if (progress_.IsCancelled()) return kResultCancelled;
            reporter.Update(i + 1);
        }
        out.insert(out.end(), std::begin(kEndOfTrack), std::end(kEndOfTrack));
        PutBe32(out.data() + kSmfTrackLengthOffset, uint32_t(out.size() - kSmfEventsOffset));
        return kResultOk;
    }

    const uint8_t* bytes_;
    uint32_t size_;
    CProgressState& progress_;
    CProgressRangeGuard range_;
    std::array<ChannelEvents, kChannels> channels_;
};

}  // namespace

int ConvertToFormat0(const uint8_t* bytes, uint32_t size, std::vector<uint8_t>& out, CProgressState& progress) {
    // The standard containers report exhausted memory by exception; here it becomes the result code.
    try {
        return CFormat1Converter(bytes, size, progress).Run(out);
    } catch (const std::bad_alloc&) {
        return kResultNoMemory;
    }
}

}  // namespace tonaro
