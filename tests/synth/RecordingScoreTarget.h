#pragma once

#include "synth/ScoreTarget.h"

#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

// A ScoreTarget that writes down what reaches it, one readable line a call, and sounds like a
// tiny synthesizer: every sample is 1000 while a note is held and for `tailFrames` after the
// last one ends (its release), 0 otherwise. Controller 120 releases every held note.
class RecordingScoreTarget : public mevo::ScoreTarget {
public:
    std::vector<std::string> log;   // every call except render
    std::size_t framesRendered = 0;
    std::size_t tailFrames = 30;

    static std::string hex(std::span<const std::uint8_t> bytes)
    {
        std::string s;
        for (std::uint8_t b : bytes) {
            char text[4];
            std::snprintf(text, sizeof text, s.empty() ? "%02X" : " %02X", b);
            s += text;
        }
        return s;
    }

    // Dispatched messages only, as hex.
    std::vector<std::string> messages() const
    {
        std::vector<std::string> out;
        for (const std::string& line : log) {
            if (line.starts_with("msg ")) {
                out.push_back(line.substr(4));
            }
        }
        return out;
    }

    void dispatch(std::span<const std::uint8_t> m) override
    {
        log.push_back("msg " + hex(m));
        const unsigned kind = m[0] & 0xF0;
        const auto note = std::make_pair(m[0] & 0x0F, m.size() > 1 ? m[1] : 0);
        if (kind == 0x90 && m.size() > 2 && m[2] > 0) {
            held_.insert(note);
        } else if (kind == 0x80 || kind == 0x90) {
            if (held_.erase(note) > 0 && held_.empty()) {
                tailLeft_ = tailFrames;
            }
        } else if (kind == 0xB0 && m.size() > 1 && m[1] == 120 && !held_.empty()) {
            held_.clear();
            tailLeft_ = tailFrames;
        }
    }
    void storeVoiceDefinition(std::span<const std::uint8_t> d) override { log.push_back("voice " + hex(d)); }
    void registerWave(std::uint32_t id, std::span<const std::uint8_t> adpcm, std::uint32_t rate) override
    {
        log.push_back("wave " + std::to_string(id) + " at " + std::to_string(rate) + ": " + hex(adpcm));
    }
    void deleteWave(std::uint32_t id) override { log.push_back("delete wave " + std::to_string(id)); }
    void stopWaveVoice() override { log.push_back("stop wave voice"); }
    void render(std::int16_t* buffer, std::size_t frames) override
    {
        for (std::size_t i = 0; i < frames; ++i) {
            const bool sounding = !held_.empty() || tailLeft_ > 0;
            if (held_.empty() && tailLeft_ > 0) {
                --tailLeft_;
            }
            buffer[2 * i] = buffer[2 * i + 1] = sounding ? 1000 : 0;
        }
        framesRendered += frames;
    }

private:
    std::set<std::pair<unsigned, unsigned>> held_;
    std::size_t tailLeft_ = 0;
};
