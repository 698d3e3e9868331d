// Sanity of the three built-in banks as data, without rendering them.

#include "synth/VoiceTable.h"
#include "synth/banks/BuiltInBanks.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using mevo::OperatorParams;
using mevo::VoiceRecord;
using mevo::banks::Bank;

struct BankCase {
    const char* label;
    const Bank& bank;
    std::set<int> algorithms;
    int firstKey, lastKey; // the entries that must hold voices
};

std::vector<BankCase> bankCases()
{
    return {{"bank 0", mevo::banks::twoOperatorMelodic(), {0, 1}, 0, 127},
            {"bank 1", mevo::banks::fourOperatorMelodic(), {4, 5, 6, 7}, 0, 127},
            {"bank 10", mevo::banks::drumKit(), {0, 1}, 13, 91}};
}

::testing::AssertionResult operatorInRange(const OperatorParams& op)
{
    const bool ok = op.multiple <= 15 && op.vibrato <= 1 && op.sustainHold <= 1 && op.slowRelease <= 1 &&
                    op.keyScaleRate <= 1 && op.releaseRate <= 15 && op.decayRate <= 15 && op.attackRate <= 15 &&
                    op.sustainLevel <= 15 && op.totalLevel <= 63 && op.keyScaleLevel <= 3 && op.unusedBits == 0 &&
                    op.tremoloDepth <= 3 && op.tremolo <= 1 && op.waveform <= 7;
    return ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "a field out of its range";
}

// Every entry that should play is a complete voice of the bank's kind, fields within range,
// and every other entry is empty.
TEST(BuiltInBanks, EntriesAreCompleteVoicesOfTheirKind)
{
    for (const BankCase& c : bankCases()) {
        std::set<std::string> names;
        for (int i = 0; i < mevo::kVoicesPerBank; ++i) {
            const auto& [name, v] = c.bank[static_cast<std::size_t>(i)];
            SCOPED_TRACE(std::string(c.label) + " entry " + std::to_string(i) + " " + name);
            if (i < c.firstKey || i > c.lastKey) {
                EXPECT_EQ(v, VoiceRecord{});
                continue;
            }
            EXPECT_TRUE(names.insert(name).second) << "names are unique within a bank";
            EXPECT_TRUE(c.algorithms.contains(v.algorithm));
            EXPECT_EQ(v.operatorCount, mevo::operatorCountFor(v.algorithm));
            EXPECT_EQ(v.waveId, 0u);
            EXPECT_EQ(v.octave, 1) << "plays at the written pitch";
            EXPECT_LE(v.lfoRate, 3);
            EXPECT_LE(v.feedback, 7);
            for (int op = 0; op < 4; ++op) {
                const OperatorParams& p = v.operators[static_cast<std::size_t>(op)];
                EXPECT_TRUE(operatorInRange(p)) << "operator " << op + 1;
                if (op < v.operatorCount) {
                    // Attack rate 0 never leaves silence at ordinary keys.
                    EXPECT_GT(p.attackRate, 0) << "operator " << op + 1;
                } else {
                    EXPECT_EQ(p, OperatorParams{}) << "unused operator " << op + 1;
                }
            }
        }
    }
}

TEST(BuiltInBanks, DrumsCarryPitchKeysAndMelodicVoicesNone)
{
    for (int key = mevo::banks::kFirstFmDrumKey; key <= mevo::banks::kLastFmDrumKey; ++key) {
        const int pitch = mevo::banks::drumKit()[static_cast<std::size_t>(key)].voice.drumKey;
        EXPECT_GE(pitch, 24) << key;
        EXPECT_LE(pitch, 100) << key;
    }
    for (const Bank* bank : {&mevo::banks::twoOperatorMelodic(), &mevo::banks::fourOperatorMelodic()}) {
        for (const auto& entry : *bank) {
            EXPECT_EQ(entry.voice.drumKey, 0) << entry.name;
        }
    }
}

// The start-up fill: banks 0, 1 and 10 from the built-in banks, 20 and 30 copies of 0 and 10,
// every other bank empty.
TEST(BuiltInBanks, FillTheTableWithUserCopies)
{
    mevo::VoiceTable table;
    table.loadBuiltInBanks();
    for (int bank = 0; bank < mevo::kBankCount; ++bank) {
        const Bank* source = bank == 0 || bank == 20   ? &mevo::banks::twoOperatorMelodic()
                             : bank == 1               ? &mevo::banks::fourOperatorMelodic()
                             : bank == 10 || bank == 30 ? &mevo::banks::drumKit()
                                                       : nullptr;
        for (int i = 0; i < mevo::kVoicesPerBank; ++i) {
            const VoiceRecord expected = source ? (*source)[static_cast<std::size_t>(i)].voice : VoiceRecord{};
            ASSERT_EQ(*table.find(bank, i), expected) << "bank " << bank << " entry " << i;
        }
    }
}

} // namespace
