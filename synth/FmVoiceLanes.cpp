#include "synth/FmVoiceLanes.h"

// The lanes are x86 code; elsewhere the scalar kernels render every voice.
#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>

#include "synth/FmTables.h"
#include "synth/FmVoice.h"

#define MEVO_AVX2 __attribute__((target("avx2")))
#define MEVO_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
#define MEVO_AVX512 __attribute__((target("avx512f")))
#define MEVO_AVX512_INLINE __attribute__((target("avx512f"), always_inline)) inline

namespace mevo {

namespace {

// The lanes of the group; AVX2 renders them as two halves.
constexpr int kLanes = 16;
constexpr int kHalf = 8;

template <typename T>
using Lanes = std::array<T, kLanes>;

// One operator of each voice, with the envelope step in FmOperator's form.
struct alignas(64) OperatorLanes {
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
inline void settleLane(OperatorLanes& lanes, int lane) {
    FmOperator& op = *lanes.op[lane];
    op.level = lanes.level[lane];
    op.phase = lanes.phase[lane];
    op.settle();
    lanes.phase[lane] = op.phase;
    setEnvelope(lanes, lane);
}

// Settles the lanes set in `mask`, whose levels and phases are in `lanes`.
[[gnu::noinline]] void settleLanes(OperatorLanes& lanes, unsigned mask) {
    for (int lane = 0; lane < kLanes; ++lane)
        if (mask & (1u << lane)) settleLane(lanes, lane);
}

}  // namespace

struct FmVoiceLanes::Group {
    OperatorLanes op[2];
    alignas(64) Lanes<std::int32_t> history1, history2, shift, feedbackMask, modulatorMask,
        directMask, gainLeft, gainRight;
    Lanes<FmVoice*> voice;
    bool valid = false;  // the lanes hold their voices' state
};

namespace {

using Group = FmVoiceLanes::Group;

// ---- AVX2: eight lanes, the half of the group at `at` (0 or 8).

MEVO_AVX2_INLINE __m256i loadHalf(const void* p) {
    return _mm256_load_si256(static_cast<const __m256i*>(p));
}

MEVO_AVX2_INLINE void storeHalf(void* p, __m256i v) {
    _mm256_store_si256(static_cast<__m256i*>(p), v);
}

// One envelope step; returns the lanes that need settling. The parameters are read from memory
// each sample, so only the running state needs registers.
MEVO_AVX2_INLINE __m256i stepLevel(const OperatorLanes& p, int at, __m256i& level) {
    const __m256i even = _mm256_mul_epu32(level, loadHalf(&p.factor[at]));
    const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(level, 32), loadHalf(&p.factorOdd[at]));
    // (x >> 30) of the even products in the low halves, of the odd ones in the high halves.
    const __m256i fallen = _mm256_blend_epi32(_mm256_srli_epi64(even, 30), _mm256_slli_epi64(odd, 2), 0xAA);
    level = _mm256_add_epi32(_mm256_min_epu32(fallen, loadHalf(&p.headroom[at])), loadHalf(&p.step[at]));
    const __m256i offset = _mm256_sub_epi32(level, loadHalf(&p.low[at]));
    return _mm256_cmpeq_epi32(_mm256_max_epu32(offset, loadHalf(&p.span[at])), offset);
}

// Four table samples packed into 64 bits, by scalar loads from two pairs of indices.
inline std::uint64_t lookFour(const std::int16_t* waves, std::uint64_t pair0, std::uint64_t pair1) {
    const auto at = [waves](std::uint64_t i) { return std::uint64_t(static_cast<std::uint16_t>(waves[i])); };
    return at(std::uint32_t(pair0)) | at(pair0 >> 32) << 16 | at(std::uint32_t(pair1)) << 32 | at(pair1 >> 32) << 48;
}

// Eight table samples for the indices in `index`, by scalar loads: cheaper than a gather on the
// processors we measured. The indices are taken from the register, which is faster than storing
// them and reading them back. Lanes past `used` (silent ones) may hold any value.
MEVO_AVX2_INLINE __m128i lookSome(const std::int16_t* waves, __m256i index, int used) {
    const __m128i low = _mm256_castsi256_si128(index);
    const std::uint64_t first =
        lookFour(waves, std::uint64_t(_mm_cvtsi128_si64(low)), std::uint64_t(_mm_extract_epi64(low, 1)));
    std::uint64_t second = 0;
    if (used > 4) {
        const __m128i high = _mm256_extracti128_si256(index, 1);
        second = lookFour(waves, std::uint64_t(_mm_cvtsi128_si64(high)), std::uint64_t(_mm_extract_epi64(high, 1)));
    }
    return _mm_set_epi64x(static_cast<long long>(second), static_cast<long long>(first));
}

// Operator outputs for modulation offset `m` (the modulation already halved), after the
// envelope step.
MEVO_AVX2_INLINE __m256i operatorOut(const OperatorLanes& p, int at, int used, __m256i level, __m256i& phase, __m256i m,
                                     const std::int16_t* waves) {
    const __m256i amplitude =
        _mm256_srai_epi32(_mm256_mullo_epi32(loadHalf(&p.gain[at]), _mm256_srli_epi32(level, 16)), 15);
    const __m256i offset =
        _mm256_and_si256(_mm256_add_epi32(_mm256_srli_epi32(phase, 20), m), _mm256_set1_epi32(kTableSize - 1));
    const __m256i index = _mm256_add_epi32(offset, loadHalf(&p.waveBase[at]));
    const __m256i sample = _mm256_cvtepi16_epi32(lookSome(waves, index, used));
    phase = _mm256_add_epi32(phase, loadHalf(&p.phaseStep[at]));
    return _mm256_srai_epi32(_mm256_mullo_epi32(sample, amplitude), 15);
}

// The running state of eight voices.
struct HalfState {
    __m256i level1, level2, phase1, phase2, history1, history2;
};

MEVO_AVX2_INLINE HalfState loadState(const Group& g, int at) {
    return {loadHalf(&g.op[0].level[at]), loadHalf(&g.op[1].level[at]), loadHalf(&g.op[0].phase[at]),
            loadHalf(&g.op[1].phase[at]), loadHalf(&g.history1[at]),    loadHalf(&g.history2[at])};
}

MEVO_AVX2_INLINE void storeState(const HalfState& v, Group& g, int at) {
    storeHalf(&g.op[0].level[at], v.level1);
    storeHalf(&g.op[1].level[at], v.level2);
    storeHalf(&g.op[0].phase[at], v.phase1);
    storeHalf(&g.op[1].phase[at], v.phase2);
    storeHalf(&g.history1[at], v.history1);
    storeHalf(&g.history2[at], v.history2);
}

// Settles the lanes set in `settling`; returns the phases, which an attack start resets.
MEVO_AVX2_INLINE __m256i settleHalf(OperatorLanes& lanes, int at, __m256i settling, __m256i level, __m256i phase) {
    storeHalf(&lanes.level[at], level);
    storeHalf(&lanes.phase[at], phase);
    settleLanes(lanes, unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(settling))) << at);
    return loadHalf(&lanes.phase[at]);
}

// One sample of eight voices: their panned outputs are added to `left` and `right`.
MEVO_AVX2_INLINE void halfSample(Group& g, int at, int used, HalfState& v, const std::int16_t* waves, __m256i& left,
                                 __m256i& right) {
    const __m256i settle1 = stepLevel(g.op[0], at, v.level1);
    const __m256i settle2 = stepLevel(g.op[1], at, v.level2);
    const __m256i any = _mm256_or_si256(settle1, settle2);
    if (!_mm256_testz_si256(any, any)) [[unlikely]] {
        if (!_mm256_testz_si256(settle1, settle1)) v.phase1 = settleHalf(g.op[0], at, settle1, v.level1, v.phase1);
        if (!_mm256_testz_si256(settle2, settle2)) v.phase2 = settleHalf(g.op[1], at, settle2, v.level2, v.phase2);
    }
    // ((h1 + h2) >> feedback shift) >> 1, halved again as a modulation offset: one shift.
    const __m256i feedback =
        _mm256_and_si256(_mm256_srav_epi32(_mm256_add_epi32(v.history1, v.history2), loadHalf(&g.shift[at])),
                         loadHalf(&g.feedbackMask[at]));
    const __m256i o1 = operatorOut(g.op[0], at, used, v.level1, v.phase1, feedback, waves);
    v.history2 = v.history1;
    v.history1 = o1;
    const __m256i m2 = _mm256_and_si256(_mm256_srai_epi32(o1, 1), loadHalf(&g.modulatorMask[at]));
    const __m256i o2 = operatorOut(g.op[1], at, used, v.level2, v.phase2, m2, waves);
    const __m256i y = _mm256_add_epi32(o2, _mm256_and_si256(o1, loadHalf(&g.directMask[at])));
    // |y| <= 65024 and gains <= 32768: the products fit in 32 bits.
    left = _mm256_add_epi32(left, _mm256_srai_epi32(_mm256_mullo_epi32(y, loadHalf(&g.gainLeft[at])), 15));
    right = _mm256_add_epi32(right, _mm256_srai_epi32(_mm256_mullo_epi32(y, loadHalf(&g.gainRight[at])), 15));
}

// `sums` holds partial sums [l, r, l', r'] of one frame: adds l + l' and r + r' to it.
MEVO_AVX2_INLINE void addSums(__m128i sums, std::int32_t& left, std::int32_t& right) {
    sums = _mm_add_epi32(sums, _mm_unpackhi_epi64(sums, sums));
    const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums));
    left += static_cast<std::int32_t>(both);
    right += static_cast<std::int32_t>(both >> 32);
}

// Adds the sums of the lanes of `l` and `r` to one frame: interleaved, then folded in halves.
MEVO_AVX2_INLINE void addFrame(__m256i l, __m256i r, std::int32_t& left, std::int32_t& right) {
    // Per 128-bit half: [l0+l2, r0+r2, l1+l3, r1+r3].
    const __m256i mixed = _mm256_add_epi32(_mm256_unpacklo_epi32(l, r), _mm256_unpackhi_epi32(l, r));
    addSums(_mm_add_epi32(_mm256_castsi256_si128(mixed), _mm256_extracti128_si256(mixed, 1)), left, right);
}

MEVO_AVX2 void renderOneHalf(Group& g, int used, const std::int16_t* waves, std::int32_t* left, std::int32_t* right,
                             std::uint32_t frames) {
    HalfState v = loadState(g, 0);
    for (std::uint32_t s = 0; s < frames; ++s) {
        __m256i l = _mm256_setzero_si256();
        __m256i r = _mm256_setzero_si256();
        halfSample(g, 0, used, v, waves, l, r);
        addFrame(l, r, left[s], right[s]);
    }
    storeState(v, g, 0);
}

MEVO_AVX2 void renderTwoHalves(Group& g, int used, const std::int16_t* waves, std::int32_t* left, std::int32_t* right,
                               std::uint32_t frames) {
    HalfState a = loadState(g, 0);
    HalfState b = loadState(g, kHalf);
    for (std::uint32_t s = 0; s < frames; ++s) {
        __m256i l = _mm256_setzero_si256();
        __m256i r = _mm256_setzero_si256();
        halfSample(g, 0, kHalf, a, waves, l, r);
        halfSample(g, kHalf, used - kHalf, b, waves, l, r);
        addFrame(l, r, left[s], right[s]);
    }
    storeState(a, g, 0);
    storeState(b, g, kHalf);
}

// ---- AVX-512: all sixteen lanes in one vector, the same arithmetic.

// GCC 12 takes the undefined pass-through operand inside its AVX-512 intrinsics for an
// uninitialized read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

MEVO_AVX512_INLINE __m512i loadAll(const void* p) {
    return _mm512_load_si512(p);
}

MEVO_AVX512_INLINE void storeAll(void* p, __m512i v) {
    _mm512_store_si512(p, v);
}

// The parameters of one operator's lanes, held in registers across a call.
struct OperatorVectors {
    __m512i factor, factorOdd, headroom, step, low, span, gain, waveBase, phaseStep;
};

MEVO_AVX512_INLINE OperatorVectors loadOperator(const OperatorLanes& p) {
    return {loadAll(p.factor.data()), loadAll(p.factorOdd.data()), loadAll(p.headroom.data()),
            loadAll(p.step.data()),   loadAll(p.low.data()),       loadAll(p.span.data()),
            loadAll(p.gain.data()),   loadAll(p.waveBase.data()),  loadAll(p.phaseStep.data())};
}

MEVO_AVX512_INLINE __mmask16 stepLevel(const OperatorVectors& p, __m512i& level) {
    const __m512i even = _mm512_mul_epu32(level, p.factor);
    const __m512i odd = _mm512_mul_epu32(_mm512_srli_epi64(level, 32), p.factorOdd);
    const __m512i fallen = _mm512_mask_blend_epi32(0xAAAA, _mm512_srli_epi64(even, 30), _mm512_slli_epi64(odd, 2));
    level = _mm512_add_epi32(_mm512_min_epu32(fallen, p.headroom), p.step);
    return _mm512_cmpge_epu32_mask(_mm512_sub_epi32(level, p.low), p.span);
}

MEVO_AVX512_INLINE __m512i operatorOut(const OperatorVectors& p, int used, __m512i level, __m512i& phase, __m512i m,
                                       const std::int16_t* waves) {
    const __m512i amplitude = _mm512_srai_epi32(_mm512_mullo_epi32(p.gain, _mm512_srli_epi32(level, 16)), 15);
    const __m512i offset =
        _mm512_and_si512(_mm512_add_epi32(_mm512_srli_epi32(phase, 20), m), _mm512_set1_epi32(kTableSize - 1));
    const __m512i index = _mm512_add_epi32(offset, p.waveBase);
    const __m256i words =
        _mm256_inserti128_si256(_mm256_castsi128_si256(lookSome(waves, _mm512_castsi512_si256(index), kHalf)),
                                lookSome(waves, _mm512_extracti64x4_epi64(index, 1), used - kHalf), 1);
    const __m512i sample = _mm512_cvtepi16_epi32(words);
    phase = _mm512_add_epi32(phase, p.phaseStep);
    return _mm512_srai_epi32(_mm512_mullo_epi32(sample, amplitude), 15);
}

// The same for sixteen lanes.
MEVO_AVX512_INLINE void addFrame(__m512i l, __m512i r, std::int32_t& left, std::int32_t& right) {
    const __m512i mixed = _mm512_add_epi32(_mm512_unpacklo_epi32(l, r), _mm512_unpackhi_epi32(l, r));
    const __m256i half = _mm256_add_epi32(_mm512_castsi512_si256(mixed), _mm512_extracti64x4_epi64(mixed, 1));
    addSums(_mm_add_epi32(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1)), left, right);
}

MEVO_AVX512_INLINE __m512i settleAll(OperatorLanes& lanes, OperatorVectors& p, __mmask16 settling, __m512i level,
                                     __m512i phase) {
    storeAll(lanes.level.data(), level);
    storeAll(lanes.phase.data(), phase);
    settleLanes(lanes, settling);
    p = loadOperator(lanes);
    return loadAll(lanes.phase.data());
}

MEVO_AVX512 void renderAll(Group& g, int used, const std::int16_t* waves, std::int32_t* left, std::int32_t* right,
                           std::uint32_t frames) {
    __m512i level1 = loadAll(g.op[0].level.data()), level2 = loadAll(g.op[1].level.data());
    __m512i phase1 = loadAll(g.op[0].phase.data()), phase2 = loadAll(g.op[1].phase.data());
    __m512i history1 = loadAll(g.history1.data()), history2 = loadAll(g.history2.data());
    OperatorVectors p1 = loadOperator(g.op[0]), p2 = loadOperator(g.op[1]);
    const __m512i shift = loadAll(g.shift.data()), feedbackMask = loadAll(g.feedbackMask.data());
    const __m512i modulatorMask = loadAll(g.modulatorMask.data()), directMask = loadAll(g.directMask.data());
    const __m512i gainLeft = loadAll(g.gainLeft.data()), gainRight = loadAll(g.gainRight.data());
    for (std::uint32_t s = 0; s < frames; ++s) {
        const __mmask16 settle1 = stepLevel(p1, level1);
        const __mmask16 settle2 = stepLevel(p2, level2);
        if ((settle1 | settle2) != 0) [[unlikely]] {
            if (settle1) phase1 = settleAll(g.op[0], p1, settle1, level1, phase1);
            if (settle2) phase2 = settleAll(g.op[1], p2, settle2, level2, phase2);
        }
        const __m512i feedback =
            _mm512_and_si512(_mm512_srav_epi32(_mm512_add_epi32(history1, history2), shift), feedbackMask);
        const __m512i o1 = operatorOut(p1, used, level1, phase1, feedback, waves);
        history2 = history1;
        history1 = o1;
        const __m512i m2 = _mm512_and_si512(_mm512_srai_epi32(o1, 1), modulatorMask);
        const __m512i o2 = operatorOut(p2, used, level2, phase2, m2, waves);
        const __m512i y = _mm512_add_epi32(o2, _mm512_and_si512(o1, directMask));
        const __m512i l = _mm512_srai_epi32(_mm512_mullo_epi32(y, gainLeft), 15);
        const __m512i r = _mm512_srai_epi32(_mm512_mullo_epi32(y, gainRight), 15);
        addFrame(l, r, left[s], right[s]);
    }
    storeAll(g.op[0].level.data(), level1);
    storeAll(g.op[1].level.data(), level2);
    storeAll(g.op[0].phase.data(), phase1);
    storeAll(g.op[1].phase.data(), phase2);
    storeAll(g.history1.data(), history1);
    storeAll(g.history2.data(), history2);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace

// The engine is built while the library loads, possibly before the processor checks' own
// initializer has run: __builtin_cpu_init runs it first.
bool FmVoiceLanes::available() {
    static const bool avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    return avx2;
}

bool FmVoiceLanes::wideAvailable() {
    static const bool avx512 = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f"));
    return avx512;
}

void FmVoiceLanes::load(Group& g, FmVoice* const* voices, std::size_t count) {
    for (int lane = 0; lane < kLanes; ++lane) {
        FmVoice* v = std::size_t(lane) < count ? voices[lane] : nullptr;
        if (g.valid && g.voice[lane] == v && (!v || !v->laneStale_)) {
            // Only the LFO moved these since the last call.
            if (v && v->lfoUsed_) {
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
        g.shift[lane] = v ? v->feedbackShift_ + 2 : 0;  // with the two halvings of the offset
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

FmVoiceLanes::FmVoiceLanes() : group_(std::make_unique<Group>()) {}

FmVoiceLanes::~FmVoiceLanes() = default;

void FmVoiceLanes::invalidate() {
    group_->valid = false;
}

void FmVoiceLanes::render(FmVoice* const* voices, std::size_t count, const FmTables& tables, std::int32_t* left,
                          std::int32_t* right, std::uint32_t frames) {
    const std::int16_t* waves = tables.waveform[0].data();
    Group& g = *group_;
    const int used = static_cast<int>(std::min(count, kMaxVoices));
    load(g, voices, std::size_t(used));
    // Unused lanes hold silent operators that never change, so they may be left out.
    if (used <= kHalf)
        renderOneHalf(g, used, waves, left, right, frames);
    else if (wide_)
        renderAll(g, used, waves, left, right, frames);
    else
        renderTwoHalves(g, used, waves, left, right, frames);
    store(g);
}

}  // namespace mevo

#else

namespace mevo {

struct FmVoiceLanes::Group {};

FmVoiceLanes::FmVoiceLanes() = default;
FmVoiceLanes::~FmVoiceLanes() = default;
bool FmVoiceLanes::available() {
    return false;
}
bool FmVoiceLanes::wideAvailable() {
    return false;
}
void FmVoiceLanes::invalidate() {}
void FmVoiceLanes::render(FmVoice* const*, std::size_t, const FmTables&, std::int32_t*, std::int32_t*, std::uint32_t) {}

}  // namespace mevo

#endif
