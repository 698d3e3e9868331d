#include "cli/RenderCommand.h"

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iostream>
#include <memory>

#include "audio/File.h"
#include "audio/SmfItem.h"
#include "cli/ScoreRender.h"
#include "palm/AudioRow.h"
#include "preview/MidiSequencer.h"
#include "preview/SynthBinding.h"

namespace tonaro::cli {

namespace {

// The preview's device buffers: 2048 bytes, 512 frames.
constexpr uint32_t kBufferBytes = 2048;
// Rendering goes this far past the entry's play time at most, so a file whose events lie hours
// apart cannot fill the disk.
constexpr uint64_t kMaxMsPastPlayTime = 10000;

void PutLe16(uint8_t* at, uint16_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
}

void PutLe32(uint8_t* at, uint32_t v) {
    PutLe16(at, uint16_t(v));
    PutLe16(at + 2, uint16_t(v >> 16));
}

void PutTag(uint8_t* at, const char (&tag)[5]) {
    std::copy_n(tag, 4, at);
}

}  // namespace

bool RenderSmfPayload(const uint8_t* data, uint32_t size, CSynthBinding& synth, uint64_t maxFrames,
                      const PcmSink& sink) {
    CMidiSequencer sequencer(synth);
    if (!sequencer.Start(data, size)) return false;
    synth.StartRealtime();
    std::array<int16_t, kBufferBytes / 2> buffer;
    while (sequencer.FramesRendered() < maxFrames) {
        const uint32_t bytes = sequencer.Fill(buffer.data(), kBufferBytes);
        if (bytes == 0 || !sink(buffer.data(), bytes / 2)) break;
    }
    synth.StopRealtime();
    return true;
}

bool RenderSmfPayload(const uint8_t* data, uint32_t size, CSynthBinding& synth, std::vector<int16_t>& pcm,
                      uint64_t maxFrames) {
    return RenderSmfPayload(data, size, synth, maxFrames, [&pcm](const int16_t* samples, size_t count) {
        pcm.insert(pcm.end(), samples, samples + count);
        return true;
    });
}

std::array<uint8_t, kWaveHeaderBytes> MakeWaveHeader(uint32_t dataBytes) {
    std::array<uint8_t, kWaveHeaderBytes> header{};
    uint8_t* h = header.data();
    PutTag(h, "RIFF");
    PutLe32(h + 4, kWaveHeaderBytes - 8 + dataBytes);
    PutTag(h + 8, "WAVE");
    PutTag(h + 12, "fmt ");
    PutLe32(h + 16, 16);
    PutLe16(h + 20, 1);  // PCM
    PutLe16(h + 22, 2);  // channels
    PutLe32(h + 24, CMidiSequencer::kSampleRate);
    PutLe32(h + 28, CMidiSequencer::kSampleRate * CMidiSequencer::kBytesPerFrame);
    PutLe16(h + 32, CMidiSequencer::kBytesPerFrame);
    PutLe16(h + 34, 16);
    PutTag(h + 36, "data");
    PutLe32(h + 40, dataBytes);
    return header;
}

CWaveFileStream::CWaveFileStream(CFile& file) : file_(file) {
    const auto header = MakeWaveHeader(0);
    ok_ = file_.Write(header.data(), header.size());
}

bool CWaveFileStream::Append(const int16_t* samples, size_t count) {
    dataBytes_ += count * 2;
    while (count > 0 && ok_) {
        const size_t n = std::min(count, (pending_.size() - pendingBytes_) / 2);
        uint8_t* to = pending_.data() + pendingBytes_;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(to, samples, n * 2);
        } else {
            for (size_t i = 0; i < n; ++i) PutLe16(to + 2 * i, uint16_t(samples[i]));
        }
        pendingBytes_ += n * 2;
        samples += n;
        count -= n;
        if (pendingBytes_ == pending_.size()) ok_ = Flush();
    }
    return ok_;
}

bool CWaveFileStream::Flush() {
    const bool written = pendingBytes_ == 0 || file_.Write(pending_.data(), pendingBytes_);
    pendingBytes_ = 0;
    return written;
}

bool CWaveFileStream::Finish() {
    const auto header = MakeWaveHeader(uint32_t(dataBytes_));
    ok_ = ok_ && Flush() && file_.Seek(0) && file_.Write(header.data(), header.size());
    return ok_;
}

bool WriteWaveFile(CFile& file, const std::vector<int16_t>& pcm) {
    CWaveFileStream wave(file);
    return wave.Append(pcm.data(), pcm.size()) && wave.Finish();
}

namespace {

// Streams the rendering of an SMF payload to the output WAVE file; the header is checked before
// the file is created.
int RenderToWaveFile(const uint8_t* payload, uint32_t size, CSynthBinding& synth, uint64_t maxFrames,
                     const RenderOptions& options, std::ostream& err) {
    if (CMidiSequencer check(synth); !check.Start(payload, size)) {
        fmt::print(err, "{}: the MIDI header cannot be played\n", options.input);
        return 1;
    }
    auto out = CDiskFile::Open(options.output, CDiskFile::Mode::CreateWrite);
    if (!out) {
        fmt::print(err, "{}: cannot be written\n", options.output);
        return 1;
    }
    CWaveFileStream wave(*out);
    RenderSmfPayload(payload, size, synth, maxFrames,
                     [&wave](const int16_t* samples, size_t count) { return wave.Append(samples, count); });
    if (!wave.Finish() || !out->Close()) {
        fmt::print(err, "{}: cannot be written\n", options.output);
        return 1;
    }
    return 0;
}

}  // namespace

int RunRender(const RenderOptions& options, CSynthBinding& synth, std::ostream& err) {
    if (!synth.IsLoaded()) {
        fmt::print(err, "{}\n", kSynthMissingMessage);
        return 1;
    }
    auto file = CDiskFile::Open(options.input, CDiskFile::Mode::Read);
    if (!file) {
        fmt::print(err, "{}: cannot be opened\n", options.input);
        return 1;
    }
    CAudioRow row;
    if (const int result = row.LoadSmf(*file, options.input); result != kResultOk) {
        fmt::print(err, "{}: not loaded as a MIDI entry (result {})\n", options.input, result);
        return 1;
    }
    auto* item = dynamic_cast<CSmfItem*>(row.Item());
    if (!item) {
        fmt::print(err, "{}: not loaded as a MIDI entry\n", options.input);
        return 1;
    }
    if (options.volume) item->AdjustMasterVolume(*options.volume - item->GetVolume());

    const uint64_t maxFrames =
        (uint64_t(item->GetPlayTime()) + kMaxMsPastPlayTime) * CMidiSequencer::kSampleRate / 1000;
    const uint8_t* payload = item->LockPayload();
    const int status = RenderToWaveFile(payload, item->GetPayloadSize(), synth, maxFrames, options, err);
    if (payload) item->UnlockPayload();
    return status;
}

void AddRenderCommand(CLI::App& app, int& exitStatus) {
    auto* command = app.add_subcommand("render",
                                       "Render a MIDI file through the synthesizer as the preview plays it, "
                                       "to a 22050 Hz 16-bit stereo WAVE file");
    auto options = std::make_shared<RenderOptions>();
    command->add_option("file", options->input, "MIDI file")->required();
    command->add_option("-o,--output", options->output, "WAVE file to write")->required();
    command->add_option("--volume", options->volume, "Master volume 0..127, as the volume dialog sets it")
        ->check(CLI::Range(0, 127));
    auto scoreOptions = std::make_shared<ScoreRenderOptions>();
    AddScoreRenderOptions(*command, *scoreOptions);
    command->callback([options, scoreOptions, &exitStatus] {
        if (auto status = RunScoreRender(options->input, options->output, *scoreOptions, std::cerr)) {
            exitStatus = *status;
            return;
        }
        CSynthBinding synth;
        exitStatus = RunRender(*options, synth, std::cerr);
    });
}

}  // namespace tonaro::cli
