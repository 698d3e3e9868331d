#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// Receives each device buffer of 16-bit stereo samples (left first) as it is rendered; returning
// false stops the rendering.
using PcmSink = std::function<bool(const int16_t* samples, size_t count)>;

// Plays a Standard MIDI File payload through the synthesizer exactly as the preview does
// (22-frame chunks in buffers of 2048 bytes) until the song ends, handing each buffer to `sink`.
// Rendering stops after `maxFrames`. False for a malformed header.
bool RenderSmfPayload(const uint8_t* data, uint32_t size, CSynthBinding& synth, uint64_t maxFrames,
                      const PcmSink& sink);
// The same, appending the frames to `pcm`.
bool RenderSmfPayload(const uint8_t* data, uint32_t size, CSynthBinding& synth, std::vector<int16_t>& pcm,
                      uint64_t maxFrames);

inline constexpr uint32_t kWaveHeaderBytes = 44;
// The header of a 22050 Hz 16-bit stereo RIFF WAVE file with `dataBytes` of samples.
std::array<uint8_t, kWaveHeaderBytes> MakeWaveHeader(uint32_t dataBytes);

// Writes a WAVE file while its samples arrive, so a song is never held whole: a header is written
// first and its sizes are filled in by Finish().
class CWaveFileStream {
public:
    explicit CWaveFileStream(CFile& file);
    // Appends samples (written little-endian, in 64 KB writes); false once any write failed.
    bool Append(const int16_t* samples, size_t count);
    // Writes what is pending and rewrites the header with the final sizes; false if any write
    // or the seek failed.
    bool Finish();

private:
    bool Flush();

    CFile& file_;
    std::vector<uint8_t> pending_ = std::vector<uint8_t>(64 * 1024);
    size_t pendingBytes_ = 0;
    uint64_t dataBytes_ = 0;
    bool ok_ = true;
};

// Writes the header and the samples.
bool WriteWaveFile(CFile& file, const std::vector<int16_t>& pcm);

// Loads the MIDI file as adding it to the list does, renders it and writes the WAVE file.
// Returns 0 on success, 1 with a reason on `err` otherwise.
int RunRender(const RenderOptions& options, CSynthBinding& synth, std::ostream& err);
void AddRenderCommand(CLI::App& app, int& exitStatus);

}  // namespace tonaro::cli
