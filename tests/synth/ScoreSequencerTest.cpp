#include "RecordingScoreTarget.h"
#include "ScoreWriter.h"
#include "synth/ScoreSequencer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace scoretest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// "time: bytes" of every event, channel messages at their real length.
std::vector<std::string> eventTexts(const mevo::ScoreSequencer& seq)
{
    std::vector<std::string> out;
    for (const mevo::TimedEvent& e : seq.events()) {
        const bool channel = e.message[0] & 0x80;
        const std::size_t length = !channel ? 4 : (e.message[0] & 0xF0) == 0xC0 ? 2 : 3;
        out.push_back(std::to_string(e.timeMs) + ": " + RecordingScoreTarget::hex(std::span(e.message).first(length)));
    }
    return out;
}

// The events that are no end-of-track sound off.
std::vector<std::string> musicTexts(const mevo::ScoreSequencer& seq)
{
    std::vector<std::string> out;
    for (const std::string& t : eventTexts(seq)) {
        if (t.find(" 78 00") == std::string::npos) {
            out.push_back(t);
        }
    }
    return out;
}

struct Parsed {
    RecordingScoreTarget target;
    mevo::ScoreSequencer seq{target};
    bool ok = false;

    explicit Parsed(const Bytes& bytes)
    {
        seq.append(bytes);
        ok = seq.parse();
    }
};

Bytes oneNoteScore(std::uint8_t track, std::uint8_t note)
{
    return score({scoreTrack(track, Sequence().note(0, note, 5).end())});
}

TEST(ScoreSequencerParse, PlaysTracksOneToFourAndTrackZeroOnlyWithoutThem)
{
    const Bytes track0 = scoreTrack(0, Sequence().note(0, noteByte(0, 1, 0), 5));
    const Bytes track1 = scoreTrack(1, Sequence().note(0, noteByte(1, 1, 0), 5));

    Parsed both(score({track0, track1}));
    ASSERT_TRUE(both.ok);
    EXPECT_THAT(eventTexts(both.seq), ElementsAre("0: 91 30 7F", "5: 81 30 7F", "5: B0 78 00", "5: B1 78 00",
                                                  "5: B2 78 00", "5: B3 78 00"));

    Parsed zeroOnly(score({track0}));
    ASSERT_TRUE(zeroOnly.ok);
    EXPECT_THAT(musicTexts(zeroOnly.seq), ElementsAre("0: 90 30 7F", "5: 80 30 7F"));

    // Master attenuation of the start-up: 0 (0x40) with a main track, -9 dB (0x2E) for track 0 alone.
    ASSERT_TRUE(both.seq.prepare(0));
    ASSERT_TRUE(zeroOnly.seq.prepare(0));
    EXPECT_EQ(both.target.messages().at(1), "F0 43 79 05 7F 0A 40 F7");
    EXPECT_EQ(zeroOnly.target.messages().at(1), "F0 43 79 05 7F 0A 2E F7");
}

TEST(ScoreSequencerParse, DurationsScaleByTheirTimeBase)
{
    struct Case {
        Bytes duration;
        std::uint8_t base;
        std::uint64_t ms;
    };
    const std::vector<Case> cases{
        {{0x7F}, 0x00, 127},         {{0x80, 0x00}, 0x00, 128},   {{0x81, 0x00}, 0x00, 256},
        {{0xFF, 0x7F}, 0x00, 16511}, {{0x81, 0x00}, 0x01, 512},   {{0x01}, 0x03, 5},
        {{0x01}, 0x10, 10},          {{0x01}, 0x12, 40},          {{0x81, 0x00}, 0x13, 12800},
        {{0x02}, 0x04, 8} /* unknown code: 4 ms */,
    };
    for (const Case& c : cases) {
        Bytes seq = c.duration;
        seq.insert(seq.end(), {0x25, 0x00});
        Parsed p(score({scoreTrack(1, Sequence().raw(seq), {}, {c.base, 0x00})}));
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(eventTexts(p.seq).front(), std::to_string(c.ms) + ": 90 41 7F") << "base " << int(c.base);
    }
}

TEST(ScoreSequencerParse, NoteBytesGiveChannelAndKeyWithOctaveShift)
{
    // 0x25 on track 2: channel 4 + 0, key 5 + (0 + 2 + 3) * 12 = 65.
    Parsed track2(oneNoteScore(2, 0x25));
    EXPECT_THAT(musicTexts(track2.seq), ElementsAre("0: 94 41 7F", "5: 84 41 7F"));

    struct Case {
        std::uint8_t shift; // extended event v = 2
        std::uint8_t note;
        std::string on;
    };
    const std::vector<Case> cases{
        {0x81, 0x25, "90 35"}, // -1 octave: 53
        {0x05, 0x25, "90 41"}, // magnitude above 4: no shift
        {0x04, noteByte(0, 3, 15), "90 7F"}, // 15 + (4 + 3 + 3) * 12 = 135, limited to 127
        {0x84, noteByte(0, 0, 1), "90 00"},   // 1 + (-4 + 0 + 3) * 12 = -11, limited to 0
        {0x02, noteByte(1, 2, 5), "91 41"}, // the shift is per channel: channel 1 keeps 0
    };
    for (const Case& c : cases) {
        Parsed p(score({scoreTrack(1, Sequence().extended(0, 0x32, c.shift).note(0, c.note, 1))}));
        EXPECT_EQ(musicTexts(p.seq).front(), "0: " + c.on + " 7F") << int(c.shift);
    }
}

TEST(ScoreSequencerParse, ControlEventsBecomeControllerProgramAndBendMessages)
{
    struct Case {
        Bytes event; // after the duration
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {{0x00, 0x05}, {"0: B0 0B 38"}},       // expression code 5: (5 + 2) * 8
        {{0x00, 0x41}, {"0: B1 0B 00"}},       // code 1, channel offset 1
        {{0x00, 0x0E}, {"0: B0 0B 7F"}},       // code 14
        {{0x00, 0x18}, {"0: E0 00 40"}},       // bend 8 * 8 = 64 as the top 7 bits
        {{0x00, 0x25}, {"0: B0 01 20"}},       // modulation code 5
        {{0x00, 0x2C}, {"0: B0 01 60"}},       // code 12
        {{0x00, 0x2F}, {"0: B0 01 00"}},       // code 15
        {{0x00, 0x30, 0x05}, {"0: C0 05"}},    // program change
        {{0x00, 0x31, 0x03}, {"0: B0 20 03"}}, // bank LSB
        {{0x00, 0x31, 0x80}, {"0: B0 20 0A"}}, // bank LSB from 128: t - 118
        {{0x00, 0x34, 0x7F}, {"0: E0 00 7F"}}, // extended bend
        {{0x00, 0x37, 0x64}, {"0: B0 07 64"}}, // volume
        {{0x00, 0xFA, 0x00}, {"0: B3 0A 00"}}, // pan, channel offset 3
        {{0x00, 0x3B, 0x01}, {"0: B0 0B 01"}}, // expression
        {{0x00, 0x33, 0x09}, {}},              // unknown extended code: no message
        {{0xFF, 0x22}, {}},                    // other 0xFF events are skipped
    };
    for (const Case& c : cases) {
        Bytes seq{0x00};
        seq.insert(seq.end(), c.event.begin(), c.event.end());
        Parsed p(score({scoreTrack(1, Sequence().raw(seq).end())}));
        ASSERT_TRUE(p.ok);
        EXPECT_THAT(musicTexts(p.seq), ElementsAreArray(c.expected)) << RecordingScoreTarget::hex(c.event);
    }
}

TEST(ScoreSequencerParse, EqualTimesKeepDecodingOrder)
{
    // Note A ends at 10 where note B starts: A's note-off was decoded first and stays first.
    // Tracks decode from 4 down to 1, so track 2's note precedes track 1's at time 0.
    const Sequence one = Sequence().note(0, noteByte(0, 1, 0), 10).note(10, noteByte(0, 1, 2), 5);
    const Sequence two = Sequence().note(0, noteByte(0, 1, 4), 20);
    Parsed p(score({scoreTrack(1, one), scoreTrack(2, two)}));
    EXPECT_THAT(musicTexts(p.seq),
                ElementsAre("0: 94 34 7F", "0: 90 30 7F", "10: 80 30 7F", "10: 90 32 7F", "15: 80 32 7F",
                            "20: 84 34 7F"));
    // Each track's sound off lands at its own end, on its own channels.
    const auto all = eventTexts(p.seq);
    EXPECT_EQ(std::count(all.begin(), all.end(), "15: B0 78 00"), 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), "20: B4 78 00"), 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), "20: B7 78 00"), 1);
}

TEST(ScoreSequencerParse, ExclusiveEventsDriveFmDirectlyOrSetUpVoices)
{
    // The 30-byte definition: byte 0 is the kind, byte 1 the bank; the rest is arbitrary here.
    Bytes definitionKind3{0x43, 0x03, 0x05};
    for (int i = 3; i < 31; ++i) {
        definitionKind3.push_back(static_cast<std::uint8_t>(i));
    }
    Bytes drumKind3 = definitionKind3;
    drumKind3[2] = 0x83;
    Bytes shortKind3(definitionKind3.begin(), definitionKind3.end() - 1);
    const Bytes compact{0x43, 0x02, 0x02, 0x85, 0xAF, 0x9A, 0x35, 0x0F, 0x2F, 0x44, 0x01, 0xF0, 0x70, 0x00};

    const Sequence seq = Sequence()
                             .exclusive(0, {0x43, 0x03, 0x90, 0x81, 0xC5})
                             .exclusive(0, definitionKind3)
                             .exclusive(0, drumKind3)
                             .exclusive(0, shortKind3)
                             .exclusive(0, compact)
                             .end();
    Parsed p(score({scoreTrack(1, seq)}));
    ASSERT_TRUE(p.ok);
    // The set-ups are stored while parsing.
    std::string body;
    for (int i = 3; i < 31; ++i) {
        body += " " + RecordingScoreTarget::hex(std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)});
    }
    EXPECT_THAT(p.target.log,
                ElementsAre("voice 03 19" + body, "voice 03 21" + body,
                            // Compact: bank 22, program 5, LFO 2 / feedback 5 / algorithm 1, octave 3;
                            // operator 1: attack code 0 -> 1, decay 15 -> 14, release 15 -> 15,
                            // tremolo and waveform 1; operator 2: attack 15 -> 15, decay 0 -> 0,
                            // release 0 -> 1, tremolo and waveform 2.
                            "voice 00 16 05 A9 03 35 FE 12 44 09 01 10 F7 00 0A"
                            " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));

    // Direct FM: x = 0x81, y = 0xC5 travel as header 0x60 (their top bits), 0x01, 0x45.
    ASSERT_TRUE(p.seq.prepare(0));
    p.seq.advance(0);
    EXPECT_EQ(p.target.messages().at(p.target.messages().size() - 5), "F0 43 79 05 7F 03 60 01 45 F7");
}

TEST(ScoreSequencerParse, AudioTrackPlaysWavesAndRegistersThemAtPrepare)
{
    const Sequence seq = Sequence().extended(0, 0x37, 0x5A).wave(2, 3, 10).end();
    Parsed p(score({audioTrack(seq, {{3, {0x12, 0x34}}, {63, {0x55}}}, {}, 0x10)}));
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.seq.prepare(0));
    EXPECT_THAT(p.target.log, ::testing::IsSupersetOf({"delete wave 3", "wave 3 at 4000: 12 34"}));
    EXPECT_EQ(p.target.messages().at(1), "F0 43 79 05 7F 0A 40 F7"); // the audio track is a main track

    const std::size_t before = p.target.messages().size();
    EXPECT_FALSE(p.seq.advance(12));
    const auto all = p.target.messages();
    EXPECT_THAT(std::vector<std::string>(all.begin() + before, all.end()),
                ElementsAre("F0 43 79 05 7F 09 00 5A F7", "F0 43 79 05 7F 07 00 03 01 00 F7",
                            "F0 43 79 05 7F 08 00 F7"));
}

TEST(ScoreSequencerPlay, PrepareSendsStartUpSetUpAndChannelDefaults)
{
    Bytes definition{0x43, 0x03, 0x01};
    definition.resize(31, 0x00);
    // Mtsu: a lone byte, 0xFF with another byte (skipped as two), a set-up, then a cut one.
    Bytes setup{0x01, 0xFF, 0x22, 0xFF, 0xF0, static_cast<std::uint8_t>(definition.size())};
    setup.insert(setup.end(), definition.begin(), definition.end());
    setup.insert(setup.end(), {0xFF, 0xF0, 0x40, 0x43});
    Parsed p(score({scoreTrack(1, Sequence().note(0, 0x25, 5), setup)}));
    ASSERT_TRUE(p.seq.prepare(0));

    const auto& log = p.target.log;
    ASSERT_EQ(log.size(), 3u + 16 * 7);
    EXPECT_EQ(log[0], "msg F0 43 79 05 7F 0B 01 F7");
    EXPECT_EQ(log[1], "msg F0 43 79 05 7F 0A 40 F7");
    EXPECT_TRUE(log[2].starts_with("voice 03 15 00"));
    EXPECT_THAT(std::vector<std::string>(log.begin() + 3, log.begin() + 10),
                ElementsAre("msg B0 37 01", "msg B0 00 7C", "msg B0 20 00", "msg C0 00", "msg B0 07 7F",
                            "msg B0 0B 7F", "msg B0 0A 40"));
    EXPECT_EQ(log.back(), "msg BF 0A 40");
    EXPECT_FALSE(p.seq.prepare(0)); // already playing
}

TEST(ScoreSequencerPlay, PrepareFastForwardsAndFailsPastTheEnd)
{
    // Events at 0, 10 (note-off A, note-on B), 15 (note-off B and the sound offs).
    const Sequence seq = Sequence().note(0, noteByte(0, 1, 0), 10).note(10, noteByte(0, 1, 2), 5);
    Parsed late(score({scoreTrack(1, seq)}));
    EXPECT_FALSE(late.seq.prepare(16));
    EXPECT_FALSE(late.seq.playing());
    EXPECT_THAT(late.target.log, IsEmpty());

    Parsed p(score({scoreTrack(1, seq)}));
    ASSERT_TRUE(p.seq.prepare(12));
    EXPECT_EQ(p.target.framesRendered, 44u); // (12 - 10) * 22050 / 1000
    const auto m = p.target.messages();
    EXPECT_THAT(std::vector<std::string>(m.end() - 3, m.end()), ElementsAre("90 30 7F", "80 30 7F", "90 32 7F"));

    EXPECT_TRUE(p.seq.advance(14));
    EXPECT_EQ(p.target.messages().size(), m.size());
    EXPECT_FALSE(p.seq.advance(15));
    EXPECT_EQ(p.target.messages().size(), m.size() + 5);

    Parsed exact(score({scoreTrack(1, seq)}));
    EXPECT_TRUE(exact.seq.prepare(15));
    EXPECT_EQ(exact.target.framesRendered, 0u);
}

TEST(ScoreSequencerPlay, StopSilencesOnlyAPlayingSongAndRewindRestarts)
{
    Parsed p(oneNoteScore(1, 0x25));
    p.seq.stop();
    EXPECT_THAT(p.target.log, IsEmpty());
    EXPECT_FALSE(p.seq.advance(100));

    ASSERT_TRUE(p.seq.prepare(0));
    EXPECT_FALSE(p.seq.advance(100));
    p.seq.rewind();
    const std::size_t before = p.target.messages().size();
    EXPECT_TRUE(p.seq.advance(0));
    EXPECT_EQ(p.target.messages().back(), "90 41 7F");

    p.target.log.clear();
    p.seq.stop();
    ASSERT_EQ(p.target.log.size(), 17u);
    EXPECT_EQ(p.target.log[0], "msg B0 78 00");
    EXPECT_EQ(p.target.log[15], "msg BF 78 00");
    EXPECT_EQ(p.target.log[16], "stop wave voice");
    EXPECT_FALSE(p.seq.playing());
    EXPECT_GT(before, 0u);

    // Stopped songs prepare again; cleared ones have nothing left.
    EXPECT_TRUE(p.seq.prepare(0));
    p.seq.clear();
    EXPECT_FALSE(p.seq.playing());
    EXPECT_FALSE(p.seq.parse());
    EXPECT_FALSE(p.seq.prepare(0));
}

TEST(ScoreSequencerParse, MalformedScoresFailOrKeepWhatIsWellFormed)
{
    const Bytes good = scoreTrack(1, Sequence().note(0, 0x25, 5));
    auto withTail = [&](const Bytes& tail) {
        Bytes s = score({good});
        s.insert(s.end(), tail.begin(), tail.end());
        return s;
    };
    auto trackData = [](const Bytes& data) { return score({chunk("MTR", 1, data)}); };
    auto sequence = [](const Bytes& seq) { return score({scoreTrack(1, Sequence().raw(seq))}); };

    struct Case {
        const char* name;
        Bytes bytes;
        bool parses;
        std::size_t noteOns;
    };
    const std::vector<Case> cases{
        {"no bytes", {}, false, 0},
        {"magic only", {'M', 'M', 'M', 'D'}, false, 0},
        {"other magic", {'M', 'M', 'M', 'X', 0, 0, 0, 0}, false, 0},
        {"no chunks", score({}), false, 0},
        {"chunk size past the end", score({Bytes{'M', 'T', 'R', 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}}), false, 0},
        {"bad chunk after a good one", withTail({'X', 'X', 'X', 'X', 0x7F, 0, 0, 0}), true, 1},
        {"truncated chunk header", withTail({'M', 'T', 'R'}), true, 1},
        {"track data too short", trackData({0, 0, 0, 0, 0}), false, 0},
        {"track byte 0 not 0", trackData({1, 0, 0, 0, 0, 0, 'M', 't', 's', 'q', 0, 0, 0, 2, 0, 0x25}), false, 0},
        {"empty Mtsq", score({scoreTrack(1, Sequence())}), false, 0},
        {"Mtsq past the track", trackData({0, 0, 0, 0, 0, 0, 'M', 't', 's', 'q', 0, 0, 0, 9, 0, 0x25}), false, 0},
        {"note without gate", sequence({0x00, 0x25, 0x05, 0x00, 0x26}), true, 1},
        {"cut two-byte duration", sequence({0x00, 0x25, 0x05, 0x81}), true, 1},
        {"cut gate", sequence({0x00, 0x25, 0x85}), true, 0},
        {"cut extended", sequence({0x00, 0x00, 0x30}), true, 0},
        {"exclusive past the end", sequence({0x00, 0x25, 0x01, 0x00, 0xFF, 0xF0, 0x20, 0x43}), true, 1},
        {"exclusive without length", sequence({0x00, 0xFF, 0xF0}), true, 0},
        {"audio format refused", score({audioTrack(Sequence().wave(0, 1, 1), {}, {}, 0x20)}), false, 0},
        {"audio cut short", score({audioTrack(Sequence().raw({0x00, 0x00, 0x37}), {})}), true, 0},
        {"end marker first", sequence({0, 0, 0, 0, 0x00, 0x25, 0x05}), true, 0},
    };
    for (const Case& c : cases) {
        Parsed p(c.bytes);
        EXPECT_EQ(p.ok, c.parses) << c.name;
        std::size_t ons = 0;
        for (const std::string& e : eventTexts(p.seq)) {
            ons += e.find(": 9") != std::string::npos;
        }
        EXPECT_EQ(ons, c.noteOns) << c.name;
    }
}

TEST(ScoreSequencerParse, MutatedScoresStayWithinTheirBytes)
{
    // Every kind of chunk and event, then random damage: under the sanitizers any read outside
    // the data fails the run. Whatever parses must also prepare, play and stop.
    Bytes definition{0x43, 0x03, 0x02};
    definition.resize(31, 0x11);
    const Sequence seq = Sequence()
                             .note(0, 0x25, 5)
                             .control(1, 0x05)
                             .extended(0, 0x32, 0x81)
                             .exclusive(2, {0x43, 0x03, 0x90, 0x81, 0xC5})
                             .exclusive(0, definition)
                             .note(200, 0xE3, 300)
                             .end();
    const Bytes original = score({scoreTrack(1, seq, {0xFF, 0xF0, 0x1F, 0x43, 0x03, 0x01}),
                                  scoreTrack(3, seq, {}, {0x13, 0x12}),
                                  audioTrack(Sequence().extended(0, 0x37, 9).wave(1, 2, 3).end(), {{2, {1, 2, 3}}})});
    std::mt19937 random(2026);
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged = original;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % damaged.size();
            damaged[at] = static_cast<std::uint8_t>(random());
        }
        const auto cut = static_cast<std::ptrdiff_t>(random() % (damaged.size() / 4));
        damaged.erase(damaged.end() - cut, damaged.end());
        Parsed p(damaged);
        if (p.ok && p.seq.prepare(0)) {
            p.seq.advance(UINT64_MAX);
            p.seq.stop();
        }
    }
}

} // namespace
