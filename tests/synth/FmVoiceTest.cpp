// FM voices against values worked out by hand from the tables and rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "synth/FmVoiceEngine.h"

namespace mevo {
namespace {

// A carrier-only voice: algorithm 1 (op1 + op2) with op2 silent, multiple 1, no octave shift.
VoiceRecord sineVoice(uint8_t attackRate, uint8_t releaseRate) {
    VoiceRecord v;
    v.algorithm = 1;
    v.operatorCount = 2;
    v.octave = 1;  // shift 0
    OperatorParams& op = v.operators[0];
    op.multiple = 1;
    op.attackRate = attackRate;
    op.decayRate = 0;
    op.releaseRate = releaseRate;
    op.sustainHold = 1;
    v.operators[1].totalLevel = 63;
    return v;
}

class FmVoiceTest : public ::testing::Test {
protected:
    std::vector<int16_t> render(uint32_t frames) {
        std::vector<int16_t> out(frames * 2, 12345);
        engine.render(out.data(), frames);
        return out;
    }
    FmVoiceEngine engine;
};

TEST_F(FmVoiceTest, PhaseStepOfFnumber580Block4Multiple1) {
    engine.loadVoice(0, sineVoice(15, 7));
    engine.setPitch(0, 4, 580);
    engine.setGain(0, 0, 0);
    engine.keyOn(0);
    render(1);
    const FmVoice& v = engine.voice(0);
    // (580 << 4) * 9232 = 85,672,960 per sample: 85672960 * 22050 / 2^32 = 439.8 Hz.
    EXPECT_EQ(v.basePhaseStep(), 85672960u);
    EXPECT_EQ(v.op(0).phaseStep, 85672960u);
    // The attack starts at phase 0; one sample later the phase moved by one step.
    EXPECT_EQ(v.op(0).phase, 85672960u);
    EXPECT_EQ(v.keyCode(), 4 * 2 + (580 >> 9));
}

TEST_F(FmVoiceTest, AttackRate15ReachesFullLevelInOneSample) {
    engine.loadVoice(0, sineVoice(15, 7));
    engine.setPitch(0, 4, 580);
    engine.keyOn(0);
    render(1);
    // Index 15 * 4 + (key code 9 >> 2) = 62: a step of 2^31.
    EXPECT_EQ(engine.voice(0).op(0).level, kFullLevel);
    EXPECT_EQ(engine.voice(0).op(0).state, EnvelopeState::Decay);
}

TEST_F(FmVoiceTest, AttackRate0NeverSounds) {
    engine.loadVoice(0, sineVoice(0, 7));
    engine.setPitch(0, 0, 100);  // key code 0: attack index 0, step 0
    engine.setGain(0, 0, 0);
    engine.keyOn(0);
    const auto out = render(64);
    EXPECT_EQ(engine.voice(0).op(0).level, 0u);
    for (int16_t s : out) ASSERT_EQ(s, 0);
}

TEST_F(FmVoiceTest, KeyOnAndKeyOffInOneCallGiveOneAttackStepThenRelease) {
    engine.loadVoice(0, sineVoice(15, 15));
    engine.setPitch(0, 4, 580);
    engine.keyOn(0);
    engine.keyOff(0);
    render(1);
    // One attack step to full level, then release.
    EXPECT_EQ(engine.voice(0).op(0).level, kFullLevel);
    EXPECT_EQ(engine.voice(0).op(0).state, EnvelopeState::Release);
    render(1);
    // Release index 15 * 4 + 2 = 62: factor 881447189 / 2^30, so 2^31 becomes 2 * 881447189.
    EXPECT_EQ(engine.voice(0).op(0).level, 1762894378u);
}

TEST(FmVoiceDormancy, SilentVoiceTakesTheEnvelopeStepsItMissedAtItsNextKeyOn) {
    // The silent frames in calls of 22 frames, or in one call of several blocks.
    for (const uint32_t callFrames : {22u, 880u}) {
        FmVoiceEngine engine;
        std::vector<int16_t> out(2 * 2000);
        VoiceRecord voice = sineVoice(5, 5);
        voice.lfoRate = 5;
        engine.loadVoice(0, voice);
        engine.setPitch(0, 4, 580);
        engine.keyOn(0);
        engine.render(out.data(), 2000);
        engine.keyOff(0);
        uint32_t frames = 2000 + 880 + 1;
        for (; engine.voice(0).op(0).level >= 65536 && frames < 1000000; ++frames) engine.render(out.data(), 1);
        // Inaudible from here: the voice is passed over, but its release goes on.
        FmOperator released = engine.voice(0).op(0);
        ASSERT_EQ(released.state, EnvelopeState::Release);
        for (uint32_t done = 0; done < 880; done += callFrames) engine.render(out.data(), callFrames);
        for (int f = 0; f < 880; ++f) released.stepEnvelope();
        ASSERT_LT(released.level, engine.voice(0).op(0).level);  // the steps are still to be taken

        engine.keyOn(0);
        engine.render(out.data(), 1);
        // One attack step from where the release got to.
        const uint32_t step = engine.voice(0).op(0).attackStep;
        EXPECT_EQ(engine.voice(0).op(0).level, std::min(released.level, kFullLevel - step) + step)
            << callFrames << " frames a call";
        EXPECT_EQ(engine.voice(0).lfoPhase(), frames * kLfoRate[5]);  // the LFO ran on throughout
    }
}

TEST_F(FmVoiceTest, GainIndex192SilencesAtOnceAndLargerIndicesActAs192) {
    engine.loadVoice(0, sineVoice(15, 7));
    engine.setPitch(0, 4, 580);
    engine.setGain(0, 0, 0);
    engine.keyOn(0);
    auto out = render(64);
    bool sounded = false;
    for (int16_t s : out) sounded |= s != 0;
    EXPECT_TRUE(sounded);

    engine.setGain(0, 192, 500);
    EXPECT_EQ(engine.voice(0).leftGain(), 0);
    EXPECT_EQ(engine.voice(0).rightGain(), 0);
    out = render(64);
    for (int16_t s : out) ASSERT_EQ(s, 0);
    EXPECT_GT(engine.voice(0).op(0).level, 0u);  // still sounding, only muted
}

TEST_F(FmVoiceTest, FullLevelSineSample) {
    engine.loadVoice(0, sineVoice(15, 7));
    engine.setPitch(0, 4, 580);
    engine.setGain(0, 0, 12);  // right side 6 dB down: Q15 16423
    engine.keyOn(0);
    const auto out = render(2);
    // Sample 0 reads index 0 (sine 0). Sample 1 reads index 85672960 >> 20 = 81:
    // a = 32512 * 32768 >> 15 = 32512; sin table entry 81 = round(32768 sin(2 pi 81 / 4096)) = 4061;
    // 4061 * 32512 >> 15 = 4029; left 32768 * 4029 >> 15 = 4029, right 16423 * 4029 >> 15 = 2019.
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 4029);
    EXPECT_EQ(out[3], 2019);
}

TEST_F(FmVoiceTest, UnrenderedAlgorithmsAndClearedVoicesStaySilent) {
    VoiceRecord v = sineVoice(15, 7);
    v.algorithm = 2;
    engine.loadVoice(0, v);
    engine.setPitch(0, 4, 580);
    engine.setGain(0, 0, 0);
    engine.keyOn(0);
    auto out = render(32);
    EXPECT_FALSE(engine.voice(0).rendered());
    for (int16_t s : out) ASSERT_EQ(s, 0);

    engine.loadVoice(1, sineVoice(15, 7));
    engine.setPitch(1, 4, 580);
    engine.setGain(1, 0, 0);
    engine.keyOn(1);
    render(8);
    engine.clearAll();
    out = render(32);
    for (int16_t s : out) ASSERT_EQ(s, 0);
}

TEST_F(FmVoiceTest, FourOperatorChainSounds) {
    VoiceRecord v = sineVoice(15, 7);
    v.algorithm = 4;
    v.operatorCount = 4;
    for (auto& op : v.operators) {
        op.multiple = 1;
        op.attackRate = 15;
        op.sustainHold = 1;
        op.totalLevel = 0;
    }
    engine.loadVoice(3, v);
    engine.setPitch(3, 4, 580);
    engine.setGain(3, 0, 0);
    engine.keyOn(3);
    const auto out = render(256);
    int peak = 0;
    for (int16_t s : out) peak = std::max(peak, std::abs(int(s)));
    EXPECT_GT(peak, 10000);
    EXPECT_LE(peak, 32767);
}

// Sixteen identical voices sum to sixteen times one voice's sample, clamped to -32767..32767.
TEST_F(FmVoiceTest, MixClampsToPlusMinus32767) {
    FmVoiceEngine single;
    for (FmVoiceEngine* e : {&engine, &single}) {
        for (unsigned i = 0; i < (e == &single ? 1u : 16u); ++i) {
            e->loadVoice(i, sineVoice(15, 7));
            e->setPitch(i, 4, 580);
            e->setGain(i, 0, 12);
            e->keyOn(i);
        }
    }
    constexpr uint32_t kFrames = 303;  // not a multiple of 4
    std::vector<int16_t> one(kFrames * 2);
    single.render(one.data(), kFrames);
    const auto all = render(kFrames);
    int clippedHigh = 0, clippedLow = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(all[i], std::clamp(16 * one[i], -32767, 32767)) << "sample " << i;
        clippedHigh += all[i] == 32767;
        clippedLow += all[i] == -32767;
    }
    EXPECT_GT(clippedHigh, 0);
    EXPECT_GT(clippedLow, 0);
}

// Skipping an inaudible operator takes runs of envelope steps at once; it must land on the level
// and state that stepping one sample at a time gives, across rates, levels and the decay's
// sustain threshold.
TEST(FmOperatorSkip, RunsOfStepsMatchSingleSteps) {
    struct Case {
        EnvelopeState state;
        int rate;  // decay factor table index
        uint32_t level;
        uint32_t sustainThreshold;
        uint32_t frames;
    };
    const Case cases[] = {
        {EnvelopeState::Release, 16, 65535, 0, 4000},    // slow: one off per step below ~8000
        {EnvelopeState::Release, 40, 65535, 0, 4000},    // fast: many off per step, then to 0
        {EnvelopeState::Release, 63, 30000, 0, 300},     // the fastest rate
        {EnvelopeState::Sustain, 28, 50000, 0, 100000},  // runs out before the frames do
        {EnvelopeState::Sustain, 3, 40000, 0, 500},      // factor 2^30: the level holds
        {EnvelopeState::Decay, 36, 65000, 20000, 3000},  // crosses the threshold, then sustains
        {EnvelopeState::Decay, 20, 9000, 8999, 50},      // threshold one below the level
        {EnvelopeState::Decay, 2, 60000, 48076, 50},     // holding decay above the threshold
        {EnvelopeState::Decay, 50, 1000, 5000, 50},      // already at or below the threshold
    };
    for (const Case& c : cases) {
        for (uint32_t frames : {1u, 7u, 22u, c.frames}) {
            FmOperator stepped;
            stepped.state = c.state;
            stepped.level = c.level;
            stepped.decayFactor = kDecayFactor[c.rate];
            stepped.sustainFactor = kDecayFactor[std::max(c.rate - 8, 0)];
            stepped.releaseFactor = kDecayFactor[c.rate];
            stepped.sustainThreshold = c.sustainThreshold;
            stepped.phaseStep = 1234567;
            stepped.syncEnvelope();
            FmOperator skipped = stepped;
            skipped.skipInaudible(frames);
            for (uint32_t f = 0; f < frames; ++f) {
                stepped.stepEnvelope();
                stepped.phase += stepped.phaseStep;
            }
            EXPECT_EQ(skipped.level, stepped.level) << int(c.state) << " rate " << c.rate << " frames " << frames;
            EXPECT_EQ(skipped.state, stepped.state) << int(c.state) << " rate " << c.rate << " frames " << frames;
            EXPECT_EQ(skipped.phase, stepped.phase);
        }
    }
}

// Long skips end a fade at once when it certainly reaches 0 in time: around the step at which it
// does, the result must still be the one of single steps.
TEST(FmOperatorSkip, FadesEndOffExactlyWhenTheyRunOut) {
    for (const int rate : {4, 12, 20, 28, 36, 44, 52}) {
        FmOperator start;
        start.state = EnvelopeState::Release;
        start.level = 65535;
        start.releaseFactor = kDecayFactor[rate];
        start.syncEnvelope();
        FmOperator stepped = start;
        uint32_t steps = 0;
        while (stepped.state != EnvelopeState::Off && steps < (1u << 20)) {
            stepped.stepEnvelope();
            ++steps;
        }
        ASSERT_EQ(stepped.state, EnvelopeState::Off) << "rate " << rate;
        EXPECT_TRUE(start.fadesOutWithin(2 * steps + 100)) << "rate " << rate;
        EXPECT_FALSE(start.fadesOutWithin(steps)) << "rate " << rate;
        for (const uint32_t frames : {steps - 1, steps, steps + 1, 2 * steps + 100, 1u << 17}) {
            FmOperator skipped = start;
            skipped.skipInaudible(frames);
            FmOperator single = start;
            for (uint32_t f = 0; f < frames; ++f) single.stepEnvelope();
            EXPECT_EQ(skipped.level, single.level) << "rate " << rate << " frames " << frames;
            EXPECT_EQ(skipped.state, single.state) << "rate " << rate << " frames " << frames;
        }
    }
}

}  // namespace
}  // namespace mevo
