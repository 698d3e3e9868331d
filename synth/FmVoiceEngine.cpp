#include "synth/FmVoiceEngine.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>

namespace mevo {

namespace {

// Voices render in blocks after one LFO step per call, so a long call needs no long buffers.
// Sounding voices go in pairs through one loop, so the processor overlaps their serial chains
// (envelope and feedback); integer sums make the order of the mix irrelevant.
constexpr std::uint32_t kBlockFrames = 256;
static_assert(kBlockFrames % 4 == 0, "the sums are cleared four at a time");
// Below this many two-operator voices the scalar pairs are faster than vector lanes.
constexpr std::size_t kLaneMinimum = 3;

// Zeroes the first `frames` sums of each side; the buffers hold kBlockFrames, a multiple of 4.
void clearSums(std::int32_t* left, std::int32_t* right, std::uint32_t frames) {
#if defined(__SSE2__)
    for (std::uint32_t f = 0; f < frames; f += 4) {
        _mm_store_si128(reinterpret_cast<__m128i*>(left + f), _mm_setzero_si128());
        _mm_store_si128(reinterpret_cast<__m128i*>(right + f), _mm_setzero_si128());
    }
#else
    std::fill_n(left, frames, 0);
    std::fill_n(right, frames, 0);
#endif
}

// Interleaves the sums into frames, each sample clamped to -32767..32767.
void writeFrames(std::int16_t* out, const std::int32_t* left, const std::int32_t* right, std::uint32_t frames) {
    std::uint32_t f = 0;
#if defined(__SSE2__)
    for (; f + 4 <= frames; f += 4) {
        // Packing saturates to -32768..32767; the floor is raised after.
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + f));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + f));
        const __m128i frames4 = _mm_unpacklo_epi16(_mm_packs_epi32(l, l), _mm_packs_epi32(r, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * f), _mm_max_epi16(frames4, _mm_set1_epi16(-32767)));
    }
#endif
    for (; f < frames; ++f) {
        out[2 * f] = static_cast<std::int16_t>(std::clamp(left[f], -32767, 32767));
        out[2 * f + 1] = static_cast<std::int16_t>(std::clamp(right[f], -32767, 32767));
    }
}

}  // namespace

void FmVoiceEngine::loadVoice(unsigned index, const VoiceRecord& voice) {
    with(index, [&](FmVoice& v) { v.load(voice); });
}

void FmVoiceEngine::setGain(unsigned index, unsigned leftIndex, unsigned rightIndex) {
    with(index, [&](FmVoice& v) { v.setGain(leftIndex, rightIndex); });
}

void FmVoiceEngine::setPitch(unsigned index, unsigned block, unsigned fnumber) {
    with(index, [&](FmVoice& v) { v.setPitch(block, fnumber); });
}

void FmVoiceEngine::setFnumberLow(unsigned index, std::uint8_t value) {
    with(index, [&](FmVoice& v) { v.setFnumberLow(value); });
}

void FmVoiceEngine::setBlockAndFnumberHigh(unsigned index, std::uint8_t value) {
    with(index, [&](FmVoice& v) { v.setBlockAndFnumberHigh(value); });
}

void FmVoiceEngine::setModulationDepth(unsigned index, std::uint8_t depth) {
    with(index, [&](FmVoice& v) { v.setModulationDepth(depth); });
}

void FmVoiceEngine::keyOn(unsigned index) {
    with(index, [](FmVoice& v) { v.keyOn(); });
}

void FmVoiceEngine::keyOff(unsigned index) {
    with(index, [](FmVoice& v) { v.keyOff(); });
}

void FmVoiceEngine::clearAll() {
    for (auto& v : voices_) {
        v.wake(clock_);
        v.clear();
    }
    awake_ = kAllVoices;
}

void FmVoiceEngine::reset() {
    voices_ = {};
    awake_ = kAllVoices;
}

void FmVoiceEngine::render(std::int16_t* out, std::uint32_t frames) {
    alignas(16) std::array<std::int32_t, kBlockFrames> left;
    alignas(16) std::array<std::int32_t, kBlockFrames> right;
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = std::min(frames - done, kBlockFrames);
        clearSums(left.data(), right.data(), n);
        std::array<FmVoice*, kVoiceCount> sounding;
        std::array<FmVoice*, kVoiceCount> twoOperator;
        std::size_t count = 0;
        std::size_t twoCount = 0;
        for (std::uint32_t rest = awake_; rest != 0; rest &= rest - 1) {
            const int index = std::countr_zero(rest);
            FmVoice& v = voices_[index];
            if (done == 0) v.prepare(tables_);  // one voice's own state: the order is free
            const bool audible = v.rendered() && !v.dormant() && v.beginBlock(n, clock_ + done + n);
            if (!audible) {
                if (!v.rendered() || v.dormant()) awake_ &= ~(1u << index);  // passed over until its next change
                continue;
            }
            if (lanes_ && v.operatorCount() == 2)
                twoOperator[twoCount++] = &v;
            else
                sounding[count++] = &v;
        }
        if (twoCount >= kLaneMinimum) {
            laneRenderer_.render(twoOperator.data(), twoCount, tables_, left.data(), right.data(), n);
        } else {
            laneRenderer_.invalidate();
            for (std::size_t k = 0; k < twoCount; ++k) sounding[count++] = twoOperator[k];
        }
        std::size_t i = 0;
        for (; i + 1 < count; i += 2)
            FmVoice::renderTogether(*sounding[i], *sounding[i + 1], left.data(), right.data(), n);
        for (; i < count; ++i) sounding[i]->renderSounding(left.data(), right.data(), n);
        writeFrames(out + 2 * done, left.data(), right.data(), n);
        done += n;
    }
    clock_ += frames;
}

}  // namespace mevo
