// Samples through the framework's scheduling against a manual clock.
#include "renderer_fixture.h"

namespace {

constexpr REFERENCE_TIME kFrame = 40 * MILLISECONDS;

// Waits (bounded) until `done` holds.
template <class F>
bool eventually(F done, int ms = 5000) {
    for (int i = 0; i < ms; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

class Streaming : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(rig.Connect(176, 144), S_OK);
        rig.Place(0, 0, 176, 144);
        rig.graph.SetClock(&clock);
    }
    void TearDown() override {
        rig.graph.Stop();
        for (std::thread& t : threads) t.join();
        rig.graph.SetClock(nullptr);
    }
    // Delivers frames with the given start times on a streaming thread.
    void stream(std::vector<REFERENCE_TIME> starts, bool endOfStream = false) {
        threads.emplace_back([this, starts, endOfStream] {
            for (REFERENCE_TIME s : starts) results.push_back(rig.source->DeliverFrame(frame.data(), s, s + kFrame));
            if (endOfStream) rig.source->DeliverEndOfStream();
        });
    }
    LONG drawn() { return rig.filter->FramesDrawn(); }

    ScreenEnv screen{"240x320", "0"};
    RendererRig rig;
    ManualClock clock;
    std::vector<BYTE> frame = QuadrantFrame(176, 144);
    std::vector<std::thread> threads;
    std::vector<HRESULT> results;
};

TEST_F(Streaming, FirstSampleDueAtOnceIsDrawn) {
    rig.graph.Run(0);
    stream({0});
    EXPECT_TRUE(eventually([&] { return drawn() == 1; }));
}

TEST_F(Streaming, LaterSampleWaitsForItsTime) {
    rig.graph.Run(0);
    stream({0, kFrame});
    ASSERT_TRUE(clock.WaitForAdvise(kFrame));
    EXPECT_EQ(drawn(), 1);
}

TEST_F(Streaming, LaterSampleIsDrawnWhenTheClockGetsThere) {
    rig.graph.Run(0);
    stream({0, kFrame});
    ASSERT_TRUE(clock.WaitForAdvise(kFrame));
    clock.SetTime(kFrame);
    EXPECT_TRUE(eventually([&] { return drawn() == 2; }));
}

TEST_F(Streaming, SamplesAreDrawnInOrderAtTheirTimes) {
    rig.graph.Run(0);
    stream({0, kFrame, 2 * kFrame});
    std::vector<LONG> seen;
    for (REFERENCE_TIME t : {kFrame, 2 * kFrame}) {
        ASSERT_TRUE(clock.WaitForAdvise(t));
        seen.push_back(drawn());
        clock.SetTime(t);
    }
    ASSERT_TRUE(eventually([&] { return drawn() == 3; }));
    EXPECT_EQ(seen, (std::vector<LONG>{1, 2}));
}

TEST_F(Streaming, StreamTimeCountsFromTheRunStart) {
    clock.SetTime(1000 * MILLISECONDS);
    rig.graph.Run(1000 * MILLISECONDS);
    stream({kFrame});
    EXPECT_TRUE(clock.WaitForAdvise(1000 * MILLISECONDS + kFrame));
}

TEST_F(Streaming, LateSampleIsDrawnAtOnce) {
    clock.SetTime(100 * MILLISECONDS);
    rig.graph.Run(0);
    stream({kFrame});
    EXPECT_TRUE(eventually([&] { return drawn() == 1; }));
}

TEST_F(Streaming, LateSampleIsCountedLate) {
    clock.SetTime(100 * MILLISECONDS);
    rig.graph.Run(0);
    stream({kFrame});
    ASSERT_TRUE(eventually([&] { return drawn() == 1; }));
    EXPECT_EQ(rig.filter->FramesLate(), 1);
}

TEST_F(Streaming, LateSampleTellsTheSourceHowLate) {
    clock.SetTime(100 * MILLISECONDS);
    rig.graph.Run(0);
    stream({kFrame});
    ASSERT_TRUE(eventually([&] { return rig.source->LateNotifications() == 1; }));
    EXPECT_EQ(rig.source->LastLate(), 60 * MILLISECONDS);
}

TEST_F(Streaming, PausedShowsThePosterFrame) {
    rig.Fill(kMarker);
    ASSERT_EQ(rig.video->SetDestinationPosition(0, 0, 176, 144), S_OK);
    rig.graph.Pause();
    stream({0});
    FILTER_STATE state;
    ASSERT_EQ(rig.base->GetState(5000, &state), S_OK);
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 176, 144}, kWhite), 0);
}

TEST_F(Streaming, PauseIsIntermediateUntilTheFirstSample) {
    rig.graph.Pause();
    FILTER_STATE state;
    EXPECT_EQ(rig.base->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
}

TEST_F(Streaming, GetStateWithoutTimeLimitWaitsForThePosterFrame) {
    rig.graph.Pause();
    stream({0});
    FILTER_STATE state;
    EXPECT_EQ(rig.base->GetState(INFINITE, &state), S_OK);
}

TEST_F(Streaming, PausedHoldsTheSampleWithoutDrawingIt) {
    rig.graph.Pause();
    stream({0});
    FILTER_STATE state;
    ASSERT_EQ(rig.base->GetState(5000, &state), S_OK);
    EXPECT_TRUE(rig.filter->IsStreaming() && drawn() == 0);
}

TEST_F(Streaming, RunAfterPauseDrawsTheHeldSample) {
    rig.graph.Pause();
    stream({0});
    FILTER_STATE state;
    ASSERT_EQ(rig.base->GetState(5000, &state), S_OK);
    rig.graph.Run(0);
    EXPECT_TRUE(eventually([&] { return drawn() == 1; }));
}

TEST_F(Streaming, StopReleasesAWaitingReceive) {
    rig.graph.Run(0);
    stream({kFrame});
    ASSERT_TRUE(clock.WaitForAdvise(kFrame));
    rig.graph.Stop();
    EXPECT_TRUE(eventually([&] { return !rig.filter->IsStreaming(); }));
}

TEST_F(Streaming, StopDropsTheWaitingSample) {
    rig.graph.Run(0);
    stream({kFrame});
    ASSERT_TRUE(clock.WaitForAdvise(kFrame));
    rig.graph.Stop();
    EXPECT_TRUE(eventually([&] { return rig.filter->FramesDropped() == 1; }));
}

TEST_F(Streaming, FlushReleasesAWaitingReceive) {
    rig.graph.Run(0);
    stream({kFrame});
    ASSERT_TRUE(clock.WaitForAdvise(kFrame));
    rig.source->DeliverBeginFlush();
    const bool released = eventually([&] { return !rig.filter->IsStreaming(); });
    rig.source->DeliverEndFlush();
    EXPECT_TRUE(released && drawn() == 0);
}

TEST_F(Streaming, SamplesDuringAFlushAreRefused) {
    rig.graph.Run(0);
    rig.source->DeliverBeginFlush();
    const HRESULT hr = rig.source->DeliverFrame(frame.data(), 0, kFrame);
    rig.source->DeliverEndFlush();
    EXPECT_EQ(hr, S_FALSE);
}

TEST_F(Streaming, StoppedRendererRefusesSamples) {
    IMemInputPin* input = nullptr;
    rig.filter->GetPin(0)->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    BufferSample sample(frame);
    const HRESULT hr = input->Receive(&sample);
    input->Release();
    EXPECT_EQ(hr, VFW_E_WRONG_STATE);
}

TEST_F(Streaming, EndOfStreamAfterTheLastFrameCompletes) {
    rig.graph.Run(0);
    stream({0}, true);
    EXPECT_TRUE(rig.graph.WaitForEvent(EC_COMPLETE, 5000));
}

TEST_F(Streaming, CompletionNamesTheRenderer) {
    rig.graph.Run(0);
    stream({0}, true);
    ASSERT_TRUE(rig.graph.WaitForEvent(EC_COMPLETE, 5000));
    LONG_PTR who = 0;
    for (const GraphEvent& e : rig.graph.Events())
        if (e.code == EC_COMPLETE) who = e.param2;
    EXPECT_EQ(who, reinterpret_cast<LONG_PTR>(rig.base));
}

TEST_F(Streaming, CompletionComesAfterTheLastFrameIsDrawn) {
    rig.graph.Run(0);
    stream({0, kFrame}, true);
    ASSERT_TRUE(clock.WaitForAdvise(kFrame));
    const bool early = rig.graph.WaitForEvent(EC_COMPLETE, 0);
    clock.SetTime(2 * kFrame);
    ASSERT_TRUE(rig.graph.WaitForEvent(EC_COMPLETE, 5000));
    EXPECT_TRUE(!early && drawn() == 2);
}

TEST_F(Streaming, EndOfStreamWhilePausedCompletesOnRun) {
    rig.graph.Pause();
    rig.source->DeliverEndOfStream();
    const bool early = rig.graph.WaitForEvent(EC_COMPLETE, 0);
    rig.graph.Run(0);
    EXPECT_TRUE(!early && rig.graph.WaitForEvent(EC_COMPLETE, 5000));
}

TEST_F(Streaming, SampleAfterEndOfStreamIsRejected) {
    rig.graph.Run(0);
    rig.source->DeliverEndOfStream();
    EXPECT_EQ(rig.source->DeliverFrame(frame.data(), 0, kFrame), VFW_E_SAMPLE_REJECTED_EOS);
}

TEST_F(Streaming, FlushClearsTheEndOfStream) {
    rig.graph.Pause();
    rig.source->DeliverEndOfStream();
    rig.source->DeliverBeginFlush();
    rig.source->DeliverEndFlush();
    EXPECT_FALSE(rig.filter->IsEndOfStream());
}

TEST_F(Streaming, TimerResolutionIsRaisedWhileStreaming) {
    const UINT before = timeActivePeriods(1);
    rig.graph.Pause();
    EXPECT_EQ(timeActivePeriods(1), before + 1);
}

TEST_F(Streaming, TimerResolutionIsRestoredOnStop) {
    const UINT before = timeActivePeriods(1);
    rig.graph.Pause();
    rig.graph.Run(0);
    rig.graph.Stop();
    EXPECT_EQ(timeActivePeriods(1), before);
}

TEST_F(Streaming, StreamingThreadTakesTheVideoPriority) {
    rig.graph.Run(0);
    int priority = 0;
    threads.emplace_back([&] {
        rig.source->DeliverFrame(frame.data(), 0, kFrame);
        priority = CeGetThreadPriority(GetCurrentThread());
    });
    threads.back().join();
    threads.pop_back();
    EXPECT_EQ(priority, FrameworkVideoThreadPriority());
}

TEST_F(Streaming, FramesDrawnReachIQualProp) {
    rig.graph.Run(0);
    stream({0});
    ASSERT_TRUE(eventually([&] { return drawn() == 1; }));
    IQualProp* q = nullptr;
    rig.base->QueryInterface(IID_IQualProp, reinterpret_cast<void**>(&q));
    int frames = 0;
    q->get_FramesDrawn(&frames);
    q->Release();
    EXPECT_EQ(frames, 1);
}

// The window thread's repaint and the streaming thread's paints take turns
// on the work buffers: repeated erases while paused frames arrive leave a
// whole picture.
TEST_F(Streaming, RepaintsAndStreamingPaintsDoNotMix) {
    ASSERT_EQ(rig.video->SetDestinationPosition(0, 0, 176, 144), S_OK);
    std::atomic<bool> stop{false};
    std::thread eraser([&] {
        while (!stop) SendMessageW(rig.Hwnd(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(GetDC(rig.Hwnd())), 0);
    });
    for (int i = 0; i < 20; ++i) {
        rig.graph.Pause();
        stream({0});
        FILTER_STATE state;
        rig.base->GetState(5000, &state);
        rig.graph.Stop();
        threads.back().join();
        threads.pop_back();
    }
    stop = true;
    eraser.join();
    rig.graph.Pause();
    stream({0});
    FILTER_STATE state;
    rig.base->GetState(5000, &state);
    SendMessageW(rig.Hwnd(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(GetDC(rig.Hwnd())), 0);
    int w = 0;
    const auto px = rig.Surface(&w);
    EXPECT_EQ(Mismatches(px, w, RECT{0, 0, 176, 144}, kWhite), 0);
}

} // namespace
