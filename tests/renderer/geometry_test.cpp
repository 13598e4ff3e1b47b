// Where and how large a frame lands on the window surface.
#include "renderer_fixture.h"

namespace {

struct FitCase {
    LONG w, h, fitW, fitH;
};

class FitSize : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitSize, FitsTheVideoIntoTheWorkBuffersWithEvenSides) {
    const FitCase c = GetParam();
    RendererRig rig;
    ASSERT_EQ(rig.Connect(c.w, c.h), S_OK);
    EXPECT_EQ(std::make_pair(rig.filter->FitWidth(), rig.filter->FitHeight()), std::make_pair(c.fitW, c.fitH));
}

INSTANTIATE_TEST_SUITE_P(Renderer, FitSize,
                         ::testing::Values(FitCase{176, 144, 294, 240}, FitCase{640, 480, 320, 240},
                                           FitCase{400, 200, 320, 160}, FitCase{300, 400, 180, 240},
                                           FitCase{320, 240, 320, 240}, FitCase{2, 2, 240, 240}));

TEST(RotationCode, AddsQuarterTurnsAndWrapsPastThree) {
    EXPECT_EQ(RotationCodeFor(0, 0), 0);
    EXPECT_EQ(RotationCodeFor(0, 90), 1);
    EXPECT_EQ(RotationCodeFor(1, 180), 3);
    EXPECT_EQ(RotationCodeFor(1, 270), 0);
    EXPECT_EQ(RotationCodeFor(1, 45), 1);
}

// 176 x 144 in a 240 x 196 window with no destination rectangle.
class Windowed : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(rig.Connect(176, 144), S_OK);
        rig.Place(0, 0, 240, 196);
        rig.Fill(kMarker);
    }
    ScreenEnv screen{"240x320", "0"};
    RendererRig rig;
};

TEST_F(Windowed, EmptyDestinationBecomesTheWholeWindow) {
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.destDefaulted && l.dW == 240 && l.dH == 196);
}

TEST_F(Windowed, ScalesTheFrameToTheWindow) {
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.scaled && l.tW == 240 && l.tH == 196 && l.posX == 0 && l.posY == 0);
}

TEST_F(Windowed, PicturePaintsTheWholeSurface) {
    rig.Paint(QuadrantFrame(176, 144));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 240, 196}, kWhite), 0);
}

TEST_F(Windowed, PictureIsUpright) {
    rig.Paint(QuadrantFrame(176, 144));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(std::make_pair(px[10 * w + 10], px[180 * w + 230]), std::make_pair(kGrey, kWhite));
}

TEST_F(Windowed, BackgroundIsFilledOnce) {
    rig.Paint(QuadrantFrame(176, 144));
    EXPECT_TRUE(rig.filter->WindowedBackgroundPainted());
}

TEST_F(Windowed, DestinationRectangleInsideTheWindowIsNotScaled) {
    ASSERT_EQ(rig.video->SetDestinationPosition(10, 20, 100, 80), S_OK);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(!l.scaled && l.outW == 100 && l.outH == 80 && l.posX == 10 && l.posY == 20);
}

TEST_F(Windowed, DestinationRectangleCarriesTheClippedPicture) {
    ASSERT_EQ(rig.video->SetDestinationPosition(10, 20, 100, 80), S_OK);
    rig.Paint(QuadrantFrame(176, 144));
    int w = 0;
    const auto px = rig.Surface(&w);
    // The converter keeps the frame's top-left 100 x 80, upright: its grey
    // quadrant's 88 x 72 then white.
    EXPECT_EQ(Mismatches(px, w, RECT{10, 20, 98, 92}, kGrey) + Mismatches(px, w, RECT{98, 20, 110, 100}, kWhite) +
                  (px[95 * w + 50] == kWhite ? 0 : 1),
              0);
}

TEST_F(Windowed, DestinationRectangleLeavesTheRestUntouched) {
    ASSERT_EQ(rig.video->SetDestinationPosition(10, 20, 100, 80), S_OK);
    rig.Paint(QuadrantFrame(176, 144));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 240, 20}, kMarker) + Mismatches(px, w, RECT{0, 100, 240, 196}, kMarker) +
                  Mismatches(px, w, RECT{0, 20, 10, 100}, kMarker) + Mismatches(px, w, RECT{110, 20, 240, 100}, kMarker),
              0);
}

TEST_F(Windowed, QuarterTurnSwapsTheOutputAndThePosition) {
    rig.SetRotation(90);
    ASSERT_EQ(rig.video->SetDestinationPosition(10, 20, 100, 80), S_OK);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.rotationCode == 1 && l.outW == 80 && l.outH == 100 && l.posX == 20 && l.posY == 10);
}

// 300 x 400 in 280 x 300: the fitted picture, 224 x 300 at (28, 0), leaves
// black bands at the sides, filled with the first frame only.
class WindowedBands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(rig.Connect(300, 400), S_OK);
        rig.Place(0, 0, 280, 300);
        rig.Fill(kMarker);
        rig.Paint(QuadrantFrame(300, 400));
    }
    ScreenEnv screen{"240x320", "0"};
    RendererRig rig;
};

TEST_F(WindowedBands, PictureIsCentredAtFittedSize) {
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 28, 300}, kBlack) + Mismatches(px, w, RECT{28, 0, 252, 300}, kWhite) +
                  Mismatches(px, w, RECT{252, 0, 280, 300}, kBlack),
              0);
}

TEST_F(WindowedBands, SecondFrameDoesNotFillAgain) {
    rig.Fill(kMarker);
    rig.Paint(QuadrantFrame(300, 400));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 28, 300}, kMarker), 0);
}

// 320 x 240 in 240 x 196: dW 261 made 260, dL -10, cropped at (10, 0).
TEST(WindowedCrop, VideoLargerThanTheWindowIsCroppedNotScaled) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(320, 240), S_OK);
    rig.Place(0, 0, 240, 196);
    rig.Paint(QuadrantFrame(320, 240));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(!l.scaled && l.dW == 260 && l.dL == -10 && l.srcX == 10 && l.srcY == 0 && l.srcW == 240 &&
                l.srcH == 196 && l.outW == 240 && l.outH == 196 && l.posX == 0 && l.posY == 0);
}

TEST(WindowedCrop, CropShowsTheSourceWindowAtTenZero) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(320, 240), S_OK);
    rig.Place(0, 0, 240, 196);
    rig.Paint(QuadrantFrame(320, 240));
    int w = 0;
    const auto px = rig.Surface(&w);
    // Source columns 10..159 are the grey quadrant: window columns 0..149.
    EXPECT_EQ(std::make_pair(px[10 * w + 149], px[10 * w + 151]), std::make_pair(kGrey, kWhite));
}

TEST(WindowedCrop, CropClearsTheWindowedBorderFlag) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(320, 240), S_OK);
    rig.Place(0, 0, 240, 196);
    rig.Paint(QuadrantFrame(320, 240));
    EXPECT_FALSE(rig.filter->WindowedBackgroundPainted());
}

TEST(OddSizes, WindowAndDestinationLoseTheirOddPixel) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 241, 197);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.winW == 240 && l.winH == 196 && l.dW == 240 && l.dH == 196);
}

TEST(OddSizes, OddScreenNeverCountsAsFullScreen) {
    ScreenEnv screen("241x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 241, 320);
    rig.Paint(QuadrantFrame(176, 144));
    EXPECT_FALSE(rig.filter->LastLayout().fullScreen);
}

TEST(OddSizes, OddVideoSourceWindowIsMadeEvenUpward) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(175, 143), S_OK);
    rig.Place(0, 0, 240, 196);
    ASSERT_EQ(rig.video->SetDestinationPosition(0, 0, 200, 160), S_OK);
    rig.Paint(QuadrantFrame(175, 143));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.srcW == 176 && l.srcH == 144);
}

TEST(ShortSample, BufferShorterThanAFrameIsNotPainted) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 240, 196);
    rig.Fill(kMarker);
    auto frame = QuadrantFrame(176, 144);
    frame.resize(frame.size() - 1);
    rig.Paint(frame);
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 240, 196}, kMarker), 0);
}

// Extreme but accepted formats paint, or refuse to, without touching memory
// outside the frame and the work buffers (the sanitizer builds check).
class ExtremeSizes : public ::testing::TestWithParam<std::pair<LONG, LONG>> {};

TEST_P(ExtremeSizes, PaintInEveryModeStaysInBounds) {
    const auto [w, h] = GetParam();
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(w, h), S_OK);
    const std::vector<BYTE> frame(static_cast<size_t>(w * h + (w * h) / 2), 200);
    // Every painted layout keeps within the 320 x 240 work buffers.
    int outside = 0;
    for (ULONG degrees : {0u, 90u, 180u, 270u}) {
        rig.SetRotation(degrees);
        for (const RECT& win : {RECT{0, 0, 240, 320}, RECT{0, 0, 200, 150}, RECT{0, 0, 30, 500}}) {
            rig.Place(win.left, win.top, win.right, win.bottom);
            rig.Paint(frame);
            const PaintLayout l = rig.filter->LastLayout();
            if (l.painted && (static_cast<int64_t>(l.outW) * l.outH > 76800 ||
                              (l.scaled && static_cast<int64_t>(l.tW) * l.tH > 76800)))
                ++outside;
        }
    }
    EXPECT_EQ(outside, 0);
}

INSTANTIATE_TEST_SUITE_P(Renderer, ExtremeSizes,
                         ::testing::Values(std::make_pair(1, 1), std::make_pair(1, 2), std::make_pair(2, 1),
                                           std::make_pair(3, 3), std::make_pair(4096, 2), std::make_pair(2, 4096)));

TEST(WindowLargerThanScreen, IsNotPainted) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 300, 400);
    rig.Fill(kMarker);
    rig.Paint(QuadrantFrame(176, 144));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 300, 400}, kMarker), 0);
}

// Full screen on a 240 x 320 portrait screen, 320 x 240 video.
class FullScreenPortrait : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(rig.Connect(320, 240), S_OK);
        rig.Place(0, 0, 240, 320);
        rig.Fill(kMarker);
    }
    ScreenEnv screen{"240x320", "0"};
    RendererRig rig;
};

TEST_F(FullScreenPortrait, TurnsTheFrameAQuarterToFillTheScreen) {
    rig.Paint(QuadrantFrame(320, 240));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.fullScreen && l.rotationCode == 1 && l.tW == 320 && l.tH == 240 && l.outW == 240 &&
                l.outH == 320 && l.posX == 0 && l.posY == 0);
}

TEST_F(FullScreenPortrait, PictureCoversTheScreen) {
    rig.Paint(QuadrantFrame(320, 240));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 240, 320}, kWhite), 0);
}

TEST_F(FullScreenPortrait, FrameTopLeftLandsBottomLeft) {
    rig.Paint(QuadrantFrame(320, 240));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(std::make_pair(px[310 * w + 10], px[10 * w + 10]), std::make_pair(kGrey, kWhite));
}

TEST_F(FullScreenPortrait, NinetyDegreesScalesTo240x180AtSeventy) {
    rig.SetRotation(90);
    rig.Paint(QuadrantFrame(320, 240));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.rotationCode == 2 && l.tW == 240 && l.tH == 180 && l.outW == 240 && l.outH == 180 &&
                l.posX == 0 && l.posY == 70);
}

TEST_F(FullScreenPortrait, NinetyDegreesLeavesBlackBandsAboveAndBelow) {
    rig.SetRotation(90);
    rig.Paint(QuadrantFrame(320, 240));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 240, 70}, kBlack) + Mismatches(px, w, RECT{0, 70, 240, 250}, kWhite) +
                  Mismatches(px, w, RECT{0, 250, 240, 320}, kBlack),
              0);
}

TEST_F(FullScreenPortrait, SecondFrameDoesNotRepaintTheBorder) {
    rig.SetRotation(90);
    rig.Paint(QuadrantFrame(320, 240));
    rig.Fill(kMarker);
    rig.Paint(QuadrantFrame(320, 240));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 240, 70}, kMarker), 0);
}

TEST_F(FullScreenPortrait, WindowedFrameInBetweenRepaintsTheBorder) {
    rig.SetRotation(90);
    rig.Paint(QuadrantFrame(320, 240));
    rig.Place(0, 0, 200, 160);
    rig.Paint(QuadrantFrame(320, 240));
    rig.Place(0, 0, 240, 320);
    rig.Fill(kMarker);
    rig.Paint(QuadrantFrame(320, 240));
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 240, 70}, kBlack), 0);
}

TEST_F(FullScreenPortrait, OwnerWindowSuppressesTheBorderFill) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"RendererTestOwner";
    RegisterClassW(&wc);
    HWND owner = CreateWindowExW(0, L"RendererTestOwner", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(rig.window->put_Owner(static_cast<OAHWND>(reinterpret_cast<intptr_t>(owner))), S_OK);
    rig.SetRotation(90);
    rig.Paint(QuadrantFrame(320, 240));
    int w = 0;
    const auto px = rig.Surface(&w);
    const bool flagged = rig.filter->FullScreenBackgroundPainted();
    rig.window->put_Owner(0);
    DestroyWindow(owner);
    EXPECT_TRUE(flagged && Mismatches(px, w, RECT{0, 0, 240, 70}, kMarker) == 0);
}

TEST(FullScreenLandscape, KeepsTheFrameUprightAtFitSize) {
    ScreenEnv screen("320x240", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 320, 240);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    // 294 x 240 centred: (320 - 294) / 2 = 13.
    EXPECT_TRUE(l.rotationCode == 0 && l.outW == 294 && l.outH == 240 && l.posX == 13 && l.posY == 0);
}

TEST(FullScreenTurnedDisplay, QuarterTurnedDisplayUsesTheFitSize) {
    ScreenEnv screen("240x320", "90");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 240, 320);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.rotationCode == 0 && l.tW == 294 && l.tH == 240 && l.outW == 294 && l.outH == 240 &&
                l.posX == -27 && l.posY == 40);
}

TEST(FullScreenTurnedDisplay, UpsideDownDisplayDrawsTheDefaults) {
    ScreenEnv screen("240x320", "180");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 240, 320);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(!l.scaled && l.rotationCode == 0 && l.outW == 240 && l.outH == 320 && l.posX == 0 && l.posY == 0);
}

// With the tray key, only the orientation-0 full-screen walk turns.
class TrayKey : public ::testing::Test {
protected:
    void connectWithTray(const char* size, const char* orientation) {
        screen = std::make_unique<ScreenEnv>(size, orientation);
        CreateKey(HKEY_LOCAL_MACHINE, L"\\Services\\VIV");
        ASSERT_EQ(rig.Connect(176, 144), S_OK);
        ASSERT_TRUE(rig.filter->TrayKeyPresent());
        rig.SetRotation(180);
    }
    RendererRig rig;
    std::unique_ptr<ScreenEnv> screen;
};

TEST_F(TrayKey, WindowedWalkStaysUpright) {
    connectWithTray("240x320", "0");
    rig.Place(0, 0, 200, 160);
    rig.Paint(QuadrantFrame(176, 144));
    EXPECT_EQ(rig.filter->LastLayout().rotationCode, 0);
}

TEST_F(TrayKey, QuarterTurnedDisplayWalkStaysUpright) {
    connectWithTray("240x320", "270");
    rig.Place(0, 0, 240, 320);
    rig.Paint(QuadrantFrame(176, 144));
    EXPECT_EQ(rig.filter->LastLayout().rotationCode, 0);
}

TEST_F(TrayKey, PortraitFullScreenStillTurns) {
    connectWithTray("240x320", "0");
    rig.Place(0, 0, 240, 320);
    rig.Paint(QuadrantFrame(176, 144));
    EXPECT_EQ(rig.filter->LastLayout().rotationCode, 3);
}

TEST_F(TrayKey, LandscapeFullScreenStillTurns) {
    connectWithTray("320x240", "0");
    rig.Place(0, 0, 320, 240);
    rig.Paint(QuadrantFrame(176, 144));
    EXPECT_EQ(rig.filter->LastLayout().rotationCode, 2);
}

// Outputs beyond the 320 x 240 work buffers.
TEST(WorkBufferBound, LargeWindowScalesNoFurtherThanTheBuffer) {
    ScreenEnv screen("800x600", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 700, 500);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.scaled && l.tW == 328 && l.tH == 234);
}

TEST(WorkBufferBound, LargeUnscaledDestinationLosesRows) {
    ScreenEnv screen("800x600", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 700, 500);
    ASSERT_EQ(rig.video->SetDestinationPosition(0, 0, 700, 500), S_OK);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(!l.scaled && l.outW == 700 && l.outH == 108);
}

TEST(WorkBufferBound, ScaledFrameKeepsItsShape) {
    ScreenEnv screen("800x600", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 700, 500);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    // 700 x 500 shrinks to 328 x 234 (ratio within one even step).
    EXPECT_TRUE(l.tW == l.outW && l.tH == l.outH && std::abs(l.tW * 500 - l.tH * 700) <= 2 * 700);
}

TEST(WorkBufferBound, FullScreenOnALargeScreenStaysInTheBuffer) {
    ScreenEnv screen("480x640", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(320, 240), S_OK);
    rig.SetRotation(90);
    rig.Place(0, 0, 480, 640);
    rig.Paint(QuadrantFrame(320, 240));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.painted && static_cast<int64_t>(l.outW) * l.outH <= 76800 &&
                static_cast<int64_t>(l.tW) * l.tH <= 76800);
}

TEST(WorkBufferBound, WideUnscaledOutputLosesRows) {
    ScreenEnv screen("2000x2000", "180");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 2000, 2000);
    rig.Paint(QuadrantFrame(176, 144));
    const PaintLayout l = rig.filter->LastLayout();
    EXPECT_TRUE(l.outW == 2000 && l.outH == 38);
}

} // namespace
