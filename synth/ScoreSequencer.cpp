#include "synth/ScoreSequencer.h"

#include "synth/ScoreVoiceSetup.h"

#include <algorithm>
#include <array>
#include <new>

namespace mevo {
namespace {

constexpr std::size_t kChannels = 16;
constexpr std::uint32_t kFrameRate = 22050;
constexpr std::uint8_t kMasterAttenuationZero = 0x40;     // command 10 value: attenuation 0
constexpr std::uint8_t kMasterAttenuationTrack0 = 0x2E;   // -18 half-dB steps (-9 dB)
constexpr std::uint8_t kAllocationByChannel = 1;          // command 11: slot = channel

std::array<std::uint8_t, 8> engineCommand(std::uint8_t command, std::uint8_t value)
{
    return {0xF0, 0x43, 0x79, 0x05, 0x7F, command, value, 0xF7};
}

// Per-channel defaults of a prepared song: mono mode, user bank 20, program 0, full volume
// and expression, centre pan.
constexpr std::array<std::array<std::uint8_t, 3>, 7> kChannelDefaults{{
    {0xB0, 55, 1}, {0xB0, 0, 124}, {0xB0, 32, 0}, {0xC0, 0, 0}, {0xB0, 7, 127}, {0xB0, 11, 127}, {0xB0, 10, 64},
}};

void sendChannelMessage(ScoreTarget& target, std::array<std::uint8_t, 3> message)
{
    const std::size_t length = (message[0] & 0xF0) == 0xC0 ? 2 : 3;
    target.dispatch(std::span(message).first(length));
}

} // namespace

bool ScoreSequencer::append(std::span<const std::uint8_t> bytes)
{
    try {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void ScoreSequencer::clear()
{
    stop();
    bytes_ = {};
    layout_.reset();
    events_ = {};
    next_ = 0;
}

bool ScoreSequencer::parse()
{
    if (bytes_.empty() || playing_) {
        return false;
    }
    events_.clear();
    next_ = 0;
    layout_ = parseScoreLayout(bytes_);
    if (!layout_) {
        return false;
    }
    try {
        events_.reserve(maxScoreEvents(*layout_));
    } catch (const std::bad_alloc&) {
        events_ = {};
        return false;
    }
    OctaveShifts shifts{};
    for (const ScoreTrack& track : layout_->tracks) {
        decodeScoreTrack(track, shifts, target_, events_);
    }
    if (layout_->audio) {
        decodeAudioTrack(*layout_->audio, events_);
    }
    std::ranges::stable_sort(events_, {}, &TimedEvent::timeMs);
    return true;
}

bool ScoreSequencer::prepare(std::uint64_t ms)
{
    if (playing_ || events_.empty() || events_.back().timeMs < ms) {
        return false;
    }
    playing_ = true;
    next_ = 0;
    sendSetUp();
    if (ms > 0) {
        fastForward(ms);
    }
    return true;
}

void ScoreSequencer::sendSetUp()
{
    target_.dispatch(engineCommand(11, kAllocationByChannel));
    target_.dispatch(engineCommand(10, layout_->hasMainTrack ? kMasterAttenuationZero : kMasterAttenuationTrack0));
    for (const ScoreTrack& track : layout_->tracks) {
        applySetUpData(track.setup, target_);
    }
    if (layout_->audio) {
        for (const AudioWave& wave : layout_->audio->waves) {
            target_.deleteWave(wave.number);
            target_.registerWave(wave.number, wave.adpcm, layout_->audio->waveRate);
        }
    }
    for (std::uint8_t ch = 0; ch < kChannels; ++ch) {
        for (auto message : kChannelDefaults) {
            message[0] = static_cast<std::uint8_t>(message[0] + ch);
            sendChannelMessage(target_, message);
        }
    }
}

void ScoreSequencer::fastForward(std::uint64_t ms)
{
    std::uint64_t lastTime = 0;
    while (next_ < events_.size() && events_[next_].timeMs <= ms) {
        lastTime = events_[next_].timeMs;
        dispatchEvent(events_[next_++]);
    }
    // Let the envelopes stand where they would after the last event; the sound is discarded.
    std::uint64_t frames = (ms - lastTime) * kFrameRate / 1000;
    std::array<std::int16_t, 2 * 1024> scratch;
    while (frames > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(frames, scratch.size() / 2));
        target_.render(scratch.data(), n);
        frames -= n;
    }
}

bool ScoreSequencer::advance(std::uint64_t nowMs)
{
    if (!playing_) {
        return false;
    }
    while (next_ < events_.size() && events_[next_].timeMs <= nowMs) {
        dispatchEvent(events_[next_++]);
    }
    return next_ < events_.size();
}

void ScoreSequencer::stop()
{
    if (!playing_) {
        return;
    }
    next_ = 0;
    for (std::uint8_t ch = 0; ch < kChannels; ++ch) {
        sendChannelMessage(target_, {static_cast<std::uint8_t>(0xB0 + ch), 120, 0});
    }
    target_.stopWaveVoice();
    playing_ = false;
}

void ScoreSequencer::dispatchEvent(const TimedEvent& event)
{
    const auto& m = event.message;
    if (m[0] & 0x80) {
        sendChannelMessage(target_, {m[0], m[1], m[2]});
        return;
    }
    // Engine commands: F0 43 79 05 7F, command, data, F7.
    switch (static_cast<ScoreCommand>(m[0])) {
    case ScoreCommand::DirectFm: {
        const std::array<std::uint8_t, 10> message{0xF0, 0x43, 0x79, 0x05, 0x7F, 3, m[1], m[2], m[3], 0xF7};
        target_.dispatch(message);
        break;
    }
    case ScoreCommand::StartWave: {
        // Voice 0, key = the wave number, explicit flag, bank 0. Any non-zero flag means
        // explicit; 0x01 rather than 0x80 keeps every data byte below 0x80, where the data ends.
        const std::array<std::uint8_t, 11> message{0xF0, 0x43, 0x79, 0x05, 0x7F, 7, 0, m[1], 0x01, 0, 0xF7};
        target_.dispatch(message);
        break;
    }
    case ScoreCommand::StopWave: {
        const std::array<std::uint8_t, 8> message{0xF0, 0x43, 0x79, 0x05, 0x7F, 8, 0, 0xF7};
        target_.dispatch(message);
        break;
    }
    case ScoreCommand::WaveGain: {
        const std::array<std::uint8_t, 9> message{0xF0, 0x43, 0x79, 0x05, 0x7F, 9, 0, m[1], 0xF7};
        target_.dispatch(message);
        break;
    }
    }
}

} // namespace mevo
