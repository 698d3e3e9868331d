// Channels, allocation, engine commands and the wave voice, on hand-worked cases.
#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <vector>

#include "synth/AdpcmDecoder.h"
#include "synth/SevenBitPacking.h"
#include "synth/SynthEngine.h"

namespace mevo {
namespace {

class SynthEngineTest : public ::testing::Test {
protected:
    void SetUp() override { engine.startRealtime(); }

    void send(std::initializer_list<uint8_t> bytes) {
        const std::vector<uint8_t> message(bytes);
        engine.dispatch(message.data(), message.size());
    }
    void noteOn(unsigned ch, uint8_t key) { send({uint8_t(0x90 | ch), key, 100}); }
    void noteOff(unsigned ch, uint8_t key) { send({uint8_t(0x80 | ch), key, 0}); }
    std::vector<int16_t> render(uint32_t frames) {
        std::vector<int16_t> out(frames * 2);
        engine.render(out.data(), frames);
        return out;
    }
    int busySlots() const {
        int n = 0;
        for (unsigned i = 0; i < kVoiceCount; ++i) n += engine.slot(i).busy != 0;
        return n;
    }

    SynthEngine engine;
};

TEST(Adpcm, ZeroByteFromResetGives15And30) {
    const uint8_t bytes[] = {0x00};
    const auto samples = AdpcmDecoder::decodeAll(bytes);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0], 15);
    EXPECT_EQ(samples[1], 30);
}

TEST(Adpcm, CodesMoveStepAndPredictor) {
    struct Case {
        uint8_t code;
        int predictor;
        int step;
    };
    // From reset (0, 127): d = 127/8 + 127 + 63 + 31 = 236, step 127 * 39296 / 16384 = 304;
    // code 8 negates 127/8 = 15; code 4: 15 + 127 = 142, step 127 * 19648 / 16384 = 152.
    const Case cases[] = {{0x7, 236, 304}, {0x8, -15, 127}, {0x4, 142, 152}};
    for (const Case& c : cases) {
        AdpcmDecoder d;
        d.decode(c.code);
        EXPECT_EQ(d.predictor(), c.predictor) << int(c.code);
        EXPECT_EQ(d.step(), c.step) << int(c.code);
    }
}

TEST(SevenBitPacking, GroupsCarryTopBitsFirstByteFirst) {
    // 00 80 11 00 00 00 00 pack as 0x20 (bit 5 for the second byte) and the low bits; a second
    // group of two bytes carries 0xFF as 0x40 0x7F.
    const uint8_t packed[] = {0x20, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x40, 0x7F};
    EXPECT_EQ(unpackSevenBit(packed), (std::vector<uint8_t>{0x00, 0x80, 0x11, 0, 0, 0, 0, 0xFF}));
    EXPECT_EQ(unpackSevenBit(packed, 2), (std::vector<uint8_t>{0x00, 0x80}));
}

TEST_F(SynthEngineTest, SeventeenthNoteStealsTheOldestSlot) {
    for (uint8_t k = 0; k < 16; ++k) noteOn(0, uint8_t(60 + k));
    EXPECT_EQ(busySlots(), 16);
    EXPECT_EQ(engine.operatorsInUse(), 32);
    EXPECT_EQ(engine.slot(0).key, 60);
    EXPECT_EQ(engine.slot(0).stamp, 1u);

    noteOn(0, 90);
    // Note-on 17, then the steal's note-off 18: slot 0 (stamp 1) is taken for key 90.
    EXPECT_EQ(engine.eventCounter(), 18u);
    EXPECT_EQ(engine.slot(0).key, 90);
    EXPECT_EQ(engine.slot(0).stamp, 18u);
    EXPECT_EQ(engine.operatorsInUse(), 32);
    EXPECT_EQ(engine.previousOperatorsInUse(), 30);
    const auto& notes = engine.channel(0).notes;
    EXPECT_EQ(notes.size(), 16u);
    for (const NoteNode& n : notes) EXPECT_NE(n.key, 60);
    EXPECT_EQ(engine.channel(0).soundingNotes, 16);

    // The stolen note is gone: its note-off changes nothing but the counter.
    noteOff(0, 60);
    EXPECT_EQ(busySlots(), 16);
    EXPECT_EQ(engine.eventCounter(), 19u);
}

TEST_F(SynthEngineTest, FourOperatorVoiceRefusedWhenBothBudgetsAreShort) {
    send({0xB1, 0, 122});
    send({0xB1, 32, 1});  // bank 1: four-operator voices
    send({0xC1, 0});
    ASSERT_EQ(engine.channel(1).programOperators, 4);

    for (uint8_t k = 0; k < 16; ++k) noteOn(0, uint8_t(40 + k));
    noteOff(0, 40);
    noteOff(0, 41);
    ASSERT_EQ(engine.operatorsInUse(), 28);
    ASSERT_EQ(engine.previousOperatorsInUse(), 30);
    noteOn(1, 60);
    EXPECT_TRUE(engine.channel(1).notes.empty());
    EXPECT_EQ(busySlots(), 14);

    // With 28 in use but 26 before the last allocation, it plays.
    SynthEngine fresh;
    fresh.startRealtime();
    for (const auto& m : {std::vector<uint8_t>{0xB1, 0, 122}, {0xB1, 32, 1}, {0xC1, 0}})
        fresh.dispatch(m.data(), m.size());
    for (uint8_t k = 0; k < 14; ++k) {
        const uint8_t on[] = {0x90, uint8_t(40 + k), 100};
        fresh.dispatch(on, 3);
    }
    ASSERT_EQ(fresh.previousOperatorsInUse(), 26);
    const uint8_t on[] = {0x91, 60, 100};
    fresh.dispatch(on, 3);
    EXPECT_EQ(fresh.channel(1).notes.size(), 1u);
    EXPECT_EQ(fresh.operatorsInUse(), 32);
}

TEST_F(SynthEngineTest, MonoLegatoOverThreeKeysReleasesAtTheThirdNoteOff) {
    send({0xB0, 55, 1});
    send({0xC0, 0});
    noteOn(0, 60);
    noteOn(0, 64);
    noteOn(0, 67);
    render(4);
    ASSERT_EQ(engine.channel(0).notes.size(), 1u);
    EXPECT_EQ(engine.channel(0).notes.back().holdCount, 3);
    EXPECT_EQ(busySlots(), 1);
    const uint8_t slot = engine.channel(0).notes.back().slot;
    EXPECT_EQ(engine.slot(slot).key, 67);
    // Key 67: 391.995 Hz * 21.098109 = 8270 -> 516 at block 4.
    EXPECT_EQ(engine.fm().voice(slot).fnumber(), 516);

    noteOff(0, 10);  // the keys named do not matter
    noteOff(0, 11);
    EXPECT_EQ(busySlots(), 1);
    noteOff(0, 12);
    EXPECT_EQ(busySlots(), 0);
    EXPECT_TRUE(engine.channel(0).notes.empty());
    EXPECT_EQ(engine.operatorsInUse(), 0);
    render(1);
    EXPECT_EQ(engine.fm().voice(slot).op(0).state, EnvelopeState::Release);
}

TEST_F(SynthEngineTest, BankResolution) {
    struct Case {
        unsigned ch;
        uint8_t msb, lsb, program;
        int bank;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0},    {9, 0, 0, 0, 10},    {0, 122, 3, 0, 3}, {0, 122, 10, 0, 0},
        {0, 123, 0, 5, 15}, {0, 123, 0, 20, 10}, {0, 123, 1, 5, 0}, {0, 124, 19, 0, 39},
        {0, 124, 20, 0, 0}, {0, 124, 0, 0, 20},  {0, 121, 0, 0, 0},
    };
    for (const Case& c : cases) {
        send({uint8_t(0xB0 | c.ch), 0, c.msb});
        send({uint8_t(0xB0 | c.ch), 32, c.lsb});
        send({uint8_t(0xC0 | c.ch), c.program});
        EXPECT_EQ(engine.channel(c.ch).bank, c.bank)
            << int(c.msb) << "/" << int(c.lsb) << " program " << int(c.program);
    }
}

TEST_F(SynthEngineTest, WaveDownloadOverThreeMessagesRegistersAfterTheLast) {
    // ADPCM 00 80 11 packed as 20 00 00 11, split 20 00 | 00 | 11; explicit id 5, 8000 Hz.
    send({0xF0, 0x43, 0x79, 0x05, 0x7F, 0x05, 5, 1, 0, 0x41, 0x20, 0x00, 0xF7});
    send({0xF0, 0x43, 0x79, 0x05, 0x7F, 0x05, 5, 1, 0, 0x41, 0x00, 0xF7});
    EXPECT_EQ(engine.waves().sample(5), nullptr);
    send({0xF0, 0x43, 0x79, 0x05, 0x7F, 0x05, 5, 1, 0, 0x01, 0x11, 0xF7});
    const WaveSample* s = engine.waves().sample(5);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->rate, 8000u);
    // 00 -> 15, 30; 80 -> 45, 30; 11 -> 30 + 15 + 31 = 76, 122.
    EXPECT_EQ(s->samples, (std::vector<int16_t>{15, 30, 45, 30, 76, 122}));
}

TEST_F(SynthEngineTest, WaveDownloadWithoutIdIsKeptInTheDrumVoice) {
    send({0xF0, 0x43, 0x79, 0x05, 0x7F, 0x05, 35, 0, 2, 0x00, 0x00, 0x00, 0xF7});
    EXPECT_EQ(engine.voices().find(12, 35)->waveId, 63u);
    ASSERT_NE(engine.waves().sample(63), nullptr);
    EXPECT_EQ(engine.waves().sample(63)->rate, 4000u);
    // Command 6 by drum key deletes it and forgets the id.
    send({0xF0, 0x43, 0x79, 0x05, 0x7F, 0x06, 35, 0, 2, 0xF7});
    EXPECT_EQ(engine.waves().sample(63), nullptr);
    EXPECT_EQ(engine.voices().find(12, 35)->waveId, 0u);
}

TEST_F(SynthEngineTest, WaveDrumPlaysAndEndsWithItsSample) {
    std::vector<uint8_t> adpcm(100, 0x77);
    ASSERT_EQ(engine.waves().registerWave(0, adpcm, 22050), 63u);
    engine.voices().find(10, 10)->waveId = 63;
    send({0x99, 10, 127});  // keys 0..12 are wave drums
    auto out = render(50);
    EXPECT_FALSE(engine.waves().idle());
    EXPECT_NE(out[20], 0);
    EXPECT_EQ(out[20], out[21]);  // both sides
    out = render(200);            // 200 samples at the output rate: the end
    EXPECT_TRUE(engine.waves().idle());
    EXPECT_EQ(out[399], 0);
}

TEST_F(SynthEngineTest, GainFollowsVolumeExpressionVelocityAndPan) {
    // After the real-time start master attenuation is 0 and volume 100 (8 half-dB steps).
    const Attenuation a = engine.attenuation(64, 100, 127, 127);
    EXPECT_EQ(a.left, 14u);
    EXPECT_EQ(a.right, 14u);
    const Attenuation hard = engine.attenuation(0, 127, 64, 1);
    EXPECT_EQ(hard.left, 0u + 24 + 168);
    EXPECT_EQ(hard.right, 192u);
    send({0xF0, 0x43, 0x79, 0x05, 0x7F, 0x04, 0x00, 0xF7});  // mono output: pan average
    const Attenuation mono = engine.attenuation(0, 127, 127, 127);
    EXPECT_EQ(mono.left, 96u);
    EXPECT_EQ(mono.right, 96u);
    send({0xF0, 0x43, 0x79, 0x05, 0x7F, 0x0A, 0x30, 0xF7});  // master attenuation -16
    EXPECT_EQ(engine.masterAttenuation(), -16);
    EXPECT_EQ(engine.attenuation(64, 127, 127, 127).left, 16u + 6);
}

TEST_F(SynthEngineTest, PitchOfA440) {
    const FmPitch p = pitchFor(69, 0, 2);
    EXPECT_EQ(p.block, 4u);
    EXPECT_EQ(p.fnumber, 580u);
    // Bend down by the full range of 2 semitones: key 67.
    EXPECT_EQ(pitchFor(69, -32768, 2).fnumber, 516u);
    EXPECT_EQ(pitchFor(127, 32764, 12).block, 8u);
    EXPECT_EQ(pitchFor(127, 32764, 12).fnumber, 0x3FFu);
}

TEST_F(SynthEngineTest, ShortAndMalformedMessagesAreIgnored) {
    const std::vector<std::vector<uint8_t>> messages = {
        {},
        {0x90},
        {0x90, 60},
        {0xC0},
        {0x3C, 60, 100},
        {0xF0},
        {0xF0, 0x43, 0x79, 0x05, 0x7F},
        {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x01, 0x00},        // voice definition cut short
        {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x03, 0x00, 0xF7},  // register control cut short
        {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x0C, 0x00, 0xF7},  // no command 12
        {0xF0, 0x43, 0x79, 0x05, 0x10, 0x0A, 0x00, 0xF7},  // another device
        {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x00},        // master volume cut short
    };
    for (const auto& m : messages) engine.dispatch(m.data(), m.size());
    EXPECT_EQ(busySlots(), 0);
    EXPECT_EQ(engine.eventCounter(), 0u);
    EXPECT_EQ(engine.masterAttenuation(), 0);
    EXPECT_EQ(engine.channel(0).program, 0);
}

TEST_F(SynthEngineTest, UniversalMessages) {
    send({0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 64, 0xF7});
    EXPECT_EQ(engine.masterAttenuation(), -24);
    noteOn(0, 60);
    send({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    EXPECT_EQ(busySlots(), 0);
    EXPECT_EQ(engine.masterAttenuation(), 0);
    EXPECT_EQ(engine.eventCounter(), 0u);
}

TEST_F(SynthEngineTest, RandomMessagesNeverReadPastTheirLengthNorBreakTheMix) {
    std::mt19937 random(7);
    std::vector<int16_t> out(2 * 300);
    for (int i = 0; i < 20000; ++i) {
        const size_t length = random() % 12;
        // Exactly `length` bytes on the heap, so a read past them is caught by the sanitizer.
        auto message = std::make_unique<uint8_t[]>(length);
        for (size_t b = 0; b < length; ++b) message[b] = uint8_t(random());
        if (length > 0 && random() % 2) message[0] = uint8_t(0x80 | (random() & 0x7F));
        if (length > 5 && random() % 4 == 0) {
            const uint8_t header[] = {0xF0, 0x43, 0x79, 0x05, 0x7F, uint8_t(random() % 12)};
            std::copy(std::begin(header), std::end(header), message.get());
        }
        engine.dispatch(message.get(), length);
        if (i % 50 == 0) engine.render(out.data(), uint32_t(random() % 300));
        ASSERT_LE(engine.operatorsInUse(), 64);  // never wraps
    }
    for (int16_t s : out) ASSERT_GE(s, -32767);
}

}  // namespace
}  // namespace mevo
