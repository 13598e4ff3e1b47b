// The layout, turn and mirror entry points are exported under their plain names.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include "pixkit.h"

namespace {

TEST(LayoutExports, EveryNameResolves) {
    // Taking the addresses keeps the library loaded before the look-ups.
    ASSERT_NE(reinterpret_cast<void*>(&gRotateFrame), nullptr);
    static const char* const kNames[] = {
        "gRotateFrame", "gRotate422Frame", "gRotateMonochromeFrame", "gRotateRGB16", "gRotateRGB16toBGR24",
        "gMirrorImageRGB565", "gMirrorImageYUV", "gPvRGB565toYUV420", "gPvxRGB565toYUV420_TopDown",
        "gBGR24INTtoYUV420Planar", "gYUV420toUYVY", "gYUV420toY41P", "gYUV422htoYUV420", "gYUV422toYUV420Ex",
        "gYUV422toYUV420", "gY1UY2VToYUV420", "gY1UY2VToYV12", "gUY1VY2ToYUV420", "YUY2toYUV420",
    };
    for (const char* name : kNames) EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
}

} // namespace
