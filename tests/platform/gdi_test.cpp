// Windows, their messages and the GDI calls on a window's pixel surface.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "presenter.h"
#include "winuser.h"

namespace {

std::atomic<bool> gSentHandled{false};

LRESULT recordThread(HWND, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_USER) {
        *reinterpret_cast<std::thread::id*>(wParam) = std::this_thread::get_id();
        gSentHandled = true;
    }
    return msg == WM_USER + 1 ? 42 : 0;
}

// A window of the calling thread, w x h, destroyed with the fixture.
class Surface : public ::testing::Test {
protected:
    void make(int w, int h) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = recordThread;
        wc.lpszClassName = L"GdiTestWindow";
        RegisterClassW(&wc);
        hwnd = CreateWindowExW(0, L"GdiTestWindow", L"", 0, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        width = w;
    }
    void TearDown() override {
        if (hwnd) DestroyWindow(hwnd);
    }
    std::vector<uint16_t> pixels() {
        std::vector<uint16_t> px;
        int w = 0, h = 0;
        CopyWindowSurface(hwnd, &px, &w, &h);
        return px;
    }
    uint16_t at(int x, int y) { return pixels()[static_cast<size_t>(y * width + x)]; }
    // A 16-bit DIB header with the 565 masks.
    struct Dib {
        BITMAPINFOHEADER h;
        DWORD masks[3];
    };
    static Dib dib(LONG w, LONG h) {
        Dib d{};
        d.h.biSize = 40;
        d.h.biWidth = w;
        d.h.biHeight = h;
        d.h.biPlanes = 1;
        d.h.biBitCount = 16;
        d.h.biCompression = BI_BITFIELDS;
        d.masks[0] = 0xF800;
        d.masks[1] = 0x07E0;
        d.masks[2] = 0x001F;
        return d;
    }
    int blit(int x, int y, LONG w, LONG h, const std::vector<uint16_t>& bits, Dib d) {
        return SetDIBitsToDevice(GetDC(hwnd), x, y, static_cast<DWORD>(w), static_cast<DWORD>(h < 0 ? -h : h), 0, 0, 0,
                                 static_cast<UINT>(h < 0 ? -h : h), bits.data(), reinterpret_cast<BITMAPINFO*>(&d),
                                 DIB_RGB_COLORS);
    }
    HWND hwnd = nullptr;
    int width = 0;
};

TEST_F(Surface, NewWindowIsBlack) {
    make(4, 3);
    EXPECT_EQ(pixels(), std::vector<uint16_t>(12, 0));
}

TEST_F(Surface, BottomUpDibPutsItsFirstRowAtTheBottom) {
    make(2, 2);
    blit(0, 0, 2, 2, {1, 2, 3, 4}, dib(2, 2));
    EXPECT_EQ(pixels(), (std::vector<uint16_t>{3, 4, 1, 2}));
}

TEST_F(Surface, TopDownDibKeepsItsRowOrder) {
    make(2, 2);
    blit(0, 0, 2, -2, {1, 2, 3, 4}, dib(2, -2));
    EXPECT_EQ(pixels(), (std::vector<uint16_t>{1, 2, 3, 4}));
}

TEST_F(Surface, OddWidthRowsArePaddedToFourBytes) {
    make(3, 2);
    // Rows of 3 pixels take 8 bytes: the fourth word of each is padding.
    blit(0, 0, 3, 2, {1, 2, 3, 99, 4, 5, 6, 99}, dib(3, 2));
    EXPECT_EQ(pixels(), (std::vector<uint16_t>{4, 5, 6, 1, 2, 3}));
}

TEST_F(Surface, BlitIsClippedToTheWindow) {
    make(2, 2);
    blit(-1, 1, 2, 2, {1, 2, 3, 4}, dib(2, 2));
    EXPECT_EQ(pixels(), (std::vector<uint16_t>{0, 0, 4, 0}));
}

TEST_F(Surface, BlitFarOutsideWritesNothing) {
    make(2, 2);
    blit(5000, -5000, 2, 2, {1, 2, 3, 4}, dib(2, 2));
    EXPECT_EQ(pixels(), std::vector<uint16_t>(4, 0));
}

TEST_F(Surface, BlitReturnsTheScanLines) {
    make(2, 2);
    EXPECT_EQ(blit(0, 0, 2, 2, {1, 2, 3, 4}, dib(2, 2)), 2);
}

TEST_F(Surface, OtherMasksAreRefused) {
    make(2, 2);
    Dib d = dib(2, 2);
    d.masks[0] = 0x00FF;
    EXPECT_EQ(blit(0, 0, 2, 2, {1, 2, 3, 4}, d), 0);
}

TEST_F(Surface, EightBitDibIsRefused) {
    make(2, 2);
    Dib d = dib(2, 2);
    d.h.biBitCount = 8;
    EXPECT_EQ(blit(0, 0, 2, 2, {1, 2, 3, 4}, d), 0);
}

TEST_F(Surface, Rgb555IsWidenedTo565) {
    make(1, 1);
    Dib d = dib(1, 1);
    d.h.biCompression = BI_RGB;
    blit(0, 0, 1, 1, {0x7FFF, 0}, d);
    EXPECT_EQ(at(0, 0), 0xFFFF);
}

TEST_F(Surface, FillRectIsClipped) {
    make(3, 2);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    RECT rc{2, -5, 10, 1};
    FillRect(GetDC(hwnd), &rc, red);
    DeleteObject(red);
    EXPECT_EQ(pixels(), (std::vector<uint16_t>{0, 0, 0xF800, 0, 0, 0}));
}

TEST_F(Surface, BlackStockBrushFillsZero) {
    make(2, 1);
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    RECT rc{0, 0, 2, 1};
    FillRect(GetDC(hwnd), &rc, white);
    FillRect(GetDC(hwnd), &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DeleteObject(white);
    EXPECT_EQ(pixels(), std::vector<uint16_t>(2, 0));
}

TEST_F(Surface, ResizingLaysANewSurface) {
    make(2, 2);
    SetWindowPos(hwnd, nullptr, 0, 0, 5, 4, SWP_NOMOVE);
    EXPECT_EQ(pixels().size(), 20u);
}

TEST_F(Surface, StaleDcPaintsNothing) {
    make(2, 2);
    HDC dc = GetDC(hwnd);
    DestroyWindow(hwnd);
    hwnd = nullptr;
    RECT rc{0, 0, 2, 2};
    EXPECT_EQ(FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
}

TEST_F(Surface, SentMessageRunsOnTheOwnerThread) {
    make(1, 1);
    std::thread::id ran;
    gSentHandled = false;
    std::thread sender([&] { SendMessageW(hwnd, WM_USER, reinterpret_cast<WPARAM>(&ran), 0); });
    MSG msg;
    // The owner's loop delivers the sent message; a posted one ends it.
    std::thread poster([&] {
        while (!gSentHandled) std::this_thread::yield();
        PostMessageW(hwnd, WM_USER + 2, 0, 0);
    });
    while (GetMessageW(&msg, nullptr, 0, 0) && msg.message != WM_USER + 2) DispatchMessageW(&msg);
    sender.join();
    poster.join();
    EXPECT_EQ(ran, std::this_thread::get_id());
}

TEST_F(Surface, SendMessageReturnsTheResult) {
    make(1, 1);
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 1, 0, 0), 42);
}

TEST_F(Surface, QuitMessageEndsTheLoop) {
    make(1, 1);
    PostQuitMessage(3);
    MSG msg;
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0) == FALSE && msg.wParam == 3);
}

TEST(Screen, DefaultIsPortrait240x320) {
    unsetenv("SONADEC_SCREEN");
    EXPECT_TRUE(GetSystemMetrics(SM_CXSCREEN) == 240 && GetSystemMetrics(SM_CYSCREEN) == 320);
}

TEST(Screen, SizeComesFromTheEnvironment) {
    setenv("SONADEC_SCREEN", "320x240", 1);
    const bool ok = GetSystemMetrics(SM_CXSCREEN) == 320 && GetSystemMetrics(SM_CYSCREEN) == 240;
    unsetenv("SONADEC_SCREEN");
    EXPECT_TRUE(ok);
}

TEST(Screen, MalformedSizeKeepsTheDefault) {
    setenv("SONADEC_SCREEN", "wide", 1);
    const int w = GetSystemMetrics(SM_CXSCREEN);
    unsetenv("SONADEC_SCREEN");
    EXPECT_EQ(w, 240);
}

TEST(Screen, TestQueryReportsTheOrientation) {
    setenv("SONADEC_ORIENTATION", "270", 1);
    DEVMODEW mode{};
    mode.dmSize = 192;
    mode.dmFields = DM_DISPLAYORIENTATION;
    const LONG r = ChangeDisplaySettingsExW(nullptr, &mode, nullptr, CDS_TEST, nullptr);
    unsetenv("SONADEC_ORIENTATION");
    EXPECT_TRUE(r == DISP_CHANGE_SUCCESSFUL && mode.dmDisplayOrientation == DMDO_270);
}

TEST(Screen, ModeChangesAreRefused) {
    DEVMODEW mode{};
    mode.dmFields = DM_DISPLAYORIENTATION;
    EXPECT_EQ(ChangeDisplaySettingsExW(nullptr, &mode, nullptr, 0, nullptr), DISP_CHANGE_BADFLAGS);
}

TEST(Png, ChannelsWidenToEightBits) {
    if (!PngWriterAvailable()) GTEST_SKIP() << "no libpng in this build";
    const std::string path = (std::filesystem::temp_directory_path() / "platform-png-test.png").string();
    ASSERT_EQ(SavePixelsPng({0xF800, 0x07E0, 0x001F, 0x8410}, 2, 2, path.c_str()), S_OK);
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    ASSERT_EQ(LoadPngRgb(path.c_str(), &rgb, &w, &h), S_OK);
    std::filesystem::remove(path);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 132, 130, 132}));
}

TEST(Png, WrongPixelCountIsRefused) {
    EXPECT_EQ(SavePixelsPng({1, 2, 3}, 2, 2, "/tmp/never-written.png"), E_INVALIDARG);
}

} // namespace
