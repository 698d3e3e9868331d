#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "synth/Mevo22kApi.h"

namespace CLI {
class App;
}

namespace tonaro::cli {

// Rendering a score of the synthesizer's own format ("MMMD") in whole-song mode.
struct ScoreRenderOptions {
    int plays = 1;        // --repeat: how many times the song plays in a row
    uint32_t seekMs = 0;  // --seek: where the first play starts
};

// The library's whole-song exports.
struct WholeSongApi {
    SetRepeatFn setRepeat = nullptr;
    SendDataFn sendData = nullptr;
    FixDataFn fixData = nullptr;
    SeekFn seek = nullptr;
    GenerateFn generate = nullptr;
};

bool IsScoreFile(std::span<const uint8_t> bytes);

// Frames that Generate renders from frame `start` up to and including the chunk that dispatches
// an event at `lastEventMs` (when a looping song starts again). Generate works in chunks of 22
// frames from `start`; events up to `startMs` went out when the song was positioned.
uint64_t FramesOfOnePlay(uint64_t start, uint32_t startMs, uint32_t lastEventMs);

// Hands `score` to the library and renders it `options.plays` times from `options.seekMs`,
// looping through SetRepeat, appending 16-bit stereo frames (left first) to `pcm`.
// Returns 0, or 1 with a reason on `err`.
int RenderScore(std::span<const uint8_t> score, const WholeSongApi& api, const ScoreRenderOptions& options,
                std::vector<int16_t>& pcm, std::ostream& err);

// Adds --repeat and --seek to the render command.
void AddScoreRenderOptions(CLI::App& render, ScoreRenderOptions& options);

// When `input` is a score file, renders it to the WAVE file `output` and returns the exit status;
// nothing for any other file, which the render command then reads as MIDI.
std::optional<int> RunScoreRender(const std::string& input, const std::string& output,
                                  const ScoreRenderOptions& options, std::ostream& err);

}  // namespace tonaro::cli
