// Q14 YUV to RGB coefficient sets of the multiplying conversions. Luma enters
// unchanged; each chroma sample costs one 16 x 16-bit product per coefficient.
#pragma once

#include "pixel.h"

#include <cstdint>

namespace pixkit {

struct CoefficientSet {
    int32_t crToRed;
    int32_t cbToGreen;
    int32_t crToGreen;
    int32_t cbToBlue;
    int32_t rounding;  // added before the shift: 0 truncates, 8192 rounds to nearest
};

inline constexpr CoefficientSet k601{22970, 5638, 11700, 29032, 0};
inline constexpr CoefficientSet k601R{22970, 5638, 11700, 29032, 8192};
inline constexpr CoefficientSet k709{25802, 3072, 7671, 30397, 0};
inline constexpr CoefficientSet k709R{25802, 3072, 7671, 30397, 8192};
// The packed-input conversions carry their own, slightly smaller Cr factors.
inline constexpr CoefficientSet k709P{25801, 3072, 7670, 30397, 0};

// Increments of one chroma pair; the shifts are arithmetic (toward minus
// infinity), and green's increment is subtracted from luma.
template <CoefficientSet kSet>
inline ChromaDelta chromaDeltaQ14(uint8_t u, uint8_t v) {
    const int32_t cb = int32_t(u) - 128;
    const int32_t cr = int32_t(v) - 128;
    return {int((kSet.crToRed * cr + kSet.rounding) >> 14),
            int((kSet.cbToGreen * cb + kSet.crToGreen * cr + kSet.rounding) >> 14),
            int((kSet.cbToBlue * cb + kSet.rounding) >> 14)};
}

}  // namespace pixkit
