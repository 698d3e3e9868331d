// Score rendering of the command line against a scripted stand-in for the whole-song exports.
#include "cli/ScoreRender.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

namespace {

// A song whose last event is at `lastMs`; with repeat off it ends `tailFrames` after the point
// where repeat was switched off (or after its start).
struct Script {
    static inline uint32_t lastMs = 100;
    static inline uint64_t tailFrames = 2 * 22 * 64;  // two whole Generate calls of the renderer
    static inline int repeat = 0;
    static inline uint64_t frames = 0;        // rendered so far
    static inline uint64_t repeatOffAt = 0;   // frame count when repeat last became 0
    static inline std::vector<std::pair<int, uint64_t>> repeats;  // value and frame count

    static void reset(uint32_t last) {
        lastMs = last;
        repeat = 0;
        frames = repeatOffAt = 0;
        repeats.clear();
    }
    static int setRepeat(int r) {
        repeat = r;
        if (r != 1) repeatOffAt = frames;
        repeats.emplace_back(r, frames);
        return r;
    }
    static void sendData(const void*, unsigned) {}
    static int fixData() { return 1; }
    static int seek(unsigned ms) { return ms > lastMs ? 1 : 0; }
    static unsigned generate(void* buffer, unsigned bytes) {
        if (repeat != 1 && frames >= repeatOffAt + tailFrames) return 0;
        std::memset(buffer, 1, bytes);
        frames += bytes / 4;
        return bytes;
    }
};

const tonaro::cli::WholeSongApi kScript{Script::setRepeat, Script::sendData, Script::fixData, Script::seek,
                                        Script::generate};
const std::vector<uint8_t> kScore{'M', 'M', 'M', 'D', 0, 0, 0, 0};

TEST(ScoreRender, OnePlayFramesCountWholeChunksUpToTheLastEvent) {
    using tonaro::cli::FramesOfOnePlay;
    // 100 ms is due at frame 2205 (100 * 22.05); chunks start at multiples of 22 from the start,
    // and the first at or past 2205 is 2222; that chunk is rendered too.
    EXPECT_EQ(FramesOfOnePlay(0, 0, 100), 2244u);
    // A looping song whose last event is at 10 ms starts again at frame 264 (the synthesizer's
    // own tests count the same chunks).
    EXPECT_EQ(FramesOfOnePlay(0, 0, 10), 264u);
    // From 50 ms (frame 1102): chunks at 1102 + 22k, the first past 2205 at k = 51.
    EXPECT_EQ(FramesOfOnePlay(1102, 50, 100), 1144u);
    // Positioned at or past the last event: the first chunk already has no events left.
    EXPECT_EQ(FramesOfOnePlay(2205, 100, 100), 22u);
    EXPECT_EQ(FramesOfOnePlay(0, 0, 0), 22u);
}

TEST(ScoreRender, RepeatLoopsThroughSetRepeatAndLetsTheLastPlayEnd) {
    struct Case {
        int plays;
        uint32_t seekMs;
        uint64_t repeatOffAt;
    };
    const std::vector<Case> cases{{1, 0, 0}, {3, 0, 2 * 2244}, {2, 50, 1144}, {3, 50, 1144 + 2244}};
    for (const Case& c : cases) {
        Script::reset(100);
        std::vector<int16_t> pcm;
        std::ostringstream err;
        ASSERT_EQ(tonaro::cli::RenderScore(kScore, kScript, {c.plays, c.seekMs}, pcm, err), 0) << err.str();
        ASSERT_GE(Script::repeats.size(), 2u);
        const auto end = Script::repeats.end();
        EXPECT_EQ(*(end - 2), std::make_pair(c.plays > 1 ? 1 : 0, uint64_t{0})) << c.plays;
        EXPECT_EQ(*(end - 1), std::make_pair(0, c.repeatOffAt)) << c.plays << " " << c.seekMs;
        EXPECT_EQ(pcm.size(), 2 * (c.repeatOffAt + Script::tailFrames));
    }
}

TEST(ScoreRender, SeekPastTheLastEventIsRefused) {
    Script::reset(1234);
    std::vector<int16_t> pcm;
    std::ostringstream err;
    EXPECT_EQ(tonaro::cli::RenderScore(kScore, kScript, {1, 1235}, pcm, err), 1);
    EXPECT_NE(err.str().find("1234 ms"), std::string::npos) << err.str();
    EXPECT_TRUE(pcm.empty());
    EXPECT_EQ(tonaro::cli::RenderScore(kScore, kScript, {1, 1234}, pcm, err), 0);
}

TEST(ScoreRender, OnlyScoreFilesAreTakenAsScores) {
    EXPECT_TRUE(tonaro::cli::IsScoreFile(kScore));
    const std::vector<uint8_t> midi{'M', 'T', 'h', 'd'};
    EXPECT_FALSE(tonaro::cli::IsScoreFile(midi));
    EXPECT_FALSE(tonaro::cli::IsScoreFile(std::vector<uint8_t>{'M', 'M', 'M'}));
    std::ostringstream err;
    EXPECT_FALSE(tonaro::cli::RunScoreRender("/nonexistent/file.mmd", "/tmp/x.wav", {}, err).has_value());
}

}  // namespace
