// The device-independent MIDI sequencing of the preview, against a recording synthesizer.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "preview/MidiSequencer.h"

namespace tonaro {
namespace {

struct Sent {
    std::vector<uint8_t> bytes;
    uint64_t frame;  // frames rendered before the message
};

class RecordingSynth : public CSynthPort {
public:
    int WriteMessage(const uint8_t* message, uint32_t length) override {
        messages.push_back({std::vector<uint8_t>(message, message + length), frames});
        return 0;
    }
    uint32_t Render(void* buffer, uint32_t n) override {
        std::memset(buffer, 0, n * 4);
        chunks.push_back(n);
        frames += n;
        return n;
    }
    std::vector<Sent> messages;
    std::vector<uint32_t> chunks;
    uint64_t frames = 0;
};

// A format-0 file: header with `division`, one track holding `events` (without End of Track
// unless given).
std::vector<uint8_t> Smf(uint16_t division, std::initializer_list<uint8_t> events) {
    std::vector<uint8_t> f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, uint8_t(division >> 8), uint8_t(division),
                              'M', 'T', 'r', 'k'};
    const uint32_t n = uint32_t(events.size());
    for (int shift : {24, 16, 8, 0}) f.push_back(uint8_t(n >> shift));
    f.insert(f.end(), events);
    return f;
}

// Heap copy of exactly the file's bytes, so a read past them is caught by the sanitizer.
struct Payload {
    explicit Payload(const std::vector<uint8_t>& bytes)
        : size(uint32_t(bytes.size())), data(new uint8_t[bytes.size()]) {
        std::copy(bytes.begin(), bytes.end(), data.get());
    }
    uint32_t size;
    std::unique_ptr<uint8_t[]> data;
};

// Plays until Fill reports the end (bounded); returns the bytes filled.
uint64_t PlayAll(CMidiSequencer& sequencer) {
    std::vector<uint8_t> buffer(2048);
    uint64_t total = 0;
    for (int i = 0; i < 10000; ++i) {
        const uint32_t n = sequencer.Fill(buffer.data(), 2048);
        if (n == 0) break;
        total += n;
    }
    return total;
}

TEST(MidiSequencer, Division96AndTempo1000000PlaceTick96AtOneSecond) {
    RecordingSynth synth;
    CMidiSequencer sequencer(synth);
    const Payload p(Smf(96, {0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,  // tempo 1000000
                             0x60, 0x90, 60, 100,                       // 96 ticks later
                             0x00, 0xFF, 0x2F, 0x00, 0x00}));
    ASSERT_TRUE(sequencer.Start(p.data.get(), p.size));
    PlayAll(sequencer);
    ASSERT_EQ(synth.messages.size(), 1u);
    EXPECT_EQ(synth.messages[0].bytes, (std::vector<uint8_t>{0x90, 60, 100}));
    // Sent before the first chunk whose start, frames * 1000 / 22050 ms, reaches 1000 ms. Chunks
    // of 22 frames restart with each 512-frame buffer: buffer 43 starts at frame 22016, its
    // chunks at 22038 (999.4 ms) and 22060 (1000.4 ms).
    EXPECT_EQ(synth.messages[0].frame, 22060u);
    EXPECT_EQ(sequencer.Tempo(), 1000000u);
}

TEST(MidiSequencer, RendersInChunksOf22FramesAndEndsAtEndOfTrack) {
    RecordingSynth synth;
    CMidiSequencer sequencer(synth);
    const Payload p(Smf(480, {0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00, 0x00, 0x90, 61, 100,
                              0x00}));  // after End of Track: never played
    ASSERT_TRUE(sequencer.Start(p.data.get(), p.size));
    // 480 ticks at 120 bpm: 500 ms, reached in the 2048-byte buffer holding frame 11025.
    const uint64_t bytes = PlayAll(sequencer);
    EXPECT_EQ(bytes, 22u * 2048);
    ASSERT_EQ(synth.messages.size(), 2u);
    EXPECT_EQ(synth.messages[1].bytes, (std::vector<uint8_t>{0x80, 60, 0}));
    for (size_t i = 0; i + 1 < synth.chunks.size(); ++i) ASSERT_LE(synth.chunks[i], 22u);
    // 512 frames a buffer: 23 chunks of 22 and one of 6.
    EXPECT_EQ(synth.chunks[23], 6u);
    EXPECT_TRUE(sequencer.Ended());
    std::vector<uint8_t> buffer(2048);
    EXPECT_EQ(sequencer.Fill(buffer.data(), 2048), 0u);
}

TEST(MidiSequencer, RunningStatusProgramChangeAndSystemExclusive) {
    RecordingSynth synth;
    CMidiSequencer sequencer(synth);
    const Payload p(Smf(480, {0x00, 0x91, 60,   100,  0x00, 62,   90,          // running status
                              0x00, 0xC2, 5,                                   // two bytes
                              0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  // system exclusive
                              0x00, 0xF7, 0x02, 0x01, 0x02,                    // escape: skipped
                              0x00, 0xFF, 0x2F, 0x00, 0x00}));
    ASSERT_TRUE(sequencer.Start(p.data.get(), p.size));
    PlayAll(sequencer);
    ASSERT_EQ(synth.messages.size(), 4u);
    EXPECT_EQ(synth.messages[1].bytes, (std::vector<uint8_t>{0x91, 62, 90}));
    EXPECT_EQ(synth.messages[2].bytes, (std::vector<uint8_t>{0xC2, 5}));
    EXPECT_EQ(synth.messages[3].bytes, (std::vector<uint8_t>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
}

TEST(MidiSequencer, TempoChangeTimesLaterEventsFromIt) {
    RecordingSynth synth;
    CMidiSequencer sequencer(synth);
    // 480 ticks at 500000 us (500 ms), then tempo 250000: 480 more ticks take 250 ms.
    const Payload p(Smf(480, {0x83, 0x60, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,  // tempo 250000
                              0x83, 0x60, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00, 0x00}));
    ASSERT_TRUE(sequencer.Start(p.data.get(), p.size));
    PlayAll(sequencer);
    ASSERT_EQ(synth.messages.size(), 1u);
    EXPECT_EQ(sequencer.NextEventMs(), 750);
    // 750 ms: the first chunk start at or after frame 16537.5: buffer 32 (frame 16384) + 7 * 22.
    EXPECT_EQ(synth.messages[0].frame, 16538u);
}

TEST(MidiSequencer, ZeroAndSmpteDivisionsTimeAt480) {
    for (uint16_t division : {uint16_t(0), uint16_t(0xE728)}) {
        RecordingSynth synth;
        CMidiSequencer sequencer(synth);
        const Payload p(Smf(division, {0x00, 0xFF, 0x2F, 0x00, 0x00}));
        ASSERT_TRUE(sequencer.Start(p.data.get(), p.size));
        EXPECT_EQ(sequencer.Division(), 480u);
    }
}

TEST(MidiSequencer, MalformedHeadersPlayNothing) {
    const std::vector<uint8_t> good = Smf(480, {0x00, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00, 0x00});
    struct Case {
        const char* what;
        size_t offset;
        uint8_t value;
    };
    const Case cases[] = {{"magic", 0, 'X'}, {"header length", 7, 7}, {"track tag", 14, 'X'}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        bad[c.offset] = c.value;
        RecordingSynth synth;
        CMidiSequencer sequencer(synth);
        const Payload p(bad);
        EXPECT_FALSE(sequencer.Start(p.data.get(), p.size)) << c.what;
        std::vector<uint8_t> buffer(2048);
        EXPECT_EQ(sequencer.Fill(buffer.data(), 2048), 0u) << c.what;
    }
    std::vector<uint8_t> emptyTrack = Smf(480, {});
    RecordingSynth synth;
    CMidiSequencer sequencer(synth);
    const Payload p(emptyTrack);
    EXPECT_FALSE(sequencer.Start(p.data.get(), p.size));
    EXPECT_FALSE(sequencer.Start(nullptr, 0));
    const uint8_t one = 'M';
    EXPECT_FALSE(sequencer.Start(&one, 1));
}

TEST(MidiSequencer, UnsupportedStatusAndTruncatedEventsEndTheSong) {
    const std::vector<std::vector<uint8_t>> songs = {
        Smf(480, {0x00, 0x90, 60, 100, 0x00, 0xF3, 0x01, 0x00, 0x90, 61, 100, 0x00}),  // song select
        Smf(480, {0x00, 60, 100, 0x00}),                                               // no status yet
        Smf(480, {0x00, 0x90, 60, 100, 0x00, 0xF0, 0x7F, 0x01}),                       // sysex past the end
        Smf(480, {0x00, 0x90, 60, 100, 0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF}),           // meta past the end
        Smf(480, {0x00, 0x90, 60, 100, 0x81, 0x81, 0x81}),                             // delta cut short
    };
    for (size_t i = 0; i < songs.size(); ++i) {
        RecordingSynth synth;
        CMidiSequencer sequencer(synth);
        const Payload p(songs[i]);
        ASSERT_TRUE(sequencer.Start(p.data.get(), p.size)) << i;
        const uint64_t bytes = PlayAll(sequencer);
        EXPECT_EQ(bytes, 2048u) << i;  // the buffer in which the end is found, then nothing
        EXPECT_LE(synth.messages.size(), 1u) << i;
    }
}

}  // namespace
}  // namespace tonaro
