// The built-in banks as heard: rendered through the engine note by note, as the preview plays
// them (22-frame render calls), and measured from the sound.

#include "BankMeasure.h"
#include "synth/banks/BuiltInBanks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace bankmeasure;

constexpr std::uint32_t kHeld = 13230; // 0.6 s
constexpr std::uint32_t kTail = 4410;  // 0.2 s after the note-off
constexpr double kAudibleDb = -40;     // loudest 46 ms window, dB of full scale
constexpr double kMaxCents = 10;
constexpr double kMaxSpreadDb = 12;
constexpr int kLastPitchedProgram = 111; // 112..127 are percussive and sound effects

struct Voice {
    std::string label;
    unsigned channel, bank, index, key;
};

std::vector<Voice> bankVoices(unsigned bank)
{
    std::vector<Voice> voices;
    if (bank == 10) {
        for (int key = mevo::banks::kFirstFmDrumKey; key <= mevo::banks::kLastFmDrumKey; ++key) {
            voices.push_back({std::string("drum key ") + std::to_string(key) + " " +
                                  mevo::banks::drumKit()[static_cast<std::size_t>(key)].name,
                              9, 10, 0, static_cast<unsigned>(key)});
        }
        return voices;
    }
    const auto& names = bank == 0 ? mevo::banks::twoOperatorMelodic() : mevo::banks::fourOperatorMelodic();
    for (unsigned p = 0; p < 128; ++p) {
        voices.push_back({"bank " + std::to_string(bank) + " program " + std::to_string(p) + " " + names[p].name, 0,
                          bank, p, 60});
    }
    return voices;
}

std::vector<double> loudness(const std::vector<Voice>& voices)
{
    std::vector<double> db;
    for (const Voice& v : voices) {
        db.push_back(peakRmsDb(renderNote(v.channel, v.bank, v.index, v.key, kHeld, kTail)));
    }
    return db;
}

class BankRender : public ::testing::TestWithParam<unsigned> {};

TEST_P(BankRender, EveryVoiceIsAudibleAndNearTheBankMedian)
{
    const auto voices = bankVoices(GetParam());
    const auto db = loudness(voices);
    auto sorted = db;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    for (std::size_t i = 0; i < voices.size(); ++i) {
        EXPECT_GT(db[i], kAudibleDb) << voices[i].label;
        EXPECT_NEAR(db[i], median, kMaxSpreadDb) << voices[i].label;
    }
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, BankRender, ::testing::Values(0u, 1u, 10u),
                         [](const auto& info) { return "Bank" + std::to_string(info.param); });

// The fundamental is measured while the key is held, from 50 ms after the note-on, over low,
// middle and high keys: feedback and waveforms with a DC part can pull an FM voice off pitch.
TEST(BankRenderPitch, PitchedMelodicVoicesSoundThePlayedKey)
{
    for (unsigned bank : {0u, 1u}) {
        for (const Voice& v : bankVoices(bank)) {
            if (v.index > kLastPitchedProgram) {
                continue;
            }
            for (unsigned key : {36u, 60u, 84u}) {
                const auto sound = renderNote(v.channel, v.bank, v.index, key, kHeld, 0);
                const auto hz = fundamentalHz(std::span(sound).subspan(1102, 8820), 30, 3000);
                ASSERT_TRUE(hz.has_value()) << v.label << " key " << key << " has no period";
                EXPECT_NEAR(cents(*hz, keyHz(key)), 0, kMaxCents) << v.label << " key " << key;
            }
        }
    }
}

} // namespace
