#include "synth/ScoreDecoder.h"

#include "synth/ScoreCursor.h"
#include "synth/ScoreVoiceSetup.h"

#include <algorithm>

namespace mevo {
namespace {

constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kController = 0xB0;
constexpr std::uint8_t kProgramChange = 0xC0;
constexpr std::uint8_t kPitchBend = 0xE0;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kChannelsPerTrack = 4;
constexpr std::size_t kSoundOffsPerTrack = kChannelsPerTrack;

// Short control events carry a 4-bit value; these map it to controller values.
constexpr std::array<std::uint8_t, 16> kExpressionOfCode{0, 0, 32, 40, 48, 56, 64, 72, 80, 88, 96, 104, 112, 120, 127, 127};
constexpr std::array<std::uint8_t, 16> kModulationOfCode{0, 0, 1, 1, 32, 32, 32, 32, 64, 64, 64, 64, 96, 96, 96, 0};

// Extended event codes that become a controller, and the controller.
struct ExtendedController {
    std::uint8_t code;
    std::uint8_t controller;
};
constexpr std::array<ExtendedController, 3> kExtendedControllers{{{7, 7}, {10, 10}, {11, 11}}};

constexpr std::uint8_t kDirectFmPrefix[] = {0x43, 0x03, 0x90};

std::uint8_t u8(unsigned v)
{
    return static_cast<std::uint8_t>(v);
}

std::uint8_t u8(ScoreCommand c)
{
    return static_cast<std::uint8_t>(c);
}

class ScoreTrackDecoder {
public:
    ScoreTrackDecoder(const ScoreTrack& track, OctaveShifts& shifts, ScoreTarget& target,
                      std::vector<TimedEvent>& events)
        : track_(track), cursor_(track.sequence), shifts_(shifts), target_(target), events_(events),
          base_(track.number == 0 ? 0 : kChannelsPerTrack * (track.number - 1))
    {
    }

    void run()
    {
        while (!cursor_.atEnd()) {
            const auto duration = cursor_.time();
            const auto e = cursor_.byte();
            if (!duration || !e) {
                break;
            }
            time_ += std::uint64_t{*duration} * track_.durationMsPerUnit;
            endTime_ = std::max(endTime_, time_);
            const bool complete = *e == 0x00 ? control() : *e == 0xFF ? exclusive() : note(*e);
            if (!complete) {
                break;
            }
        }
        // Sound off on the track's own channels: a track that ends early must not cut the
        // notes of the others.
        for (unsigned i = 0; i < kChannelsPerTrack; ++i) {
            add(endTime_, {u8(kController + base_ + i), kAllSoundOff, 0, 0});
        }
    }

private:
    void add(std::uint64_t time, std::array<std::uint8_t, 4> message)
    {
        events_.push_back({time, message});
        endTime_ = std::max(endTime_, time);
    }

    void controller(unsigned channel, std::uint8_t number, std::uint8_t value)
    {
        add(time_, {u8(kController + channel), number, u8(value & 0x7F), 0});
    }

    // A score bend is 7 bits (64 = centre); it becomes the top 7 bits of the 14-bit bend.
    void pitchBend(unsigned channel, std::uint8_t value7)
    {
        add(time_, {u8(kPitchBend + channel), 0, u8(value7 & 0x7F), 0});
    }

    bool control()
    {
        const auto k = cursor_.byte();
        if (!k) {
            return false;
        }
        const unsigned channel = base_ + (*k >> 6);
        const std::uint8_t v = *k & 0x0F;
        switch ((*k >> 4) & 3) {
        case 0: controller(channel, 11, kExpressionOfCode[v]); return true;
        case 1: pitchBend(channel, u8(v * 8)); return true;
        case 2: controller(channel, 1, kModulationOfCode[v]); return true;
        default: return extended(channel, v);
        }
    }

    bool extended(unsigned channel, std::uint8_t v)
    {
        const auto t = cursor_.byte();
        if (!t) {
            return false;
        }
        const auto mapped = std::ranges::find(kExtendedControllers, v, &ExtendedController::code);
        if (mapped != kExtendedControllers.end()) {
            controller(channel, mapped->controller, *t);
        } else if (v == 0) {
            add(time_, {u8(kProgramChange + channel), u8(*t & 0x7F), 0, 0});
        } else if (v == 1) {
            // Values from 128 reach the user drum banks (LSB 10 and up).
            controller(channel, 32, *t >= 128 ? u8(*t - 118) : *t);
        } else if (v == 2) {
            const int magnitude = *t & 0x7F;
            shifts_[channel] = magnitude > 4 ? 0 : (*t & 0x80) ? -magnitude : magnitude;
        } else if (v == 4) {
            pitchBend(channel, *t);
        }
        return true;
    }

    bool exclusive()
    {
        const auto marker = cursor_.byte();
        if (!marker) {
            return false;
        }
        if (*marker != 0xF0) {
            return true;
        }
        const auto length = cursor_.byte();
        const auto body = length ? cursor_.take(*length) : std::nullopt;
        if (!body) {
            return false;
        }
        if (body->size() >= 5 && std::ranges::equal(body->first(3), kDirectFmPrefix)) {
            const std::uint8_t x = (*body)[3];
            const std::uint8_t y = (*body)[4];
            // 7-bit transport: the header byte carries the top bits of x (bit 6) and y (bit 5).
            const std::uint8_t header = u8(((x >> 1) & 0x40) | ((y >> 2) & 0x20));
            add(time_, {u8(ScoreCommand::DirectFm), header, u8(x & 0x7F), u8(y & 0x7F)});
        } else {
            applyVoiceSetup(*body, target_);
        }
        return true;
    }

    bool note(std::uint8_t e)
    {
        const auto gate = cursor_.time();
        if (!gate) {
            return false;
        }
        const unsigned channel = base_ + (e >> 6);
        const int octave = shifts_[channel] + ((e & 0x3F) >> 4) + 3;
        const auto key = u8(std::clamp((e & 0x0F) + octave * 12, 0, 127));
        add(time_, {u8(kNoteOn + channel), key, 127, 0});
        add(time_ + std::uint64_t{*gate} * track_.gateMsPerUnit, {u8(kNoteOff + channel), key, 127, 0});
        return true;
    }

    const ScoreTrack& track_;
    ScoreCursor cursor_;
    OctaveShifts& shifts_;
    ScoreTarget& target_;
    std::vector<TimedEvent>& events_;
    unsigned base_;
    std::uint64_t time_ = 0;
    std::uint64_t endTime_ = 0;
};

} // namespace

std::size_t maxScoreEvents(const ScoreLayout& layout)
{
    std::size_t count = layout.audio ? layout.audio->sequence.size() : 0;
    for (const ScoreTrack& t : layout.tracks) {
        count += t.sequence.size() + kSoundOffsPerTrack;
    }
    return count;
}

void decodeScoreTrack(const ScoreTrack& track, OctaveShifts& shifts, ScoreTarget& target,
                      std::vector<TimedEvent>& events)
{
    ScoreTrackDecoder(track, shifts, target, events).run();
}

void decodeAudioTrack(const AudioTrack& track, std::vector<TimedEvent>& events)
{
    constexpr std::uint8_t kWaveGainEvent = 0x37; // channel 0, extended code 7 (volume)
    ScoreCursor cursor(track.sequence);
    std::uint64_t time = 0;
    while (!cursor.atEnd()) {
        const auto duration = cursor.time();
        const auto e = cursor.byte();
        if (!duration || !e) {
            return;
        }
        time += std::uint64_t{*duration} * track.durationMsPerUnit;
        if (*e == 0x00) {
            // Control events are sized as in score tracks: extended ones carry a third byte.
            const auto k = cursor.byte();
            if (!k) {
                return;
            }
            if ((*k & 0x30) == 0x30) {
                const auto t = cursor.byte();
                if (!t) {
                    return;
                }
                if (*k == kWaveGainEvent) {
                    events.push_back({time, {u8(ScoreCommand::WaveGain), u8(*t & 0x7F), 0, 0}});
                }
            }
            continue;
        }
        const auto gate = cursor.time();
        if (!gate) {
            return;
        }
        events.push_back({time, {u8(ScoreCommand::StartWave), *e, 0, 0}});
        events.push_back({time + std::uint64_t{*gate} * track.gateMsPerUnit, {u8(ScoreCommand::StopWave), 0, 0, 0}});
    }
}

} // namespace mevo
