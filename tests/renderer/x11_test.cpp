// The live X11 window shows, pixel for pixel, what the PNG of the same
// window surface holds.
#include <filesystem>

#include "renderer_fixture.h"

namespace {

class LiveWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(rig.Connect(176, 144), S_OK);
        rig.Place(0, 0, 240, 196);
        rig.SetRotation(90);
        rig.Paint(QuadrantFrame(176, 144));
        presenter = OpenX11Presenter(rig.Hwnd(), "renderer test");
        if (presenter == nullptr) GTEST_SKIP() << "no X display";
        png = (std::filesystem::temp_directory_path() / ("vistarend-live-" + std::to_string(getpid()) + ".png")).string();
    }
    void TearDown() override {
        CloseX11Presenter(presenter);
        if (!png.empty()) std::filesystem::remove(png);
    }
    ScreenEnv screen{"240x320", "0"};
    RendererRig rig;
    X11Presenter* presenter = nullptr;
    std::string png;
};

TEST_F(LiveWindow, ScreenshotEqualsThePng) {
    ASSERT_EQ(SaveWindowPng(rig.Hwnd(), png.c_str()), S_OK);
    ASSERT_EQ(PresentX11(presenter), S_OK);
    std::vector<uint8_t> shot, file;
    int sw = 0, sh = 0, fw = 0, fh = 0;
    ASSERT_EQ(CaptureX11(presenter, &shot, &sw, &sh), S_OK);
    ASSERT_EQ(LoadPngRgb(png.c_str(), &file, &fw, &fh), S_OK);
    EXPECT_TRUE(sw == fw && sh == fh && shot == file);
}

TEST_F(LiveWindow, ScreenshotShowsThePicture) {
    ASSERT_EQ(PresentX11(presenter), S_OK);
    std::vector<uint8_t> shot;
    int sw = 0, sh = 0;
    ASSERT_EQ(CaptureX11(presenter, &shot, &sw, &sh), S_OK);
    // White (the frame) somewhere, and the window's size.
    bool white = false;
    for (size_t i = 0; i + 2 < shot.size(); i += 3)
        if (shot[i] == 255 && shot[i + 1] == 255 && shot[i + 2] == 255) white = true;
    EXPECT_TRUE(sw == 240 && sh == 196 && white);
}

} // namespace
