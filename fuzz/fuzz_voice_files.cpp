// The voice file, wave bank and voice definition readers on any bytes, then notes on every bank
// the readers may have filled, so that whatever they stored is also played.
// Input: a mode byte (0 voice file, 1 wave bank, 2 voice definition), then the image. A voice
// file image is zero-padded or cut to the one size the reader accepts.
#include <cstdint>
#include <vector>

#include "synth/SynthEngine.h"
#include "synth/VoiceFileReader.h"
#include "synth/WaveBankReader.h"

namespace {

// Bank select values (MSB, LSB) reaching the melodic, drum and user banks.
struct BankSelect {
    std::uint8_t msb, lsb;
};
constexpr BankSelect kBanks[] = {{122, 0}, {122, 5}, {122, 9}, {123, 0}, {124, 0}, {124, 12}};

void PlayEveryBank(mevo::SynthEngine& engine, std::uint8_t program) {
    std::vector<std::int16_t> out(2 * 128);
    std::uint8_t channel = 0;
    for (const BankSelect& bank : kBanks) {
        const std::uint8_t cc = std::uint8_t(0xB0 | channel);
        const std::uint8_t messages[][3] = {{cc, 0, bank.msb},
                                            {cc, 32, bank.lsb},
                                            {std::uint8_t(0xC0 | channel), program, 0},
                                            {std::uint8_t(0x90 | channel), 60, 100}};
        engine.dispatch(messages[0], 3);
        engine.dispatch(messages[1], 3);
        engine.dispatch(messages[2], 2);
        engine.dispatch(messages[3], 3);
        ++channel;
    }
    // Drum keys on the drum channel, FM and wave keys alike.
    for (std::uint8_t key = 0; key < 128; key += 7) {
        const std::uint8_t on[] = {0x99, key, 127};
        engine.dispatch(on, 3);
    }
    engine.render(out.data(), 128);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::span<const std::uint8_t> image(data + 1, size - 1);
    mevo::SynthEngine engine;
    switch (data[0] % 3) {
        case 0: {
            std::vector<std::uint8_t> padded(mevo::kVoiceFileSize, 0);
            std::copy_n(image.begin(), std::min(image.size(), padded.size()), padded.begin());
            mevo::readVoiceFile(padded, engine.voices());
            break;
        }
        case 1:
            mevo::readWaveBank(image, engine.voices(), engine.waves());
            break;
        case 2:
            engine.voices().storeVoiceDefinition(image);
            break;
    }
    PlayEveryBank(engine, data[0] / 3 % 128);
    return 0;
}
