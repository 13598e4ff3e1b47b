// Pixkit throughput beside the nearest libyuv operations, single-threaded, in
// megapixels per second (pixels of the converted or produced frame).
#include "pixkit.h"

#include <libyuv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Best rate over several timed batches of about 50 ms each.
double megapixelsPerSecond(const std::function<void()>& op, double pixels) {
    op();
    int batch = 1;
    for (;;) {
        const auto t0 = Clock::now();
        for (int i = 0; i < batch; ++i) op();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (s > 0.02) break;
        batch *= 2;
    }
    double best = 0;
    for (int rep = 0; rep < 7; ++rep) {
        const auto t0 = Clock::now();
        for (int i = 0; i < batch; ++i) op();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        best = std::max(best, pixels * batch / s / 1e6);
    }
    return best;
}

struct I420 {
    int w, h;
    std::vector<uint8_t> y, u, v;
    ImageFrame desc;
    I420(int width, int height, std::mt19937& rng)
        : w(width), h(height), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {
        for (auto* p : {&y, &u, &v})
            for (auto& b : *p) b = uint8_t(rng());
        desc = {y.data(), u.data(), v.data(), uint16_t(w), uint16_t(h)};
    }
};

void row(const std::string& name, double ours, double peer, const char* peerName) {
    std::printf("%-34s %9.0f %9.0f  %5.2fx  (%s)\n", name.c_str(), ours, peer, ours / peer, peerName);
}

// The other conversions a user is most likely to call, at 640x480, beside
// their nearest libyuv operation (chained where libyuv has no single one).
void benchOtherConversions(std::mt19937& rng) {
    const int w = 640, h = 480;
    const double px = double(w) * h;
    const std::string size = " 640x480";
    I420 src(w, h, rng), turned(h, w, rng);
    std::vector<uint16_t> rgb(size_t(w) * h), rgb2(rgb.size());
    std::vector<uint8_t> argb(size_t(w) * h * 4), argb2(argb.size());
    for (auto& p : rgb) p = uint16_t(rng());

    const double peerConvert = megapixelsPerSecond(
        [&] {
            libyuv::H420ToRGB565(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2,
                                 reinterpret_cast<uint8_t*>(rgb2.data()), 2 * w, w, h);
        },
        px);
    for (int code = 0; code < 4; ++code) {
        const bool quarter = code & 1;
        const int dw = quarter ? h : w, dh = quarter ? w : h;
        const double ours = megapixelsPerSecond(
            [&] { gYUV420toRGB16Rotate(&src.desc, rgb2.data(), dw, dh, 0, 0, 0, 0, w, h, code); }, px);
        const std::string name = "gYUV420toRGB16Rotate " + std::to_string(code) + size;
        if (code == 0) {
            row(name, ours, peerConvert, "H420ToRGB565");
            continue;
        }
        const libyuv::RotationMode mode =
            code == 1 ? libyuv::kRotate90 : code == 2 ? libyuv::kRotate180 : libyuv::kRotate270;
        const double peer = megapixelsPerSecond(
            [&] {
                libyuv::I420Rotate(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2, turned.y.data(), dw,
                                   turned.u.data(), dw / 2, turned.v.data(), dw / 2, w, h, mode);
                libyuv::H420ToRGB565(turned.y.data(), dw, turned.u.data(), dw / 2, turned.v.data(), dw / 2,
                                     reinterpret_cast<uint8_t*>(rgb2.data()), 2 * dw, dw, dh);
            },
            px);
        row(name, ours, peer, "I420Rotate + H420ToRGB565");
    }

    std::vector<uint8_t> uyvy(size_t(w) * h * 2);
    for (auto& b : uyvy) b = uint8_t(rng());
    const ImageFrame packed{uyvy.data(), nullptr, nullptr, uint16_t(w), uint16_t(h)};
    row("gUYVYtoRGB565" + size,
        megapixelsPerSecond([&] { gUYVYtoRGB565(&packed, rgb2.data(), 0, 0, w, h, 0, 0, w, h, 1); }, px),
        megapixelsPerSecond(
            [&] {
                libyuv::UYVYToARGB(uyvy.data(), 2 * w, argb.data(), 4 * w, w, h);
                libyuv::ARGBToRGB565(argb.data(), 4 * w, reinterpret_cast<uint8_t*>(rgb2.data()), 2 * w, w, h);
            },
            px),
        "UYVYToARGB + ARGBToRGB565");

    I420 yuv(w, h, rng);
    row("gPvRGB565toYUV420" + size, megapixelsPerSecond([&] { gPvRGB565toYUV420(rgb.data(), &yuv.desc, w, h); }, px),
        megapixelsPerSecond(
            [&] {
                libyuv::RGB565ToI420(reinterpret_cast<const uint8_t*>(rgb.data()), 2 * w, yuv.y.data(), w,
                                     yuv.u.data(), w / 2, yuv.v.data(), w / 2, w, h);
            },
            px),
        "RGB565ToI420");

    for (int code = 1; code < 4; ++code) {
        const bool quarter = code & 1;
        const int dw = quarter ? h : w;
        const libyuv::RotationMode mode =
            code == 1 ? libyuv::kRotate90 : code == 2 ? libyuv::kRotate180 : libyuv::kRotate270;
        row("gRotateFrame " + std::to_string(code) + size,
            megapixelsPerSecond([&] { gRotateFrame(&src.desc, &turned.desc, uint8_t(code)); }, px),
            megapixelsPerSecond(
                [&] {
                    libyuv::I420Rotate(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2, turned.y.data(),
                                       dw, turned.u.data(), dw / 2, turned.v.data(), dw / 2, w, h, mode);
                },
                px),
            "I420Rotate");
    }

    // Mode 0 reverses each row; libyuv mirrors RGB565 only through 32 bits.
    row("gMirrorImageRGB565 0" + size,
        megapixelsPerSecond([&] { gMirrorImageRGB565(rgb.data(), rgb2.data(), w, h, 0); }, px),
        megapixelsPerSecond(
            [&] {
                libyuv::RGB565ToARGB(reinterpret_cast<const uint8_t*>(rgb.data()), 2 * w, argb.data(), 4 * w, w, h);
                libyuv::ARGBMirror(argb.data(), 4 * w, argb2.data(), 4 * w, w, h);
                libyuv::ARGBToRGB565(argb2.data(), 4 * w, reinterpret_cast<uint8_t*>(rgb2.data()), 2 * w, w, h);
            },
            px),
        "RGB565ToARGB + ARGBMirror + ARGBToRGB565");
    row("gMirrorImageRGB565 1" + size,
        megapixelsPerSecond([&] { gMirrorImageRGB565(rgb.data(), rgb2.data(), w, h, 1); }, px),
        megapixelsPerSecond(
            [&] {
                // A negative height makes libyuv walk the source bottom-up.
                libyuv::ARGBCopy(reinterpret_cast<const uint8_t*>(rgb.data()), 2 * w,
                                 reinterpret_cast<uint8_t*>(rgb2.data()), 2 * w, w / 2, -h);
            },
            px),
        "ARGBCopy with negative height");
}

// gScaleFrame at the renderer's kinds of ratio: up, 2:1 down and 4:1 x 3:1 down.
void benchScalers(std::mt19937& rng) {
    const int scales[][4] = {{176, 144, 320, 240}, {640, 480, 320, 240}, {1280, 720, 320, 240}};
    for (const auto& s : scales) {
        I420 src(s[0], s[1], rng), dst(s[2], s[3], rng);
        const double px = double(s[2]) * s[3];
        const std::string name = "gScaleFrame " + std::to_string(s[0]) + "x" + std::to_string(s[1]) + " -> " +
                                 std::to_string(s[2]) + "x" + std::to_string(s[3]);
        const double ours = megapixelsPerSecond([&] { gScaleFrame(&src.desc, &dst.desc); }, px);
        const double peer = megapixelsPerSecond(
            [&] {
                libyuv::I420Scale(src.y.data(), s[0], src.u.data(), s[0] / 2, src.v.data(), s[0] / 2, s[0], s[1],
                                  dst.y.data(), s[2], dst.u.data(), s[2] / 2, dst.v.data(), s[2] / 2, s[2], s[3],
                                  libyuv::kFilterBilinear);
            },
            px);
        row(name, ours, peer, "I420Scale bilinear");
    }
    std::printf("(scalers: megapixels of the destination per second)\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::mt19937 rng(1);
    if (argc > 1 && std::string(argv[1]) == "--other") {
        benchOtherConversions(rng);  // just the section below the scalers
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--scalers") {
        benchScalers(rng);
        return 0;
    }
    const int sizes[][2] = {{176, 144}, {320, 240}, {640, 480}, {1280, 720}};
    std::printf("%-34s %9s %9s  %6s\n", "operation", "Pixkit", "libyuv", "ratio");

    for (const auto& s : sizes) {
        const int w = s[0], h = s[1];
        I420 src(w, h, rng);
        I420 turned(h, w, rng);  // the peer's rotate destination
        std::vector<uint16_t> rgb(size_t(w) * h);
        const double px = double(w) * h;
        const std::string size = std::to_string(w) + "x" + std::to_string(h);

        const double peerConvert = megapixelsPerSecond(
            [&] {
                libyuv::I420ToRGB565(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2,
                                     reinterpret_cast<uint8_t*>(rgb.data()), 2 * w, w, h);
            },
            px);
        for (int code = 0; code < 4; ++code) {
            const bool quarter = code & 1;
            const int dw = quarter ? h : w, dh = quarter ? w : h;
            const double ours = megapixelsPerSecond(
                [&] {
                    gYUV420toBGR565TopDown_Rotate(&src.desc, rgb.data(), 0, 0, uint16_t(w), uint16_t(h), 0, 0,
                                                  uint16_t(dw), uint16_t(dh), uint8_t(code));
                },
                px);
            const std::string name = "rotate code " + std::to_string(code) + " " + size;
            row(name, ours, peerConvert, "I420ToRGB565");
            if (code == 0) continue;
            const libyuv::RotationMode mode =
                code == 1 ? libyuv::kRotate90 : code == 2 ? libyuv::kRotate180 : libyuv::kRotate270;
            const double peer = megapixelsPerSecond(
                [&] {
                    libyuv::I420Rotate(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2,
                                       turned.y.data(), dw, turned.u.data(), dw / 2, turned.v.data(), dw / 2, w, h,
                                       mode);
                    libyuv::I420ToRGB565(turned.y.data(), dw, turned.u.data(), dw / 2, turned.v.data(), dw / 2,
                                         reinterpret_cast<uint8_t*>(rgb.data()), 2 * dw, dw, dh);
                },
                px);
            row(name, ours, peer, "I420Rotate + I420ToRGB565");
        }
    }

    benchScalers(rng);
    benchOtherConversions(rng);
    return 0;
}
