#include "synth/MixTables.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace mevo {

namespace {

std::uint8_t halfDecibels(double x) {
    return static_cast<std::uint8_t>(std::lround(x));
}

MixTables build() {
    MixTables t{};
    t.level[0] = 192;
    for (int x = 1; x < 128; ++x) t.level[x] = halfDecibels(80.0 * std::log10(127.0 / x));
    for (int p = 0; p < 128; ++p) {
        const double angle = p * std::numbers::pi / 254.0;
        t.panLeft[p] = p < 127 ? halfDecibels(-40.0 * std::log10(std::cos(angle))) : 192;
        t.panRight[p] = p > 0 ? halfDecibels(-40.0 * std::log10(std::sin(angle))) : 192;
    }
    for (int i = 0; i < 192; ++i)
        t.gainW[i] = static_cast<std::uint16_t>(std::min(32767L, std::lround(32768.0 * std::pow(10.0, -i / 40.0))));
    t.gainW[192] = 0;
    return t;
}

}  // namespace

const MixTables& mixTables() {
    static const MixTables tables = build();
    return tables;
}

}  // namespace mevo
