// Writes the generated seeds of the synthesizer targets: message sequences, scores and voice
// files, each into <out>/<target>/. Usage: fuzz_seed_maker <out>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/SynthFuzzInput.h"
#include "synth/ScoreWriter.h"
#include "synth/VoiceFileReader.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using fuzzinput::Op;

namespace {

void Write(const fs::path& folder, const std::string& name, const Bytes& bytes) {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Steps in the layout of SynthFuzzInput.h.
class Steps {
public:
    Steps& message(const Bytes& m) { return add(Op::kMessage, 0, m); }
    Steps& render(std::uint8_t sixteenths) { return add(Op::kRender, sixteenths, {}); }
    Steps& start() { return add(Op::kStartStop, 0, {}); }
    Steps& wave(std::uint8_t slot, const Bytes& adpcm) { return add(Op::kWave, std::uint8_t(slot << 1), adpcm); }
    const Bytes& bytes() const { return bytes_; }

private:
    Steps& add(Op op, std::uint8_t argument, const Bytes& data) {
        bytes_.push_back(std::uint8_t(std::uint8_t(op) | (argument << 2)));
        bytes_.push_back(std::uint8_t(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    Bytes bytes_;
};

Bytes EngineCommand(std::uint8_t command, const Bytes& data) {
    Bytes m{0xF0, 0x43, 0x79, 0x05, 0x7F, command};
    m.insert(m.end(), data.begin(), data.end());
    m.push_back(0xF7);
    return m;
}

void SynthSeeds(const fs::path& folder) {
    Steps notes;
    notes.start();
    for (std::uint8_t ch = 0; ch < 16; ++ch)
        notes.message({std::uint8_t(0xC0 | ch), std::uint8_t(ch * 8)}).message({std::uint8_t(0x90 | ch), 60, 100});
    notes.render(20).message({0xE0, 0x00, 0x7F}).message({0xB0, 7, 40}).message({0xB0, 10, 0}).render(20);
    notes.message({0x80, 60, 0}).message({0xB0, 123, 0}).render(10);
    Write(folder, "notes", notes.bytes());

    Steps banks;
    banks.start();
    for (const Bytes& select : {Bytes{122, 3}, Bytes{123, 0}, Bytes{124, 2}})
        banks.message({0xB1, 0, select[0]}).message({0xB1, 32, select[1]}).message({0xC1, 5}).message({0x91, 40, 90});
    banks.message({0x99, 36, 127}).message({0x99, 20, 127}).message({0x99, 100, 127}).render(40);
    Write(folder, "banks", banks.bytes());

    Steps commands;
    commands.start();
    for (std::uint8_t command = 0; command <= 11; ++command)
        commands.message(EngineCommand(command, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})).render(2);
    commands.message({0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x50, 0xF7}).message({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    commands.message({0xFF});
    Write(folder, "commands", commands.bytes());

    Steps waves;
    Bytes adpcm(64);
    for (std::size_t i = 0; i < adpcm.size(); ++i) adpcm[i] = std::uint8_t(i * 37);
    waves.start().wave(0, adpcm).wave(5, adpcm).message({0x99, 20, 127}).render(30);
    Write(folder, "waves", waves.bytes());
}

Bytes WithFlags(std::uint8_t flags, std::uint16_t seekUnits, const Bytes& score) {
    Bytes b{flags, std::uint8_t(seekUnits >> 8), std::uint8_t(seekUnits)};
    b.insert(b.end(), score.begin(), score.end());
    return b;
}

void ScoreSeeds(const fs::path& folder) {
    using namespace scoretest;
    const Bytes oneNote = score({scoreTrack(1, Sequence().note(0, 0x25, 10).end())});
    Write(folder, "one-note", WithFlags(0, 0, oneNote));
    Write(folder, "one-note-looped-in-parts", WithFlags(0x07, 2, oneNote));

    Sequence busy;
    for (unsigned step = 0; step < 16; ++step)
        busy.note(step * 3, noteByte(step & 3, step % 4, step), 20).control(1, std::uint8_t(step));
    busy.extended(2, 0xE0, 0x40).exclusive(1, {0x43, 0x79, 0x05, 0x7F, 0x01, 0x00, 0x10}).end();
    const Bytes tracks = score({scoreTrack(1, busy), scoreTrack(2, Sequence().note(5, noteByte(1, 2, 3), 40).end()),
                                scoreTrack(3, Sequence().note(0, noteByte(2, 1, 9), 8).end(), {}, {0x11, 0x12})});
    Write(folder, "four-channels", WithFlags(0x02, 5, tracks));
    Write(folder, "seek-first", WithFlags(0x08, 1, tracks));

    Bytes wave(200);
    for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = std::uint8_t(i * 13 + 7);
    const Bytes audio = score({scoreTrack(1, Sequence().note(0, 0x25, 30).end()),
                               audioTrack(Sequence().wave(0, 1, 50).wave(10, 2, 20).end(), {{1, wave}, {2, wave}})});
    Write(folder, "audio-track", WithFlags(0x04, 3, audio));
}

void VoiceSeeds(const fs::path& folder) {
    // A voice file's first voices; the target pads the image to its size.
    Bytes voiceFile{0};
    const char magic[] = "FM  ";
    voiceFile.insert(voiceFile.end(), magic, magic + 4);
    voiceFile.resize(1 + 4 + 40 * mevo::kFileVoiceSize, 0);
    for (std::size_t voice = 0; voice < 40; ++voice) {
        std::uint8_t* p = &voiceFile[1 + 4 + voice * mevo::kFileVoiceSize];
        for (std::size_t i = 0; i < mevo::kFileVoiceSize; ++i) p[i] = std::uint8_t(voice * 11 + i * 29);
    }
    Write(folder, "voice-file", voiceFile);

    // A wave bank of two formats and two chunks.
    Bytes bank{1};
    const auto put32 = [](Bytes& b, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(std::uint8_t(v >> shift));
    };
    const char adp[] = "ADP ", fmt[] = "FMT ";
    bank.insert(bank.end(), adp, adp + 4);
    put32(bank, 0);
    bank.insert(bank.end(), fmt, fmt + 4);
    put32(bank, 48);
    for (std::uint8_t entry = 0; entry < 2; ++entry) {
        Bytes e(24, 0);
        e[0] = 'A';
        e[1] = std::uint8_t('0' + entry);
        e[18] = entry;
        e[19] = std::uint8_t(20 + entry);
        e[22] = 0x1F;
        e[23] = 0x40;
        bank.insert(bank.end(), e.begin(), e.end());
    }
    for (std::uint8_t entry = 0; entry < 2; ++entry) {
        bank.insert(bank.end(), {'W', 'A', 'A', std::uint8_t('0' + entry)});
        put32(bank, 32);
        for (int i = 0; i < 32; ++i) bank.push_back(std::uint8_t(i * 41 + entry));
    }
    const std::uint32_t size = std::uint32_t(bank.size() - 1 - 8);
    for (int i = 0; i < 4; ++i) bank[1 + 4 + i] = std::uint8_t(size >> (24 - 8 * i));
    Write(folder, "wave-bank", bank);

    Bytes definition{2};
    for (std::uint8_t i = 0; i < 30; ++i) definition.push_back(std::uint8_t(i == 0 ? 12 : i * 5 & 0x7F));
    Write(folder, "voice-definition", definition);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seed_maker <out>\n");
        return 2;
    }
    const fs::path out = argv[1];
    SynthSeeds(out / "fuzz_synth_dispatch");
    ScoreSeeds(out / "fuzz_score");
    VoiceSeeds(out / "fuzz_voice_files");
    return 0;
}
