#include "audio/MulDiv.h"

#include <limits>

namespace tonaro {

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    const int64_t product = int64_t{a} * b;
    const bool negative = (product < 0) != (c < 0);
    const uint64_t magnitude = product < 0 ? uint64_t(-product) : uint64_t(product);
    const uint64_t divisor = c < 0 ? uint64_t(-int64_t{c}) : uint64_t(c);
    const uint64_t quotient = (magnitude + divisor / 2) / divisor;
    if (quotient > uint64_t(std::numeric_limits<int32_t>::max()) + (negative ? 1 : 0)) return -1;
    return negative ? int32_t(-int64_t(quotient)) : int32_t(quotient);
}

}  // namespace tonaro
