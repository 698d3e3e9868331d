#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonaro {

// Coefficient table of one downward rate ratio: `rows` rows of `taps` doubles; row p serves the
// fractional input position p / kFilterPhases (single-row tables serve every position).
struct PcmFilterTable {
    uint32_t sourceRate = 0;
    uint32_t targetRate = 0;
    int taps = 0;
    int rows = 0;
    std::vector<double> coefficients;  // row-major

    const double* Row(int row) const { return coefficients.data() + size_t(row) * size_t(taps); }
};

inline constexpr int kFilterPhases = 1024;

// The table for a pair of rates, or null when there is none (equal rates, upward ratios and
// every pair but 44100→22050, 22050→11025, 44100→11025, 44100/22050/11025→8000).
// The tables are built once, on first use.
const PcmFilterTable* FindPcmFilterTable(uint32_t sourceRate, uint32_t targetRate);

}  // namespace tonaro
