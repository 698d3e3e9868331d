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
// Shares of the merge span (10-70 % of the load): 4 % per channel, the rest for joining the
// channels. The join feeds the writer (70-100 %) directly, so the two report as one from the
// join's start: 10 + 64 % of 60.
constexpr int kMergePercentPerChannel = 4;
constexpr int kJoinStartPercent = 48;

// One event of a source track; its bytes stay in the source and are referred to by offset.
struct StoredEvent {
    uint32_t time;  // absolute ticks
    uint32_t data;
    uint32_t dataLength;
    uint8_t status;
    uint8_t metaType;
    uint16_t track;

    // System Exclusive and meta events go with channel 0.
    int Channel() const { return status < kStatusSysEx ? status & 0x0F : 0; }
};
using EventList = std::vector<StoredEvent>;

struct Segment {
    const StoredEvent* begin;
    const StoredEvent* end;
};

// Merges segments by time, taking from the earliest segment among equal head times, which is
// what repeatedly taking the smallest head does. False when cancelled.
template <class Sink>
bool MergeSegments(const std::vector<Segment>& segments, Sink&& sink, const CProgressState& progress) {
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
        const size_t i = heads.top().segment;
        if (heads.size() == 1) {
            for (; next[i] != segments[i].end; ++next[i]) {
                if (progress.IsCancelled()) return false;
                sink(*next[i]);
            }
            break;
        }
        if (progress.IsCancelled()) return false;
        heads.pop();
        sink(*next[i]++);
        if (next[i] != segments[i].end) heads.push({next[i]->time, i});
    }
    return true;
}

// Runs of one track within a channel's events, in track order.
std::vector<Segment> TrackSegments(const StoredEvent* begin, const StoredEvent* end) {
    std::vector<Segment> segments;
    for (const StoredEvent* start = begin; start != end;) {
        const StoredEvent* stop = start;
        while (stop != end && stop->track == start->track) ++stop;
        segments.push_back({start, stop});
        start = stop;
    }
    return segments;
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
        if (!MergeChannels()) return kResultCancelled;
        range_.Narrow(kJoinStartPercent, 100);
        return MergeAndWrite(out);
    }

private:
    int ReadTracks() {
        const uint16_t trackCount = GetBe16(bytes_ + kSmfTrackCountOffset);
        // Every event takes at least two bytes; the untouched part of the reserve costs nothing.
        events_.reserve(size_ / 2);
        uint32_t position = kSmfHeaderChunkBytes;
        CPercentReporter reporter(progress_, size_);
        for (uint16_t track = 0; track < trackCount; ++track) {
            if (const int result = ReadTrack(position, track); result != kResultOk) return result;
            reporter.Update(position);
        }
        return kResultOk;
    }

    // Parses the chunk at `position` and moves it past the chunk.
    int ReadTrack(uint32_t& position, uint16_t track) {
        // A file that declares more tracks than it holds ends here.
        if (size_ - position < 8 || std::memcmp(bytes_ + position, "MTrk", 4) != 0) return kResultUnsupported;
        const uint32_t length = GetBe32(bytes_ + position + 4);
        if (length == 0) return kResultUnsupported;
        const uint64_t chunkEnd = uint64_t{position} + 8 + length;

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
            events_.push_back({time, event.data, event.dataLength, event.status, event.metaType, track});
            if (progress_.IsCancelled()) return kResultCancelled;
        }
        if (progress_.IsCancelled()) return kResultCancelled;
        position = uint32_t(chunkEnd);
        return kResultOk;
    }

    // Merges each channel's events from all tracks by time into one run per channel.
    bool MergeChannels() {
        // Stable grouping by channel keeps each channel's events in track and file order.
        std::array<size_t, kChannels + 1> start{};
        for (const StoredEvent& event : events_) ++start[size_t(event.Channel()) + 1];
        for (int channel = 0; channel < kChannels; ++channel) start[channel + 1] += start[channel];
        EventList grouped(events_.size());
        std::array<size_t, kChannels> fill{};
        std::copy(start.begin(), start.end() - 1, fill.begin());
        for (const StoredEvent& event : events_) grouped[fill[size_t(event.Channel())]++] = event;
        EventList().swap(events_);

        channelRuns_.reserve(grouped.size());
        for (int channel = 0; channel < kChannels; ++channel) {
            const StoredEvent* base = grouped.data();
            const std::vector<Segment> segments = TrackSegments(base + start[channel], base + start[channel + 1]);
            const auto append = [this](const StoredEvent& event) { channelRuns_.push_back(event); };
            if (!MergeSegments(segments, append, progress_)) return false;
            channelEnds_[channel] = channelRuns_.size();
            progress_.ReportProgress(CProgressState::kPercent, (channel + 1) * kMergePercentPerChannel);
        }
        return true;
    }

    // Merges the channel runs into one and writes each event as it comes out.
    int MergeAndWrite(std::vector<uint8_t>& out) {
        static constexpr uint8_t kHeader[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
        static constexpr uint8_t kTrackHeader[] = {'M', 'T', 'r', 'k', 0, 0, 0, 0};
        static constexpr uint8_t kEndOfTrack[] = {0x00, kStatusMeta, kMetaEndOfTrack, 0x00};
        out.clear();
        // Status bytes that running status saved in the source may come back; room for them is reserved.
        out.reserve(size_t{size_} * 2 + sizeof kEndOfTrack);
        out.insert(out.end(), std::begin(kHeader), std::end(kHeader));
        out.insert(out.end(), bytes_ + kSmfDivisionOffset, bytes_ + kSmfDivisionOffset + 2);
        out.insert(out.end(), std::begin(kTrackHeader), std::end(kTrackHeader));

        std::vector<Segment> segments;
        size_t begin = 0;
        for (const size_t end : channelEnds_) {
            if (end != begin) segments.push_back({channelRuns_.data() + begin, channelRuns_.data() + end});
            begin = end;
        }

        // Joining the channels is the rest of the merge span; writing is reported with it.
        CPercentReporter reporter(progress_, channelRuns_.size());
        size_t written = 0;
        uint32_t previousTime = 0;
        uint8_t lastStatus = 0;
        const auto write = [&](const StoredEvent& event) {
            AppendQuantity(out, event.time - previousTime);
            previousTime = event.time;
            // Channel messages leave out a status byte that repeats; the others always carry theirs.
            if (event.status != lastStatus || event.status >= kStatusSysEx) out.push_back(event.status);
            lastStatus = event.status;
            if (event.status == kStatusMeta) out.push_back(event.metaType);
            if (event.status >= kStatusSysEx) AppendQuantity(out, event.dataLength);
            out.insert(out.end(), bytes_ + event.data, bytes_ + event.data + event.dataLength);
            reporter.Update(++written);
        };
        if (!MergeSegments(segments, write, progress_)) return kResultCancelled;
        out.insert(out.end(), std::begin(kEndOfTrack), std::end(kEndOfTrack));
        PutBe32(out.data() + kSmfTrackLengthOffset, uint32_t(out.size() - kSmfEventsOffset));
        return kResultOk;
    }

    const uint8_t* bytes_;
    uint32_t size_;
    CProgressState& progress_;
    CProgressRangeGuard range_;
    EventList events_;       // every track's events in file order
    EventList channelRuns_;  // each channel's events merged, channel after channel
    std::array<size_t, kChannels> channelEnds_{};
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
