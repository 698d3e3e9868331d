#include "audio/PcmFilterTables.h"

#include <array>
#include <cmath>
#include <numbers>

namespace tonaro {

namespace {

// Each row is a Kaiser-windowed sinc low-pass:
//   h[k] = 2 fc sinc(2 fc t) · I0(beta √(1 − (t / L)²)) / I0(beta),  t = k − L + f,  L = taps / 2,
// with fc the cutoff as a fraction of the source rate and f the row's fractional position:
// f = 0 for single-row tables (so taps 1..taps−1 are symmetric about tap L), and the middle of
// the row's 1/1024 bin, (p + 0.5) / 1024, for 1024-row tables (so row 1023 − p is row p reversed).
// The centre of the filter moves from tap L toward tap L − 1 across the rows. Each row is scaled
// to a DC gain of 1. Cutoff and beta were chosen by measuring row 0 so that the −3 dB and −6 dB
// points and the attenuation from 1.2 × the target Nyquist frequency up each have margin over
// the converter's requirements (see tests/audio/PcmConverterTest.cpp).
struct FilterDesign {
    uint32_t sourceRate;
    uint32_t targetRate;
    int taps;
    int rows;
    double cutoffHz;  // at the source rate
    double beta;
};

constexpr std::array<FilterDesign, 5> kDesigns = {{
    {44100, 22050, 46, 1, 10915.0, 7.5},  // also serves 22050 → 11025
    {44100, 11025, 46, 1, 5485.0, 3.5},
    {44100, 8000, 64, kFilterPhases, 4040.0, 3.25},
    {22050, 8000, 46, kFilterPhases, 3960.0, 5.5},
    {11025, 8000, 46, kFilterPhases, 3960.0, 11.0},
}};

// Modified Bessel function of the first kind, order 0, by its power series.
double BesselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; term > 1e-17 * sum; ++k) {
        const double factor = x / (2.0 * k);
        term *= factor * factor;
        sum += term;
    }
    return sum;
}

void FillRow(const FilterDesign& design, double fraction, double* row) {
    const double half = design.taps / 2.0;
    const double fc = design.cutoffHz / design.sourceRate;
    const double windowScale = 1.0 / BesselI0(design.beta);
    double sum = 0.0;
    for (int k = 0; k < design.taps; ++k) {
        const double t = k - half + fraction;
        const double x = 2.0 * fc * t;
        const double sinc = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double r = t / half;
        const double window =
            std::abs(r) >= 1.0 ? windowScale : BesselI0(design.beta * std::sqrt(1.0 - r * r)) * windowScale;
        row[k] = 2.0 * fc * sinc * window;
        sum += row[k];
    }
    for (int k = 0; k < design.taps; ++k) row[k] /= sum;
}

PcmFilterTable BuildTable(const FilterDesign& design) {
    PcmFilterTable table{design.sourceRate, design.targetRate, design.taps, design.rows, {}};
    table.coefficients.resize(size_t(design.taps) * size_t(design.rows));
    for (int p = 0; p < design.rows; ++p) {
        const double fraction = design.rows == 1 ? 0.0 : (p + 0.5) / design.rows;
        FillRow(design, fraction, table.coefficients.data() + size_t(p) * size_t(design.taps));
    }
    return table;
}

const std::array<PcmFilterTable, kDesigns.size()>& Tables() {
    static const std::array<PcmFilterTable, kDesigns.size()> tables = [] {
        std::array<PcmFilterTable, kDesigns.size()> built;
        for (size_t i = 0; i < kDesigns.size(); ++i) built[i] = BuildTable(kDesigns[i]);
        return built;
    }();
    return tables;
}

}  // namespace

const PcmFilterTable* FindPcmFilterTable(uint32_t sourceRate, uint32_t targetRate) {
    // 2:1 from 22050 uses the 44100 → 22050 table: the ratio, not the rate, shapes it.
    if (sourceRate == 22050 && targetRate == 11025) return &Tables()[0];
    for (const PcmFilterTable& table : Tables())
        if (table.sourceRate == sourceRate && table.targetRate == targetRate) return &table;
    return nullptr;
}

}  // namespace tonaro
