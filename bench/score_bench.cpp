// Renders a 60-second song of four score tracks and a drum track in whole-song mode and prints
// its speed as a multiple of real time, beside the same notes sent as MIDI messages in real-time
// mode (the peer), and the ratio of the two.
#include "ScoreWriter.h"
#include "synth/EngineScoreTarget.h"
#include "synth/SynthEngine.h"
#include "synth/WholeSong.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace scoretest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kSongMs = 60'000;
constexpr unsigned kUnitMs = 10; // time base 0x10

struct Note {
    unsigned channel; // 4 * (track - 1)
    std::uint8_t noteByte;
    std::uint8_t key;
    unsigned startMs;
    unsigned lengthMs;
};

// Track t plays a note every 250 ms (a rising pattern per track), held 200 ms.
std::vector<Note> songNotes(unsigned track)
{
    std::vector<Note> notes;
    for (unsigned i = 0, at = 0; at < kSongMs; ++i, at += 250) {
        const unsigned octave = (track + i / 8) % 3 + 1;
        const unsigned step = (i * 5 + track * 3) % 12;
        notes.push_back({4 * (track - 1), static_cast<std::uint8_t>(octave << 4 | step),
                         static_cast<std::uint8_t>(step + (octave + 3) * 12), at, 200});
    }
    return notes;
}

Bytes drumSample()
{
    Bytes adpcm(1000);
    std::uint32_t x = 1;
    for (auto& b : adpcm) {
        x = x * 1103515245 + 12345;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return adpcm;
}

Bytes makeScore()
{
    std::vector<Bytes> chunks;
    for (unsigned track = 1; track <= 4; ++track) {
        Sequence seq;
        unsigned at = 0;
        for (const Note& n : songNotes(track)) {
            seq.note((n.startMs - at) / kUnitMs, n.noteByte, n.lengthMs / kUnitMs);
            at = n.startMs;
        }
        chunks.push_back(scoreTrack(static_cast<std::uint8_t>(track), seq.end(), {}, {0x10, 0x10}));
    }
    Sequence drums;
    drums.extended(0, 0x37, 110);
    for (unsigned at = 0; at < kSongMs; at += 500) {
        drums.wave(at == 0 ? 0 : 50, 1, 20);
    }
    chunks.push_back(audioTrack(drums.end(), {{1, drumSample()}}, {0x10, 0x10}, 0x11));
    return score(chunks);
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Whole-song mode: SendData, FixData, then Generate in 2048-byte calls until the song ends.
std::pair<double, std::uint64_t> renderWholeSong(const Bytes& score)
{
    mevo::SynthEngine engine;
    mevo::EngineScoreTarget target(engine);
    mevo::WholeSong song(target);
    std::vector<std::int16_t> buffer(1024);
    std::uint64_t frames = 0;
    const auto start = Clock::now();
    song.sendData(score.data(), static_cast<std::uint32_t>(score.size()));
    if (song.fixData() != 1) {
        std::fprintf(stderr, "the bench score did not parse\n");
        return {0, 0};
    }
    while (const std::uint32_t bytes = song.generate(buffer.data(), 2048)) {
        frames += bytes / 4;
    }
    return {seconds(start), frames};
}

// Real-time mode: the same notes and drum hits as messages, rendered in 22-frame chunks; with
// `scoreSetUp`, after the channel set-up that a score gets (a voice slot per channel, mono mode,
// user bank 20), so that only the sequencing differs from whole-song mode.
double renderRealTime(std::uint64_t frames, bool scoreSetUp)
{
    struct Timed {
        unsigned ms;
        std::vector<std::uint8_t> message;
    };
    std::vector<Timed> schedule;
    for (unsigned track = 1; track <= 4; ++track) {
        for (const Note& n : songNotes(track)) {
            schedule.push_back({n.startMs, {static_cast<std::uint8_t>(0x90 | n.channel), n.key, 127}});
            schedule.push_back({n.startMs + n.lengthMs, {static_cast<std::uint8_t>(0x80 | n.channel), n.key, 0}});
        }
    }
    for (unsigned at = 0; at < kSongMs; at += 500) {
        schedule.push_back({at, {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x07, 0x00, 0x01, 0x01, 0x00, 0xF7}});
        schedule.push_back({at + 200, {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x08, 0x00, 0xF7}});
    }
    std::stable_sort(schedule.begin(), schedule.end(), [](const Timed& a, const Timed& b) { return a.ms < b.ms; });

    mevo::SynthEngine engine;
    const Bytes drum = drumSample();
    std::vector<std::int16_t> chunk(2 * 22);
    const auto start = Clock::now();
    engine.startRealtime();
    engine.waves().registerWave(1, drum, 8000);
    if (scoreSetUp) {
        engine.dispatch(std::vector<std::uint8_t>{0xF0, 0x43, 0x79, 0x05, 0x7F, 0x0B, 0x01, 0xF7});
        engine.dispatch(std::vector<std::uint8_t>{0xF0, 0x43, 0x79, 0x05, 0x7F, 0x0A, 0x40, 0xF7});
        for (std::uint8_t ch = 0; ch < 16; ++ch) {
            const std::uint8_t cc = static_cast<std::uint8_t>(0xB0 | ch);
            for (const auto& m : std::vector<std::vector<std::uint8_t>>{
                     {cc, 55, 1}, {cc, 0, 124}, {cc, 32, 0}, {static_cast<std::uint8_t>(0xC0 | ch), 0}}) {
                engine.dispatch(m);
            }
        }
    }
    std::size_t next = 0;
    for (std::uint64_t frame = 0; frame < frames; frame += 22) {
        while (next < schedule.size() && schedule[next].ms * 22050ull / 1000 <= frame) {
            engine.dispatch(schedule[next].message);
            ++next;
        }
        engine.render(chunk.data(), 22);
    }
    return seconds(start);
}

} // namespace

int main()
{
    const Bytes score = makeScore();
    const auto [wholeSeconds, frames] = renderWholeSong(score);
    const double sameSetUpSeconds = renderRealTime(frames, true);
    const double defaultSeconds = renderRealTime(frames, false);
    const double audio = static_cast<double>(frames) / 22050.0;
    std::printf("song: %.1f s of audio, 4 score tracks and a drum track (%zu score bytes)\n", audio, score.size());
    std::printf("whole-song (SendData, FixData, Generate): %.3f s, %.0f x real time\n", wholeSeconds,
                audio / wholeSeconds);
    std::printf("peer, real-time with the score's set-up:   %.3f s, %.0f x real time; whole-song speed ratio %.2f\n",
                sameSetUpSeconds, audio / sameSetUpSeconds, sameSetUpSeconds / wholeSeconds);
    std::printf("peer, real-time with its defaults (poly):  %.3f s, %.0f x real time; whole-song speed ratio %.2f\n",
                defaultSeconds, audio / defaultSeconds, defaultSeconds / wholeSeconds);
    return 0;
}
