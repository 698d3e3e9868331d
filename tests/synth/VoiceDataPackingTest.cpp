// The packed forms of voices: operators, 30-byte voice definitions and 26-byte file voices,
// checked against bytes laid out by hand.

#include "synth/VoiceDefinition.h"
#include "synth/VoiceFileReader.h"
#include "synth/VoiceRecord.h"
#include "synth/VoiceTable.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using mevo::OperatorParams;
using mevo::PackedOperator;

// 0x5B: multiple 5, vibrato 1, hold 0, slow release 1, key scale rate 1; 0x3A: release 3,
// decay 10; 0xF4: attack 15, sustain 4; 0x8E: total level 35, key scale level 2;
// 0x6D: unused 1, tremolo depth 2, tremolo 1, waveform 5.
constexpr PackedOperator kPacked{0x5B, 0x3A, 0xF4, 0x8E, 0x6D};
constexpr OperatorParams kUnpacked{5, 1, 0, 1, 1, 3, 10, 15, 4, 35, 2, 1, 2, 1, 5};

// A second operator with every field different from the first.
constexpr PackedOperator kPacked2{0xA4, 0x7F, 0x1C, 0xFD, 0x92};
constexpr OperatorParams kUnpacked2{10, 0, 1, 0, 0, 7, 15, 1, 12, 63, 1, 2, 1, 0, 2};

TEST(PackedOperator, UnpacksEachFieldFromItsBitsAndPacksBack)
{
    EXPECT_EQ(mevo::unpackOperator(kPacked), kUnpacked);
    EXPECT_EQ(mevo::packOperator(kUnpacked), kPacked);
    EXPECT_EQ(mevo::unpackOperator(kPacked2), kUnpacked2);
    EXPECT_EQ(mevo::packOperator(kUnpacked2), kPacked2);
}

TEST(PackedOperator, PackingMasksFieldsToTheirWidths)
{
    const OperatorParams wide{0x15, 3, 2, 3, 3, 0x13, 0x1A, 0x1F, 0x14, 0x63, 7, 7, 6, 3, 0x0D};
    // Each field keeps its low bits only: 5, 1,0,1,1 | 3, 10 | 15, 4 | 35, 3 | 3, 2, 1, 5.
    EXPECT_EQ(mevo::packOperator(wide), (PackedOperator{0x5B, 0x3A, 0xF4, 0x8F, 0xED}));
}

TEST(VoiceRecord, OperatorCountFollowsTheAlgorithm)
{
    const std::array<int, 10> expected{2, 2, 0, 0, 4, 4, 4, 4, 0, 0};
    for (unsigned alg = 0; alg < expected.size(); ++alg) {
        EXPECT_EQ(mevo::operatorCountFor(alg), expected[alg]) << alg;
    }
}

// A definition: bank selector, program 0x85 (bit 7 ignored), lfo 2 / feedback 5 / algorithm,
// octave byte 0xFE (low two bits 2), four packed operators, drum key 0xC5 (7 bits: 0x45).
std::vector<std::uint8_t> definition(std::uint8_t bankByte, std::uint8_t algorithm, std::size_t size = 30)
{
    std::vector<std::uint8_t> d(size, 0xEE);
    d[1] = bankByte;
    d[2] = 0x85;
    d[3] = static_cast<std::uint8_t>(0x80 | 5 << 3 | algorithm);
    d[4] = 0xFE;
    for (std::size_t op = 0; op < 4; ++op) {
        const PackedOperator& p = op % 2 ? kPacked2 : kPacked;
        std::copy(p.begin(), p.end(), d.begin() + 5 + static_cast<std::ptrdiff_t>(op * 5));
    }
    d[25] = 0xC5;
    return std::vector<std::uint8_t>(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(size));
}

TEST(VoiceDefinition, BankSelectorNamesMelodicDrumAndUserBanks)
{
    struct Case {
        std::uint8_t selector;
        int bank; // -1 = refused
    };
    for (const Case c : {Case{0x00, 0}, Case{0x09, 9}, Case{0x85, 15}, Case{0x1E, 30}, Case{0x9D, 39},
                         Case{0x27, 39}, Case{0x28, -1}, Case{0x9E, -1}, Case{0xFF, -1}}) {
        const auto def = mevo::parseVoiceDefinition(definition(c.selector, 4));
        if (c.bank < 0) {
            EXPECT_FALSE(def.has_value()) << int(c.selector);
        } else {
            ASSERT_TRUE(def.has_value()) << int(c.selector);
            EXPECT_EQ(def->bank, c.bank) << int(c.selector);
            EXPECT_EQ(def->index, 5);
        }
    }
}

TEST(VoiceDefinition, FillsTheRecordAndKeepsUnusedOperatorsZero)
{
    const auto four = mevo::parseVoiceDefinition(definition(0x01, 6));
    ASSERT_TRUE(four.has_value());
    const mevo::VoiceRecord& v = four->voice;
    EXPECT_EQ(v.waveId, 0u);
    EXPECT_EQ(v.operatorCount, 4);
    EXPECT_EQ(v.lfoRate, 2);
    EXPECT_EQ(v.feedback, 5);
    EXPECT_EQ(v.algorithm, 6);
    EXPECT_EQ(v.octave, 2);
    EXPECT_EQ(v.drumKey, 0x45);
    EXPECT_EQ(v.operators, (std::array{kUnpacked, kUnpacked2, kUnpacked, kUnpacked2}));

    const auto two = mevo::parseVoiceDefinition(definition(0x01, 1));
    ASSERT_TRUE(two.has_value());
    EXPECT_EQ(two->voice.operatorCount, 2);
    EXPECT_EQ(two->voice.operators, (std::array{kUnpacked, kUnpacked2, OperatorParams{}, OperatorParams{}}));

    // Algorithms 2 and 3 store an entry that counts as missing.
    EXPECT_EQ(mevo::parseVoiceDefinition(definition(0x01, 3))->voice.operatorCount, 0);
}

TEST(VoiceDefinition, StoredIntoTheTableOnlyWhenWhole)
{
    mevo::VoiceTable table;
    EXPECT_FALSE(table.storeVoiceDefinition(definition(0x85, 4, 29)));
    EXPECT_EQ(*table.find(15, 5), mevo::VoiceRecord{});
    EXPECT_FALSE(table.storeVoiceDefinition(definition(0x28, 4)));

    EXPECT_TRUE(table.storeVoiceDefinition(definition(0x85, 4, 31)));
    EXPECT_EQ(*table.find(15, 5), mevo::parseVoiceDefinition(definition(0x85, 4))->voice);
    EXPECT_EQ(table.find(15, 5)->operatorCount, 4);
}

TEST(FileVoice, UnpacksItsOwnLayout)
{
    std::array<std::uint8_t, mevo::kFileVoiceSize> bytes{};
    bytes[0] = 0b11'010'1'01; // lfo 3, feedback 2, bit 2 outside the field, algorithm 1
    bytes[1] = 0x03;
    for (std::size_t op = 0; op < 4; ++op) {
        std::copy(kPacked.begin(), kPacked.end(), bytes.begin() + 2 + static_cast<std::ptrdiff_t>(op * 5));
    }
    bytes[22] = 0xC5;
    bytes[23] = bytes[24] = bytes[25] = 0xFF;
    const mevo::VoiceRecord v = mevo::unpackFileVoice(bytes);
    EXPECT_EQ(v.lfoRate, 3);
    EXPECT_EQ(v.feedback, 2);
    EXPECT_EQ(v.algorithm, 1);
    EXPECT_EQ(v.operatorCount, 2);
    EXPECT_EQ(v.octave, 3);
    EXPECT_EQ(v.drumKey, 0x45);
    EXPECT_EQ(v.waveId, 0u);
    EXPECT_EQ(v.operators, (std::array{kUnpacked, kUnpacked, OperatorParams{}, OperatorParams{}}));

    bytes[0] = 0x02;
    EXPECT_EQ(mevo::unpackFileVoice(bytes).operatorCount, 0) << "algorithm 2 counts as missing";
}

} // namespace
