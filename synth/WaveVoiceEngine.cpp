#include "synth/WaveVoiceEngine.h"

#include <algorithm>

#include "synth/AdpcmDecoder.h"
#include "synth/MixTables.h"

namespace mevo {

namespace {

constexpr std::uint32_t kOutputRate = 22050;
constexpr std::uint8_t kMaxStartCount = 126;

}  // namespace

std::uint32_t WaveVoiceEngine::registerWave(std::uint32_t id, std::span<const std::uint8_t> adpcm, std::uint32_t rate) {
    if (id > kMaxWaveId) return 0;
    if (id == 0) {
        for (std::uint32_t candidate = kFirstAutoWaveId; candidate <= kMaxWaveId && id == 0; ++candidate)
            if (!samples_[candidate]) id = candidate;
        if (id == 0) return 0;
    }
    auto sample = std::make_unique<WaveSample>();
    sample->samples = AdpcmDecoder::decodeAll(adpcm);
    sample->rate = rate;
    if (playing_ == samples_[id].get()) stopAll();
    samples_[id] = std::move(sample);
    return id;
}

void WaveVoiceEngine::deleteWave(std::uint32_t id) {
    if (id > kMaxWaveId) return;
    const std::uint32_t first = id == 0 ? 1 : id;
    const std::uint32_t last = id == 0 ? kMaxWaveId : id;
    for (std::uint32_t i = first; i <= last; ++i) {
        if (samples_[i] && playing_ == samples_[i].get()) stopAll();
        samples_[i].reset();
    }
}

const WaveSample* WaveVoiceEngine::sample(std::uint32_t id) const {
    return id >= 1 && id <= kMaxWaveId ? samples_[id].get() : nullptr;
}

void WaveVoiceEngine::start(std::uint32_t id) {
    const WaveSample* s = sample(id);
    if (!s || s->samples.empty()) return;
    id_ = id;
    playing_ = s;
    phase_ = 0;
    increment_ = static_cast<std::uint32_t>(std::uint64_t(s->rate) * 4096 / kOutputRate);
    idle_ = false;
    startCount_ = 1;
}

void WaveVoiceEngine::restart(std::uint32_t id) {
    const WaveSample* s = sample(id);
    if (!s || s->samples.empty()) return;
    if (!idle_) stopWave();
    start(id);
}

void WaveVoiceEngine::startOrNest(std::uint32_t id) {
    const WaveSample* s = sample(id);
    if (!s || s->samples.empty()) return;
    if (idle_) {
        start(id);
    } else if (id == id_ && startCount_ < kMaxStartCount) {
        ++startCount_;
    }
}

void WaveVoiceEngine::stopWave() {
    if (startCount_ <= 1) {
        stopAll();
    } else {
        --startCount_;
    }
}

void WaveVoiceEngine::stopAll() {
    idle_ = true;
    startCount_ = 0;
    playing_ = nullptr;
}

void WaveVoiceEngine::setGain(unsigned index) {
    gain_ = mixTables().gainW[std::min(index, 192u)];
}

void WaveVoiceEngine::mix(std::int16_t* out, std::uint32_t frames) {
    for (std::uint32_t f = 0; f < frames && !idle_; ++f) {
        const auto& samples = playing_->samples;
        const std::size_t i = phase_ >> 12;
        const std::int32_t s0 = samples[i];
        const std::int32_t s1 = i + 1 < samples.size() ? samples[i + 1] : 0;
        const std::int32_t fraction = static_cast<std::int32_t>(phase_ & 0xFFF);  // 0.12
        const std::int32_t s = ((s0 + (((s1 - s0) * fraction) >> 12)) * gain_) >> 15;
        out[2 * f] = static_cast<std::int16_t>(std::clamp(out[2 * f] + s, -32767, 32767));
        out[2 * f + 1] = static_cast<std::int16_t>(std::clamp(out[2 * f + 1] + s, -32767, 32767));
        phase_ += increment_;
        // The end of the sample ends the voice whatever its start count.
        if ((phase_ >> 12) >= samples.size()) stopAll();
    }
}

}  // namespace mevo
