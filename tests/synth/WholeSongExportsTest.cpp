// The library's whole-song exports on its real engine, beside the real-time exports that share it.
#include "ScoreWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

extern "C" {
int SetRepeat(int repeat);
void SendData(const void* data, unsigned length);
int FixData(void);
int Seek(unsigned ms);
unsigned Generate(void* buffer, unsigned bytes);
int RtStart(void);
int RtStop(void);
int RtWriteMessage(const unsigned char* message, unsigned length);
int RtGenerate(void* buffer, unsigned frames);
unsigned RtRegWave(unsigned id, const unsigned char* adpcm, unsigned length, unsigned rate);
void RtDelWave(unsigned id);
}

using namespace scoretest;

namespace {

constexpr unsigned kChunkBytes = 22 * 4;

// One note held for one unit of 20 ms on channel 0, key 60.
const Bytes kShortSong = score({scoreTrack(1, Sequence().note(0, noteByte(0, 2, 0), 1).end(), {}, {0x11, 0x11})});

struct Song {
    explicit Song(const Bytes& bytes, int repeat = 0)
    {
        SendData(nullptr, 0);
        SendData(bytes.data(), static_cast<unsigned>(bytes.size()));
        SetRepeat(repeat);
    }
    ~Song()
    {
        SendData(nullptr, 0);
        SetRepeat(0);
    }
};

// Generates until the song ends (at most `maxCalls` calls of `bytes`); the PCM and whether it ended.
std::pair<std::vector<std::int16_t>, bool> generateAll(unsigned bytes = 2048, int maxCalls = 100000)
{
    std::vector<std::int16_t> pcm;
    std::vector<std::int16_t> buffer(bytes / 2);
    for (int i = 0; i < maxCalls; ++i) {
        const unsigned written = Generate(buffer.data(), bytes);
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + written / 2);
        if (written == 0) {
            return {pcm, true};
        }
    }
    return {pcm, false};
}

int peak(const std::vector<std::int16_t>& pcm, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    int p = 0;
    for (std::size_t i = from; i < std::min(to, pcm.size()); ++i) {
        p = std::max(p, std::abs(int{pcm[i]}));
    }
    return p;
}

TEST(WholeSongExports, GenerateCountsWholeFramesAndEndsAfterTheLastSilentChunk)
{
    Song song(kShortSong);
    ASSERT_EQ(FixData(), 1);
    EXPECT_EQ(FixData(), 0); // prepared and playing
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(Generate(buffer, 3), 0u);
    EXPECT_EQ(Generate(buffer, 6), 4u);
    const auto [pcm, ended] = generateAll(kChunkBytes);
    EXPECT_TRUE(ended);
    EXPECT_GT(peak(pcm), 1000);
    // The last chunk before the end is the first silent one after the release; the stop that
    // follows leaves nothing to render.
    EXPECT_EQ(Generate(buffer, 8), 0u);
}

TEST(WholeSongExports, RepeatOneNeverEnds)
{
    Song song(kShortSong, 1);
    ASSERT_EQ(FixData(), 1);
    std::vector<std::uint8_t> buffer(4003);
    for (int i = 0; i < 200; ++i) { // about 9 s, many times the song
        ASSERT_EQ(Generate(buffer.data(), 4003), 4000u);
    }
}

TEST(WholeSongExports, SeekZeroStopsAndSeekPastTheEndFails)
{
    Song song(kShortSong);
    ASSERT_EQ(FixData(), 1);
    std::vector<std::uint8_t> buffer(kChunkBytes);
    ASSERT_EQ(Generate(buffer.data(), kChunkBytes), kChunkBytes);
    EXPECT_EQ(Seek(0), 0);
    EXPECT_TRUE(generateAll(kChunkBytes, 10000).second); // only the release is left
    EXPECT_EQ(Seek(21), 1);                             // the last event is at 20 ms
    EXPECT_EQ(Seek(10), 0);
    EXPECT_EQ(Generate(buffer.data(), kChunkBytes), kChunkBytes);
    EXPECT_EQ(FixData(), 0);
}

TEST(WholeSongExports, SendDataNullSilencesAndDiscards)
{
    Song song(kShortSong);
    ASSERT_EQ(FixData(), 1);
    std::vector<std::int16_t> buffer(2 * 2205);
    ASSERT_EQ(Generate(buffer.data(), 4 * 441), 4u * 441); // 20 ms: the note sounds
    SendData(nullptr, 0);
    EXPECT_EQ(FixData(), 0);
    EXPECT_EQ(Seek(5), 1);
}

// A song of four score tracks and a drum audio track, the notes given once for both modes.
struct Note {
    std::uint8_t track;    // 1..4, channel offset 0: channel 4 * (track - 1)
    std::uint8_t octave;   // note byte octave code 0..3
    std::uint8_t step;     // 0..15
    unsigned startMs;      // multiples of 20 ms
    unsigned lengthMs;
    std::uint8_t key() const { return static_cast<std::uint8_t>(step + (octave + 3) * 12); }
    std::uint8_t channel() const { return static_cast<std::uint8_t>(4 * (track - 1)); }
};
const std::vector<Note> kNotes{
    {1, 2, 0, 0, 400},   {1, 2, 4, 400, 400},   {1, 2, 7, 800, 400}, {2, 1, 0, 0, 1200},
    {3, 0, 7, 200, 600}, {3, 0, 0, 800, 400},   {4, 3, 0, 600, 600},
};
const std::vector<unsigned> kDrumHitsMs{0, 300, 600, 900};
constexpr unsigned kDrumLengthMs = 200;
constexpr unsigned kUnitMs = 20; // time base 0x11

Bytes drumSample()
{
    // A noise burst: codes from a small LCG, as 4-bit ADPCM at 8000 Hz, 0.25 s.
    Bytes adpcm(1000);
    std::uint32_t x = 12345;
    for (auto& b : adpcm) {
        x = x * 1103515245 + 12345;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return adpcm;
}

Bytes bandScore()
{
    std::vector<Bytes> chunks;
    for (std::uint8_t track = 1; track <= 4; ++track) {
        Sequence seq;
        unsigned at = 0;
        for (const Note& n : kNotes) {
            if (n.track == track) {
                seq.note((n.startMs - at) / kUnitMs, noteByte(0, n.octave, n.step), n.lengthMs / kUnitMs);
                at = n.startMs;
            }
        }
        chunks.push_back(scoreTrack(track, seq.end(), {}, {0x11, 0x11}));
    }
    Sequence drums;
    drums.extended(0, 0x37, 127);
    unsigned at = 0;
    for (unsigned hit : kDrumHitsMs) {
        drums.wave((hit - at) / kUnitMs, 1, kDrumLengthMs / kUnitMs);
        at = hit;
    }
    chunks.push_back(audioTrack(drums.end(), {{1, drumSample()}}, {0x11, 0x11}, 0x11));
    return score(chunks);
}

// Peaks of each 100 ms window.
std::vector<int> windowPeaks(const std::vector<std::int16_t>& pcm)
{
    std::vector<int> peaks;
    for (std::size_t at = 0; at < pcm.size(); at += 2 * 2205) {
        peaks.push_back(peak(pcm, at, at + 2 * 2205));
    }
    return peaks;
}

TEST(WholeSongExports, ABandWithDrumsSoundsInBothModes)
{
    // Whole-song mode.
    std::vector<std::int16_t> wholeSong;
    {
        Song song(bandScore());
        ASSERT_EQ(FixData(), 1);
        auto [pcm, ended] = generateAll();
        ASSERT_TRUE(ended);
        wholeSong = std::move(pcm);
    }
    // The drums alone, whole-song.
    std::vector<std::int16_t> drumsOnly;
    {
        Sequence drums;
        drums.extended(0, 0x37, 127).wave(0, 1, kDrumLengthMs / kUnitMs);
        Song song(score({audioTrack(drums.end(), {{1, drumSample()}}, {0x11, 0x11}, 0x11)}));
        ASSERT_EQ(FixData(), 1);
        drumsOnly = generateAll().first;
    }

    // Real-time mode: the same notes as MIDI messages, the drum through the engine's wave commands.
    struct Timed {
        unsigned ms;
        std::vector<std::uint8_t> message;
    };
    std::vector<Timed> schedule;
    for (const Note& n : kNotes) {
        schedule.push_back({n.startMs, {static_cast<std::uint8_t>(0x90 | n.channel()), n.key(), 127}});
        schedule.push_back({n.startMs + n.lengthMs, {static_cast<std::uint8_t>(0x80 | n.channel()), n.key(), 0}});
    }
    for (unsigned hit : kDrumHitsMs) {
        schedule.push_back({hit, {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x07, 0x00, 0x01, 0x01, 0x00, 0xF7}});
        schedule.push_back({hit + kDrumLengthMs, {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x08, 0x00, 0xF7}});
    }
    std::stable_sort(schedule.begin(), schedule.end(), [](const Timed& a, const Timed& b) { return a.ms < b.ms; });

    ASSERT_EQ(RtStart(), 1);
    const Bytes drum = drumSample();
    ASSERT_EQ(RtRegWave(1, drum.data(), static_cast<unsigned>(drum.size()), 8000), 1u);
    constexpr unsigned kFrames = 22 * 2005; // 2 s in whole chunks
    std::vector<std::int16_t> realTime(2 * kFrames);
    std::size_t next = 0;
    for (unsigned frame = 0; frame < kFrames; frame += 22) {
        while (next < schedule.size() && schedule[next].ms * 22050ull / 1000 <= frame) {
            RtWriteMessage(schedule[next].message.data(), static_cast<unsigned>(schedule[next].message.size()));
            ++next;
        }
        RtGenerate(realTime.data() + 2 * frame, 22);
    }
    RtStop();
    RtDelWave(1);

    // The whole song lasts 1.2 s plus its release; each 100 ms of it is audible.
    EXPECT_GE(wholeSong.size(), 2u * 22050 * 12 / 10);
    const auto songPeaks = windowPeaks(wholeSong);
    for (std::size_t w = 0; w < 12; ++w) {
        EXPECT_GT(songPeaks[w], 300) << "whole-song window " << w;
    }
    EXPECT_GT(peak(drumsOnly), 300);
    const auto rtPeaks = windowPeaks(realTime);
    for (std::size_t w = 0; w < 12; ++w) {
        EXPECT_GT(rtPeaks[w], 300) << "real-time window " << w;
    }
}

TEST(WholeSongExports, ScoreWavesKeepTheirNumbersAndLeaveAutomaticIdsFrom63)
{
    RtDelWave(0);
    {
        Sequence drums;
        drums.extended(0, 0x37, 127).wave(0, 62, 1);
        Song song(score({audioTrack(drums.end(), {{1, drumSample()}, {62, drumSample()}}, {}, 0x11)}));
        ASSERT_EQ(FixData(), 1);
        EXPECT_TRUE(generateAll().second);
    }
    const unsigned char adpcm[] = {0x00, 0x11};
    EXPECT_EQ(RtRegWave(0, adpcm, 2, 8000), 63u);
    EXPECT_EQ(RtRegWave(0, adpcm, 2, 8000), 64u);
    EXPECT_EQ(RtRegWave(62, adpcm, 2, 8000), 62u); // replaces the score's wave 62
    RtDelWave(0);
}

// Defined dynamic symbols of the built library file.
std::set<std::string> exportedNames()
{
    std::set<std::string> names;
    const std::string command = std::string("nm -D --defined-only '") + TONARO_BIN_DIR + "/libmevo22k.so'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char line[512];
    while (pipe && std::fgets(line, sizeof line, pipe.get())) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        names.insert(text.substr(text.find_last_of(' ') + 1));
    }
    return names;
}

TEST(WholeSongExports, TheLibraryExportsExactlyItsElevenFunctions)
{
    const std::set<std::string> expected{"FixData",  "Generate", "RtDelWave",      "RtGenerate", "RtRegWave", "RtStart",
                                         "RtStop",   "Seek",     "RtWriteMessage", "SendData",   "SetRepeat"};
    EXPECT_EQ(exportedNames(), expected);
}

} // namespace
