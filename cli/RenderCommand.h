#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tonaro {
class CFile;
class CSynthBinding;
}  // namespace tonaro

namespace tonaro::cli {

struct RenderOptions {
    std::string input;
    std::string output;
    std::optional<int> volume;  // master volume 0..127, set as the volume dialog does
};

// Plays a Standard MIDI File payload through the synthesizer exactly as the preview does
// (22-frame chunks in buffers of 2048 bytes) until the song ends; appends the 16-bit stereo
// frames (left first) to `pcm`. Rendering stops after `maxFrames`. False for a malformed header.
bool RenderSmfPayload(const uint8_t* data, uint32_t size, CSynthBinding& synth, std::vector<int16_t>& pcm,
                      uint64_t maxFrames);

inline constexpr uint32_t kWaveHeaderBytes = 44;
// The header of a 22050 Hz 16-bit stereo RIFF WAVE file with `dataBytes` of samples.
std::array<uint8_t, kWaveHeaderBytes> MakeWaveHeader(uint32_t dataBytes);
// A whole WAVE file image of `pcm`.
std::vector<uint8_t> MakeWaveFile(const std::vector<int16_t>& pcm);
// Writes the header and the samples (little-endian; `pcm` may be byte-swapped in place).
bool WriteWaveFile(CFile& file, std::vector<int16_t>& pcm);

// Loads the MIDI file as adding it to the list does, renders it and writes the WAVE file.
// Returns 0 on success, 1 with a reason on `err` otherwise.
int RunRender(const RenderOptions& options, CSynthBinding& synth, std::ostream& err);
void AddRenderCommand(CLI::App& app, int& exitStatus);

}  // namespace tonaro::cli
