// The video window: its class, the messages the renderer handles itself and
// the IVideoWindow / IBasicVideo calls it answers.
#include "renderer_fixture.h"

namespace {

bool hasEvent(SimpleGraph& g, LONG code) {
    for (const GraphEvent& e : g.Events())
        if (e.code == code) return true;
    return false;
}

TEST(VideoWindow, ClassIsParvixVideoRenderer) {
    RendererRig rig;
    EXPECT_EQ(FindWindowW(L"ParvixVideoRenderer", nullptr) != nullptr, true);
}

TEST(VideoWindow, StyleIsClipChildren) {
    RendererRig rig;
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(rig.Hwnd(), GWL_STYLE)) & ~WS_VISIBLE, WS_CLIPCHILDREN);
}

TEST(VideoWindow, ExtendedStyleIsZero) {
    RendererRig rig;
    EXPECT_EQ(GetWindowLongW(rig.Hwnd(), GWL_EXSTYLE), 0);
}

TEST(VideoWindow, SetWindowPositionMovesAndSizes) {
    RendererRig rig;
    rig.Place(5, 6, 100, 80);
    RECT rc;
    GetWindowRect(rig.Hwnd(), &rc);
    EXPECT_TRUE(rc.left == 5 && rc.top == 6 && rc.right == 105 && rc.bottom == 86);
}

TEST(VideoWindow, GetWindowPositionRefusesNull) {
    RendererRig rig;
    LONG l, t, w;
    EXPECT_EQ(rig.window->GetWindowPosition(&l, &t, &w, nullptr), E_POINTER);
}

TEST(VideoWindow, NegativeSizeIsRefused) {
    RendererRig rig;
    EXPECT_EQ(rig.window->SetWindowPosition(0, 0, -1, 10), E_INVALIDARG);
}

TEST(VideoWindow, PausingShowsTheWindow) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.graph.Pause();
    EXPECT_TRUE(IsWindowVisible(rig.Hwnd()));
}

TEST(VideoWindow, PausingBringsItToTheForeground) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.graph.Pause();
    EXPECT_EQ(GetForegroundWindow(), rig.Hwnd());
}

TEST(VideoWindow, AutoShowOffKeepsItHidden) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.window->put_AutoShow(OAFALSE);
    rig.graph.Pause();
    EXPECT_FALSE(IsWindowVisible(rig.Hwnd()));
}

TEST(WindowMessages, CloseSendsUserAbort) {
    RendererRig rig;
    SendMessageW(rig.Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(hasEvent(rig.graph, EC_USERABORT));
}

TEST(WindowMessages, CloseHidesTheWindow) {
    RendererRig rig;
    rig.window->put_Visible(OATRUE);
    SendMessageW(rig.Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(rig.Hwnd()));
}

TEST(WindowMessages, CloseKeepsTheWindowAndTheFilter) {
    RendererRig rig;
    SendMessageW(rig.Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(rig.Hwnd()));
}

TEST(WindowMessages, ActivateSendsEcActivateWithTheFilter) {
    RendererRig rig;
    SendMessageW(rig.Hwnd(), WM_ACTIVATE, WA_ACTIVE, 0);
    bool found = false;
    for (const GraphEvent& e : rig.graph.Events())
        if (e.code == EC_ACTIVATE && e.param1 == WA_ACTIVE && e.param2 == reinterpret_cast<LONG_PTR>(rig.base))
            found = true;
    EXPECT_TRUE(found);
}

TEST(WindowMessages, ActivateReturnsZero) {
    RendererRig rig;
    EXPECT_EQ(SendMessageW(rig.Hwnd(), WM_ACTIVATE, WA_ACTIVE, 0), 0);
}

TEST(WindowMessages, DeactivateSendsNothing) {
    RendererRig rig;
    SendMessageW(rig.Hwnd(), WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_FALSE(hasEvent(rig.graph, EC_ACTIVATE));
}

TEST(WindowMessages, SetCursorWithTheCursorHiddenClearsIt) {
    RendererRig rig;
    rig.window->HideCursor(OATRUE);
    SetCursor(reinterpret_cast<HCURSOR>(0x1234));
    SendMessageW(rig.Hwnd(), WM_SETCURSOR, 0, 0);
    EXPECT_EQ(GetCursor(), nullptr);
}

TEST(WindowMessages, SetCursorWithTheCursorShownLeavesIt) {
    RendererRig rig;
    SetCursor(reinterpret_cast<HCURSOR>(0x1234));
    SendMessageW(rig.Hwnd(), WM_SETCURSOR, 0, 0);
    const HCURSOR c = GetCursor();
    SetCursor(nullptr);
    EXPECT_EQ(c, reinterpret_cast<HCURSOR>(0x1234));
}

TEST(WindowMessages, IsCursorHiddenReportsHideCursor) {
    RendererRig rig;
    rig.window->HideCursor(OATRUE);
    LONG hidden = OAFALSE;
    rig.window->IsCursorHidden(&hidden);
    EXPECT_EQ(hidden, OATRUE);
}

TEST(WindowMessages, EraseBackgroundFillsBlack) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    rig.Place(0, 0, 100, 80);
    rig.Fill(kMarker);
    SendMessageW(rig.Hwnd(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(GetDC(rig.Hwnd())), 0);
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 100, 80}, kBlack), 0);
}

// The poster frame held while paused comes back after an erase.
TEST(WindowMessages, EraseWhilePausedRepaintsTheLastFrame) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 176, 144);
    ASSERT_EQ(rig.video->SetDestinationPosition(0, 0, 176, 144), S_OK);
    rig.graph.Pause();
    const auto frame = QuadrantFrame(176, 144);
    std::thread streaming([&] { rig.source->DeliverFrame(frame.data(), 0, 400000); });
    FILTER_STATE state;
    ASSERT_EQ(rig.base->GetState(5000, &state), S_OK);
    rig.Fill(kMarker);
    SendMessageW(rig.Hwnd(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(GetDC(rig.Hwnd())), 0);
    int w = 0;
    const auto px = rig.Surface(&w);
    rig.graph.Stop();
    streaming.join();
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 176, 144}, kWhite), 0);
}

TEST(WindowMessages, EraseWithoutASampleLeavesOnlyBlack) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 176, 144);
    rig.graph.Pause();
    rig.Fill(kMarker);
    SendMessageW(rig.Hwnd(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(GetDC(rig.Hwnd())), 0);
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 176, 144}, kBlack), 0);
}

TEST(CurrentImage, FailsWithoutASample) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    LONG size = 0;
    EXPECT_EQ(rig.video->GetCurrentImage(&size, nullptr), E_UNEXPECTED);
}

TEST(CurrentImage, CopiesTheSourceRectangleOfThePosterFrame) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    ASSERT_EQ(rig.video->SetSourcePosition(80, 64, 16, 16), S_OK);
    rig.graph.Pause();
    const auto frame = QuadrantFrame(176, 144);
    std::thread streaming([&] { rig.source->DeliverFrame(frame.data(), 0, 400000); });
    FILTER_STATE state;
    rig.base->GetState(5000, &state);
    LONG size = 0;
    rig.video->GetCurrentImage(&size, nullptr);
    std::vector<LONG> image(static_cast<size_t>(size + 3) / 4);
    const HRESULT hr = rig.video->GetCurrentImage(&size, image.data());
    rig.graph.Stop();
    streaming.join();
    const BYTE* luma = reinterpret_cast<const BYTE*>(image.data()) + sizeof(BITMAPINFOHEADER);
    // Rows 64..79, columns 80..95: grey above-left of (88, 72), white elsewhere.
    EXPECT_TRUE(hr == S_OK && size == 40 + 16 * 16 * 3 / 2 && luma[0] == 128 && luma[15] == 255 && luma[255] == 255);
}

} // namespace
