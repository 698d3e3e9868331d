#include "RecordingScoreTarget.h"
#include "ScoreWriter.h"
#include "synth/WholeSong.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

using namespace scoretest;

namespace {

constexpr std::uint32_t kChunkBytes = 22 * 4;

// One note from 0 to 10 ms on channel 0; track 1 ends there.
const Bytes kOneNote = score({scoreTrack(1, Sequence().note(0, 0x25, 10).end())});

struct Song {
    RecordingScoreTarget target;
    mevo::WholeSong song{target};

    explicit Song(const Bytes& bytes = kOneNote)
    {
        song.sendData(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }

    std::uint32_t generate(std::uint32_t bytes)
    {
        std::vector<std::uint8_t> buffer(bytes);
        return song.generate(buffer.data(), bytes);
    }

    std::size_t count(const std::string& message) const
    {
        const auto m = target.messages();
        return static_cast<std::size_t>(std::count(m.begin(), m.end(), message));
    }
};

TEST(WholeSong, GenerateRendersWholeFramesOnly)
{
    Song s;
    ASSERT_EQ(s.song.fixData(), 1);
    std::array<std::uint8_t, 6> buffer;
    buffer.fill(0xAA);
    EXPECT_EQ(s.song.generate(buffer.data(), 3), 0u);
    EXPECT_EQ(s.target.framesRendered, 0u);
    EXPECT_EQ(buffer[0], 0xAA);

    EXPECT_EQ(s.song.generate(buffer.data(), 6), 4u);
    EXPECT_EQ(s.target.framesRendered, 1u);
    EXPECT_EQ(buffer[0] | buffer[1] << 8, 1000); // the note sounds, little-endian
    EXPECT_EQ(buffer[4], 0xAA);
    EXPECT_EQ(s.generate(401), 400u);
}

TEST(WholeSong, SongEndsOnTheFirstSilentChunkAfterItsLastEvent)
{
    // The note-off at 10 ms is due in the chunk at frame 242 (10.97 ms), the 12th; the 30-frame
    // release then fills that chunk and 8 frames of the next, so the 14th chunk is silent.
    Song s;
    ASSERT_EQ(s.song.fixData(), 1);
    std::vector<std::uint32_t> results;
    for (int i = 0; i < 15; ++i) {
        results.push_back(s.generate(kChunkBytes));
    }
    std::vector<std::uint32_t> expected(13, kChunkBytes);
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(results, expected);
    EXPECT_EQ(s.song.position(), 0u);
    EXPECT_EQ(s.count("90 41 7F"), 1u);
    EXPECT_EQ(s.count("B0 78 00"), 2u); // the track's end, then the stop
}

TEST(WholeSong, RepeatOneLoopsForever)
{
    Song s;
    EXPECT_EQ(s.song.setRepeat(1), 1);
    ASSERT_EQ(s.song.fixData(), 1);
    // The 12th chunk (frames 242..263) dispatches the last event at 10 ms and rewinds, so the
    // 13th chunk starts the song again from frame 264.
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(s.generate(kChunkBytes), kChunkBytes);
    }
    EXPECT_EQ(s.count("90 41 7F"), 1u);
    s.generate(kChunkBytes);
    EXPECT_EQ(s.count("90 41 7F"), 2u);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(s.generate(4003), 4000u);
    }
    // 50000 frames, a loop about every 12 chunks: the 12th dispatches the last event and rewinds.
    EXPECT_GT(s.count("90 41 7F"), 150u);
    EXPECT_EQ(s.song.setRepeat(7), 7);
}

TEST(WholeSong, SeekZeroStopsAndLetsTheTailsRingOut)
{
    Song s;
    ASSERT_EQ(s.song.fixData(), 1);
    ASSERT_EQ(s.generate(kChunkBytes), kChunkBytes); // the note is held
    EXPECT_EQ(s.song.seek(0), 0);
    EXPECT_EQ(s.song.position(), 0u);
    EXPECT_EQ(s.count("BF 78 00"), 1u);
    EXPECT_EQ(s.generate(kChunkBytes), kChunkBytes); // 22 frames of release
    EXPECT_EQ(s.generate(kChunkBytes), kChunkBytes); // 8 more
    EXPECT_EQ(s.generate(kChunkBytes), 0u);
    EXPECT_EQ(s.count("90 41 7F"), 1u);
}

TEST(WholeSong, SeekPositionsOrFailsPastTheEnd)
{
    Song s;
    s.target.tailFrames = 0;
    ASSERT_EQ(s.song.fixData(), 1);
    EXPECT_EQ(s.song.seek(5), 0);
    EXPECT_EQ(s.song.position(), 110u); // 5 * 22050 / 1000
    EXPECT_EQ(s.song.seek(11), 1);
    EXPECT_EQ(s.song.position(), 0u);
    EXPECT_EQ(s.generate(kChunkBytes), 0u); // stopped
    EXPECT_EQ(s.song.seek(10), 0); // the last event's own time is inside the song
    EXPECT_EQ(s.song.position(), 220u);
}

TEST(WholeSong, TimingHoldsPastTheThirtyTwoBitRange)
{
    // A note at 4000 units of 50 ms = 200 s; 200 s of frames times 1000 overflows 32 bits.
    Song s(score({scoreTrack(1, Sequence().note(4000, 0x25, 1).end(), {}, {0x13, 0x00})}));
    ASSERT_EQ(s.song.fixData(), 1);
    ASSERT_EQ(s.song.seek(199'990), 0);
    EXPECT_EQ(s.song.position(), 4'409'779u);
    EXPECT_EQ(s.count("90 41 7F"), 0u);
    s.generate(20 * kChunkBytes); // about 20 ms
    EXPECT_EQ(s.count("90 41 7F"), 1u);
}

TEST(WholeSong, SendDataNullDiscardsAndFixDataFollowsTheStates)
{
    Song none(Bytes{});
    EXPECT_EQ(none.song.fixData(), 0);
    Song other(Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6});
    EXPECT_EQ(other.song.fixData(), 0);

    // A score received in two parts.
    Song s(Bytes(kOneNote.begin(), kOneNote.begin() + 9));
    s.song.sendData(kOneNote.data() + 9, static_cast<std::uint32_t>(kOneNote.size() - 9));
    ASSERT_EQ(s.song.fixData(), 1);
    EXPECT_EQ(s.song.fixData(), 0); // already playing
    s.generate(kChunkBytes);

    s.song.sendData(nullptr, 0);
    EXPECT_EQ(s.count("BF 78 00"), 1u);
    EXPECT_EQ(s.target.log.back(), "stop wave voice");
    EXPECT_EQ(s.song.fixData(), 0);
    EXPECT_EQ(s.song.seek(5), 1);
}

} // namespace
