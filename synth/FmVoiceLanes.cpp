#include "synth/FmVoiceLanes.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>

#include "synth/FmTables.h"
#include "synth/FmVoice.h"

#define MEVO_AVX2 __attribute__((target("avx2")))
#define MEVO_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace mevo {

namespace {

constexpr int kLanes = 8;
// The gathers read each waveform sample together with the 16 bits after it.
static_assert(offsetof(FmTables, waveform) == 0 && sizeof(FmTables) >= sizeof(FmTables::waveform) + 2);

template <typename T>
using Lanes = std::array<T, kLanes>;

// One operator of eight voices, with the envelope step in FmOperator's form.
struct alignas(32) OperatorLanes {
    Lanes<std::uint32_t> level, factor, factorOdd, headroom, step, low, span, phase, phaseStep, gain, waveBase;
    Lanes<FmOperator*> op;  // null in unused lanes
};

constexpr FmOperator kSilentOperator{};  // level 0, held

inline void setEnvelope(OperatorLanes& lanes, int lane) {
    const FmOperator& op = lanes.op[lane] ? *lanes.op[lane] : kSilentOperator;
    lanes.factor[lane] = op.stepFactor;
    if (lane % 2) lanes.factorOdd[lane - 1] = op.stepFactor;  // where the odd lanes' multiply reads it
    lanes.headroom[lane] = op.stepHeadroom;
    lanes.step[lane] = op.stepAdd;
    lanes.low[lane] = op.settleLow;
    lanes.span[lane] = op.settleSpan;
}

// Makes the state change a step asked for in one lane, as the operator itself does.
void settleLane(OperatorLanes& lanes, int lane) {
    FmOperator& op = *lanes.op[lane];
    op.level = lanes.level[lane];
    op.phase = lanes.phase[lane];
    op.settle();
    lanes.phase[lane] = op.phase;
    setEnvelope(lanes, lane);
}

MEVO_AVX2_INLINE __m256i loadLanes(const void* p) {
    return _mm256_load_si256(static_cast<const __m256i*>(p));
}

MEVO_AVX2_INLINE void storeLanes(void* p, __m256i v) {
    _mm256_store_si256(static_cast<__m256i*>(p), v);
}

// One envelope step of eight operators; returns the lanes that need settling. The parameters
// are read from memory each sample, so only the running state needs registers.
MEVO_AVX2_INLINE __m256i stepLevel(const OperatorLanes& p, __m256i& level) {
    const __m256i even = _mm256_mul_epu32(level, loadLanes(p.factor.data()));
    const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(level, 32), loadLanes(p.factorOdd.data()));
    // (x >> 30) of the even products in the low halves, of the odd ones in the high halves.
    const __m256i fallen = _mm256_blend_epi32(_mm256_srli_epi64(even, 30), _mm256_slli_epi64(odd, 2), 0xAA);
    level = _mm256_add_epi32(_mm256_min_epu32(fallen, loadLanes(p.headroom.data())), loadLanes(p.step.data()));
    const __m256i offset = _mm256_sub_epi32(level, loadLanes(p.low.data()));
    return _mm256_cmpeq_epi32(_mm256_max_epu32(offset, loadLanes(p.span.data())), offset);
}

// Eight operator outputs for modulation input `m`, after the envelope step.
MEVO_AVX2_INLINE __m256i operatorOut(const OperatorLanes& p, __m256i level, __m256i& phase, __m256i m,
                                     const std::int16_t* waves) {
    const __m256i amplitude =
        _mm256_srai_epi32(_mm256_mullo_epi32(loadLanes(p.gain.data()), _mm256_srli_epi32(level, 16)), 15);
    const __m256i offset = _mm256_and_si256(_mm256_add_epi32(_mm256_srli_epi32(phase, 20), _mm256_srai_epi32(m, 1)),
                                            _mm256_set1_epi32(kTableSize - 1));
    // Eight scalar loads: cheaper than a gather on the processors we measured.
    alignas(32) std::uint32_t index[kLanes];
    _mm256_store_si256(reinterpret_cast<__m256i*>(index), _mm256_add_epi32(offset, loadLanes(p.waveBase.data())));
    asm("" : "+m"(index));  // read back as scalars, not extracted lane by lane
    // Two chains of four inserts keep the feedback path short.
    __m128i low = _mm_cvtsi32_si128(static_cast<std::uint16_t>(waves[index[0]]));
    __m128i high = _mm_cvtsi32_si128(static_cast<std::uint16_t>(waves[index[4]]));
    low = _mm_insert_epi16(low, waves[index[1]], 1);
    high = _mm_insert_epi16(high, waves[index[5]], 1);
    low = _mm_insert_epi16(low, waves[index[2]], 2);
    high = _mm_insert_epi16(high, waves[index[6]], 2);
    low = _mm_insert_epi16(low, waves[index[3]], 3);
    high = _mm_insert_epi16(high, waves[index[7]], 3);
    const __m256i sample = _mm256_cvtepi16_epi32(_mm_unpacklo_epi64(low, high));
    phase = _mm256_add_epi32(phase, loadLanes(p.phaseStep.data()));
    return _mm256_srai_epi32(_mm256_mullo_epi32(sample, amplitude), 15);
}

}  // namespace

struct FmVoiceLanes::Group {
    OperatorLanes op[2];
    alignas(32) Lanes<std::int32_t> history1, history2, shift, feedbackMask, modulatorMask, directMask, gainLeft,
        gainRight;
    Lanes<FmVoice*> voice;
    bool valid = false;  // the lanes hold their voices' state
};

namespace {

// The running state of eight voices.
struct VoiceState {
    __m256i level1, level2, phase1, phase2, history1, history2;
};

MEVO_AVX2_INLINE VoiceState loadState(const FmVoiceLanes::Group& g) {
    return {loadLanes(g.op[0].level.data()), loadLanes(g.op[1].level.data()), loadLanes(g.op[0].phase.data()),
            loadLanes(g.op[1].phase.data()),  loadLanes(g.history1.data()),   loadLanes(g.history2.data())};
}

MEVO_AVX2_INLINE void storeState(const VoiceState& v, FmVoiceLanes::Group& g) {
    storeLanes(g.op[0].level.data(), v.level1);
    storeLanes(g.op[1].level.data(), v.level2);
    storeLanes(g.op[0].phase.data(), v.phase1);
    storeLanes(g.op[1].phase.data(), v.phase2);
    storeLanes(g.history1.data(), v.history1);
    storeLanes(g.history2.data(), v.history2);
}

// Settles the lanes set in `settling` of one operator, whose level and phase are in registers;
// returns the phase, which an attack start resets.
[[gnu::noinline]] MEVO_AVX2 __m256i settle(OperatorLanes& lanes, __m256i settling, __m256i level, __m256i phase) {
    const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(settling));
    storeLanes(lanes.level.data(), level);
    storeLanes(lanes.phase.data(), phase);
    for (int lane = 0; lane < kLanes; ++lane)
        if (mask & (1 << lane)) settleLane(lanes, lane);
    return loadLanes(lanes.phase.data());
}

// One sample of eight voices: their panned outputs are added to `left` and `right`.
MEVO_AVX2_INLINE void voiceSample(FmVoiceLanes::Group& g, VoiceState& v, const std::int16_t* waves, __m256i& left,
                                  __m256i& right) {
    const __m256i settle1 = stepLevel(g.op[0], v.level1);
    const __m256i settle2 = stepLevel(g.op[1], v.level2);
    const __m256i any = _mm256_or_si256(settle1, settle2);
    if (!_mm256_testz_si256(any, any)) [[unlikely]] {
        if (!_mm256_testz_si256(settle1, settle1)) v.phase1 = settle(g.op[0], settle1, v.level1, v.phase1);
        if (!_mm256_testz_si256(settle2, settle2)) v.phase2 = settle(g.op[1], settle2, v.level2, v.phase2);
    }

    const __m256i feedback = _mm256_and_si256(
        _mm256_srai_epi32(_mm256_srav_epi32(_mm256_add_epi32(v.history1, v.history2), loadLanes(g.shift.data())), 1),
        loadLanes(g.feedbackMask.data()));
    const __m256i o1 = operatorOut(g.op[0], v.level1, v.phase1, feedback, waves);
    v.history2 = v.history1;
    v.history1 = o1;
    const __m256i o2 =
        operatorOut(g.op[1], v.level2, v.phase2, _mm256_and_si256(o1, loadLanes(g.modulatorMask.data())), waves);
    const __m256i y = _mm256_add_epi32(o2, _mm256_and_si256(o1, loadLanes(g.directMask.data())));
    // |y| <= 65024 and gains <= 32768: the products fit in 32 bits.
    left = _mm256_add_epi32(left, _mm256_srai_epi32(_mm256_mullo_epi32(y, loadLanes(g.gainLeft.data())), 15));
    right = _mm256_add_epi32(right, _mm256_srai_epi32(_mm256_mullo_epi32(y, loadLanes(g.gainRight.data())), 15));
}

// Adds the sums of the lanes of `l` and `r` to one frame.
MEVO_AVX2_INLINE void addFrame(__m256i l, __m256i r, std::int32_t& left, std::int32_t& right) {
    // [l0+l1, l2+l3, r0+r1, r2+r3 | l4+l5, l6+l7, r4+r5, r6+r7] -> [sum l, sum r, ...]
    const __m256i pairs = _mm256_hadd_epi32(l, r);
    __m128i sums = _mm_add_epi32(_mm256_castsi256_si128(pairs), _mm256_extracti128_si256(pairs, 1));
    sums = _mm_hadd_epi32(sums, sums);
    left += _mm_cvtsi128_si32(sums);
    right += _mm_extract_epi32(sums, 1);
}

MEVO_AVX2 void renderOneGroup(FmVoiceLanes::Group& g, const std::int16_t* waves, std::int32_t* left,
                              std::int32_t* right, std::uint32_t frames) {
    VoiceState v = loadState(g);
    for (std::uint32_t s = 0; s < frames; ++s) {
        __m256i l = _mm256_setzero_si256();
        __m256i r = _mm256_setzero_si256();
        voiceSample(g, v, waves, l, r);
        addFrame(l, r, left[s], right[s]);
    }
    storeState(v, g);
}

MEVO_AVX2 void renderTwoGroups(FmVoiceLanes::Group& a, FmVoiceLanes::Group& b, const std::int16_t* waves,
                               std::int32_t* left, std::int32_t* right, std::uint32_t frames) {
    VoiceState va = loadState(a);
    VoiceState vb = loadState(b);
    for (std::uint32_t s = 0; s < frames; ++s) {
        __m256i l = _mm256_setzero_si256();
        __m256i r = _mm256_setzero_si256();
        voiceSample(a, va, waves, l, r);
        voiceSample(b, vb, waves, l, r);
        addFrame(l, r, left[s], right[s]);
    }
    storeState(va, a);
    storeState(vb, b);
}

}  // namespace

bool FmVoiceLanes::available() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

void FmVoiceLanes::load(Group& g, FmVoice* const* voices, std::size_t count) {
    for (int lane = 0; lane < kLanes; ++lane) {
        FmVoice* v = std::size_t(lane) < count ? voices[lane] : nullptr;
        if (g.valid && g.voice[lane] == v && (!v || !v->laneStale_)) {
            // Only the LFO moved these since the last call.
            if (v) {
                for (int k = 0; k < 2; ++k) {
                    g.op[k].phaseStep[lane] = v->operators_[k].phaseStep;
                    g.op[k].gain[lane] = static_cast<std::uint32_t>(v->operators_[k].outputGain);
                }
            }
            continue;
        }
        g.voice[lane] = v;
        for (int k = 0; k < 2; ++k) {
            OperatorLanes& o = g.op[k];
            FmOperator* op = v ? &v->operators_[k] : nullptr;
            o.op[lane] = op;
            o.level[lane] = op ? op->level : 0;
            o.phase[lane] = op ? op->phase : 0;
            o.phaseStep[lane] = op ? op->phaseStep : 0;
            o.gain[lane] = op ? static_cast<std::uint32_t>(op->outputGain) : 0;
            o.waveBase[lane] = op ? std::uint32_t(op->waveformIndex) * kTableSize : 0;
            setEnvelope(o, lane);
        }
        g.history1[lane] = v ? v->history1_ : 0;
        g.history2[lane] = v ? v->history2_ : 0;
        g.shift[lane] = v ? v->feedbackShift_ : 0;
        g.feedbackMask[lane] = v && v->feedbackShift_ ? -1 : 0;
        g.modulatorMask[lane] = v && v->algorithm_ == 0 ? -1 : 0;
        g.directMask[lane] = v && v->algorithm_ == 1 ? -1 : 0;
        g.gainLeft[lane] = v ? v->leftGain_ : 0;
        g.gainRight[lane] = v ? v->rightGain_ : 0;
        if (v) v->laneStale_ = false;
    }
    g.valid = true;
}

void FmVoiceLanes::store(const Group& g) {
    for (int lane = 0; lane < kLanes; ++lane) {
        FmVoice* v = g.voice[lane];
        if (!v) continue;
        for (int k = 0; k < 2; ++k) {
            FmOperator& op = v->operators_[k];
            op.level = g.op[k].level[lane];
            op.phase = g.op[k].phase[lane];
        }
        v->history1_ = g.history1[lane];
        v->history2_ = g.history2[lane];
    }
}

FmVoiceLanes::FmVoiceLanes() : groups_(std::make_unique<Group[]>(2)) {}

FmVoiceLanes::~FmVoiceLanes() = default;

void FmVoiceLanes::invalidate() {
    groups_[0].valid = groups_[1].valid = false;
}

void FmVoiceLanes::render(FmVoice* const* voices, std::size_t count, const FmTables& tables, std::int32_t* left,
                          std::int32_t* right, std::uint32_t frames) {
    const std::int16_t* waves = tables.waveform[0].data();
    Group& first = groups_[0];
    Group& second = groups_[1];
    load(first, voices, std::min<std::size_t>(count, kLanes));
    if (count > kLanes) {
        load(second, voices + kLanes, std::min(count, kMaxVoices) - kLanes);
        renderTwoGroups(first, second, waves, left, right, frames);
        store(second);
    } else {
        second.valid = false;  // its voices, if any, render elsewhere now
        renderOneGroup(first, waves, left, right, frames);
    }
    store(first);
}

}  // namespace mevo
