// The vector-lane renderer against the scalar kernels: random voices, notes and calls must give
// the same samples and the same operator states.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "synth/FmVoiceEngine.h"
#include "synth/FmVoiceLanes.h"

namespace mevo {
namespace {

class Random {
public:
    explicit Random(unsigned seed) : engine_(seed) {}
    unsigned below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(engine_); }
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    std::mt19937 engine_;
};

VoiceRecord randomVoice(Random& rnd, bool twoOperatorOnly) {
    static constexpr std::uint8_t kAlgorithms[] = {0, 1, 0, 1, 0, 1, 4, 5, 6, 7};
    VoiceRecord v;
    v.algorithm = kAlgorithms[rnd.below(twoOperatorOnly ? 6 : std::size(kAlgorithms))];
    v.operatorCount = operatorCountFor(v.algorithm);
    v.octave = static_cast<std::uint8_t>(rnd.below(4));
    v.lfoRate = static_cast<std::uint8_t>(rnd.below(4));
    v.feedback = static_cast<std::uint8_t>(rnd.below(8));
    for (OperatorParams& op : v.operators) {
        op.multiple = static_cast<std::uint8_t>(rnd.below(16));
        op.vibrato = static_cast<std::uint8_t>(rnd.below(2));
        op.sustainHold = static_cast<std::uint8_t>(rnd.below(2));
        op.slowRelease = static_cast<std::uint8_t>(rnd.below(2));
        op.keyScaleRate = static_cast<std::uint8_t>(rnd.below(2));
        op.releaseRate = static_cast<std::uint8_t>(rnd.below(16));
        op.decayRate = static_cast<std::uint8_t>(rnd.below(16));
        // Mostly quick attacks, so that many voices sound at once; sometimes none at all.
        op.attackRate = static_cast<std::uint8_t>(rnd.chance(10) ? rnd.below(16) : 10 + rnd.below(6));
        op.sustainLevel = static_cast<std::uint8_t>(rnd.below(16));
        op.totalLevel = static_cast<std::uint8_t>(rnd.chance(20) ? rnd.below(64) : rnd.below(24));
        op.keyScaleLevel = static_cast<std::uint8_t>(rnd.below(4));
        op.tremoloDepth = static_cast<std::uint8_t>(rnd.below(4));
        op.tremolo = static_cast<std::uint8_t>(rnd.below(2));
        op.waveform = static_cast<std::uint8_t>(rnd.below(kWaveformCount));
    }
    return v;
}

// Each vector width the processor has, beside the scalar engine.
struct Engines {
    Engines() {
        scalar.useLanes(false);
        narrow.useLanes(true, false);
    }
    template <typename F>
    void each(F&& f) {
        f(scalar);
        f(narrow);
        f(wide);
    }
    FmVoiceEngine scalar, narrow, wide;
};

// Renders `frames` with every engine; true when all give the scalar engine's samples.
bool renderAlike(Engines& e, unsigned frames) {
    std::vector<std::int16_t> expected(frames * 2), got(frames * 2);
    e.scalar.render(expected.data(), frames);
    bool alike = true;
    for (FmVoiceEngine* engine : {&e.narrow, &e.wide}) {
        engine->render(got.data(), frames);
        alike = alike && got == expected;
    }
    return alike;
}

// Applies the same random change to every engine.
void randomChange(Random& rnd, Engines& e, bool twoOperatorOnly) {
    const unsigned voice = rnd.below(kVoiceCount);
    switch (rnd.below(7)) {
        case 0: {
            const VoiceRecord v = randomVoice(rnd, twoOperatorOnly);
            e.each([&](FmVoiceEngine& x) { x.loadVoice(voice, v); });
            break;
        }
        case 1: {
            const unsigned block = rnd.below(9), fnumber = rnd.below(1024);
            e.each([&](FmVoiceEngine& x) { x.setPitch(voice, block, fnumber); });
            break;
        }
        case 2: {
            const unsigned left = rnd.below(kMaxGainIndex + 1), right = rnd.below(kMaxGainIndex + 1);
            e.each([&](FmVoiceEngine& x) { x.setGain(voice, left, right); });
            break;
        }
        case 3: {
            const auto depth = static_cast<std::uint8_t>(rnd.below(5));
            e.each([&](FmVoiceEngine& x) { x.setModulationDepth(voice, depth); });
            break;
        }
        case 4:  // also on a sounding voice: the attack restarts from its level
        case 5:
            e.each([&](FmVoiceEngine& x) { x.keyOn(voice); });
            break;
        default:
            if (rnd.chance(30)) e.each([&](FmVoiceEngine& x) { x.keyOn(voice); });  // on and off in one call
            e.each([&](FmVoiceEngine& x) { x.keyOff(voice); });
            break;
    }
}

TEST(FmVoiceLanesTest, RendersAsTheScalarKernels) {
    if (!FmVoiceLanes::available()) GTEST_SKIP() << "no AVX2 on this processor";
    for (unsigned seed = 1; seed <= 12; ++seed) {
        Random rnd(seed);
        Engines e;
        for (int call = 0; call < 400; ++call) {
            const unsigned changes = rnd.below(call < 40 ? 8 : 3);
            // Half the seeds fill all sixteen lanes with two-operator voices.
            for (unsigned c = 0; c < changes; ++c) randomChange(rnd, e, seed % 2 == 0);
            // Mostly player-sized calls; some longer than one internal block.
            const unsigned frames = rnd.chance(90) ? 1 + rnd.below(22) : 200 + rnd.below(400);
            ASSERT_TRUE(renderAlike(e, frames)) << "seed " << seed << ", call " << call;
            for (unsigned v = 0; v < kVoiceCount; ++v) {
                for (int k = 0; k < 4; ++k) {
                    const FmOperator& expected = e.scalar.voice(v).op(k);
                    for (const FmVoiceEngine* engine : {&e.narrow, &e.wide}) {
                        const FmOperator& x = engine->voice(v).op(k);
                        ASSERT_EQ(x.level, expected.level) << "seed " << seed << ", call " << call << ", voice " << v;
                        ASSERT_EQ(x.phase, expected.phase) << "seed " << seed << ", call " << call << ", voice " << v;
                        ASSERT_EQ(x.state, expected.state) << "seed " << seed << ", call " << call << ", voice " << v;
                    }
                }
            }
        }
    }
}

// Voices that leave the lanes for scalar calls (fewer than three sound) and come back must not
// resume from the state the lanes kept.
TEST(FmVoiceLanesTest, VoicesReturningFromScalarCallsResumeFromTheirOwnState) {
    if (!FmVoiceLanes::available()) GTEST_SKIP() << "no AVX2 on this processor";
    VoiceRecord v;
    v.algorithm = 0;
    v.operatorCount = 2;
    v.feedback = 5;
    for (OperatorParams& op : v.operators) {
        op.multiple = 1;
        op.attackRate = 15;
        op.sustainHold = 1;
        op.releaseRate = 15;  // silent within about 60 samples
    }
    Engines e;
    e.each([&](FmVoiceEngine& x) {
        for (unsigned i = 0; i < 3; ++i) {
            x.loadVoice(i, v);
            x.setPitch(i, 4, 400 + 100 * i);
            x.setGain(i, 0, 6);
            x.keyOn(i);
        }
    });
    EXPECT_TRUE(renderAlike(e, 22));  // three voices: lanes
    e.each([](FmVoiceEngine& x) { x.keyOff(2); });
    EXPECT_TRUE(renderAlike(e, 200));
    EXPECT_TRUE(renderAlike(e, 22));  // two sound: scalar kernels
    e.each([](FmVoiceEngine& x) { x.keyOn(2); });
    EXPECT_TRUE(renderAlike(e, 22));  // lanes again, voices 0 and 1 where they were
}

}  // namespace
}  // namespace mevo
