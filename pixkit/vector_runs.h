// Loop shapes the vectoriser handles best: runs of a constant count, each one
// straight vector sequence of whole registers.
#pragma once

#include "pixel.h"

#include <algorithm>

namespace pixkit {

// Start of the run after the one at k, over items 0 .. n - 1 in runs of
// `size` (n >= size), the last one moved back to end at n; -1 after the last.
inline int nextOverlappedRun(int k, int n, int size) {
    return k + size >= n ? -1 : std::min(k + size, n - size);
}

// Calls convert(k, m) over items 0 .. n - 1 with m a constant wherever it can
// be: runs of kLong, then what is left in runs of kShort, the last one moved
// back to overlap its predecessor instead of leaving a scalar tail. That is
// sound only where the outputs never feed the inputs. Fewer than kShort items
// take one call of variable count.
template <int kLong, int kShort, class Convert>
PIXKIT_KERNEL void forVectorRuns(int n, Convert convert) {
    if (n < kShort) return convert(0, n);
    int k = 0;
    for (; k + kLong <= n; k += kLong) convert(k, kLong);
    if (k == n) return;
    for (k = std::min(k, n - kShort); k >= 0; k = nextOverlappedRun(k, n, kShort)) convert(k, kShort);
}

}  // namespace pixkit
