// Kernel events, multimedia timers, the system clock and the base classes'
// media types and allocators.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "registry_env.h"
#include "streams.h"
#include "winreg.h"

namespace {

TEST(Event, AutoResetWakesOneWait) {
    HANDLE e = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    const DWORD first = WaitForSingleObject(e, 0), second = WaitForSingleObject(e, 0);
    CloseHandle(e);
    EXPECT_TRUE(first == WAIT_OBJECT_0 && second == WAIT_TIMEOUT);
}

TEST(Event, ManualResetStaysSet) {
    HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    const DWORD first = WaitForSingleObject(e, 0), second = WaitForSingleObject(e, 0);
    CloseHandle(e);
    EXPECT_TRUE(first == WAIT_OBJECT_0 && second == WAIT_OBJECT_0);
}

TEST(Event, WaitForMultipleGivesTheSignalledIndex) {
    HANDLE e[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::thread t([&] { SetEvent(e[1]); });
    const DWORD r = WaitForMultipleObjects(2, e, FALSE, INFINITE);
    t.join();
    CloseHandle(e[0]);
    CloseHandle(e[1]);
    EXPECT_EQ(r, WAIT_OBJECT_0 + 1);
}

TEST(Event, NullHandleFails) {
    HANDLE e[1] = {nullptr};
    EXPECT_EQ(WaitForMultipleObjects(1, e, FALSE, 0), WAIT_FAILED);
}

std::atomic<int> gFired{0};
void onTimer(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    ++gFired;
    SetEvent(reinterpret_cast<HANDLE>(user));
}

TEST(Timer, OneShotFiresOnce) {
    gFired = 0;
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const MMRESULT id = timeSetEvent(1, 1, onTimer, reinterpret_cast<DWORD_PTR>(e), TIME_ONESHOT);
    WaitForSingleObject(e, 5000);
    timeKillEvent(id);
    CloseHandle(e);
    EXPECT_EQ(gFired.load(), 1);
}

TEST(Timer, KilledBeforeItsTimeNeverFires) {
    gFired = 0;
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const MMRESULT id = timeSetEvent(60000, 1, onTimer, reinterpret_cast<DWORD_PTR>(e), TIME_ONESHOT);
    const MMRESULT killed = timeKillEvent(id);
    CloseHandle(e);
    EXPECT_TRUE(killed == TIMERR_NOERROR && gFired.load() == 0);
}

TEST(Timer, PeriodsNest) {
    const UINT before = timeActivePeriods(1);
    timeBeginPeriod(1);
    timeBeginPeriod(1);
    timeEndPeriod(1);
    const UINT during = timeActivePeriods(1);
    timeEndPeriod(1);
    EXPECT_TRUE(during == before + 1 && timeActivePeriods(1) == before);
}

TEST(Timer, EndWithoutBeginIsRefused) {
    EXPECT_EQ(timeEndPeriod(977), static_cast<MMRESULT>(TIMERR_NOCANDO));
}

TEST(SystemClock, AdviseSignalsTheEventAtItsTime) {
    HRESULT hr = S_OK;
    auto* clock = new CSystemClock(L"clock", nullptr, &hr);
    clock->AddRef();
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    DWORD_PTR cookie = 0;
    clock->AdviseTime(now, 2 * MILLISECONDS, reinterpret_cast<HEVENT>(e), &cookie);
    const DWORD r = WaitForSingleObject(e, 5000);
    REFERENCE_TIME after = 0;
    clock->GetTime(&after);
    clock->Release();
    CloseHandle(e);
    EXPECT_TRUE(r == WAIT_OBJECT_0 && after >= now + 2 * MILLISECONDS);
}

TEST(SystemClock, TimeNeverGoesBack) {
    HRESULT hr = S_OK;
    auto* clock = new CSystemClock(L"clock", nullptr, &hr);
    clock->AddRef();
    REFERENCE_TIME a = 0, b = 0;
    clock->GetTime(&a);
    clock->GetTime(&b);
    clock->Release();
    EXPECT_LE(a, b);
}

TEST(MediaType, CopyOwnsItsFormatBlock) {
    CMediaType a;
    const BYTE format[4] = {1, 2, 3, 4};
    a.SetFormat(format, 4);
    CMediaType b(a);
    a.Format()[0] = 9;
    EXPECT_EQ(b.Format()[0], 1);
}

TEST(MediaType, EqualityComparesTheFormat) {
    CMediaType a, b;
    const BYTE f1[2] = {1, 2}, f2[2] = {1, 3};
    a.SetFormat(f1, 2);
    b.SetFormat(f2, 2);
    EXPECT_FALSE(a == b);
}

class Allocator : public ::testing::Test {
protected:
    void SetUp() override {
        HRESULT hr = S_OK;
        auto* a = new CMemAllocator(L"allocator", nullptr, &hr);
        a->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&allocator));
        ALLOCATOR_PROPERTIES want{1, 64, 16, 0}, got{};
        ASSERT_EQ(allocator->SetProperties(&want, &got), S_OK);
    }
    void TearDown() override { allocator->Release(); }
    IMemAllocator* allocator = nullptr;
};

TEST_F(Allocator, GetBufferBeforeCommitFails) {
    IMediaSample* s = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&s, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
}

TEST_F(Allocator, BuffersAreAligned) {
    allocator->Commit();
    IMediaSample* s = nullptr;
    allocator->GetBuffer(&s, nullptr, nullptr, 0);
    BYTE* p = nullptr;
    s->GetPointer(&p);
    s->Release();
    allocator->Decommit();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
}

TEST_F(Allocator, GetBufferWaitsForARelease) {
    allocator->Commit();
    IMediaSample* first = nullptr;
    allocator->GetBuffer(&first, nullptr, nullptr, 0);
    std::thread releaser([&] {
        Sleep(5);
        first->Release();
    });
    IMediaSample* second = nullptr;
    const HRESULT hr = allocator->GetBuffer(&second, nullptr, nullptr, 0);
    releaser.join();
    if (second) second->Release();
    allocator->Decommit();
    EXPECT_EQ(hr, S_OK);
}

TEST_F(Allocator, DecommitReleasesAWaitingGetBuffer) {
    allocator->Commit();
    IMediaSample* first = nullptr;
    allocator->GetBuffer(&first, nullptr, nullptr, 0);
    std::thread decommitter([&] {
        Sleep(5);
        allocator->Decommit();
    });
    IMediaSample* second = nullptr;
    const HRESULT hr = allocator->GetBuffer(&second, nullptr, nullptr, 0);
    decommitter.join();
    first->Release();
    EXPECT_EQ(hr, VFW_E_NOT_COMMITTED);
}

TEST_F(Allocator, SampleTimesRoundTrip) {
    allocator->Commit();
    IMediaSample* s = nullptr;
    allocator->GetBuffer(&s, nullptr, nullptr, 0);
    REFERENCE_TIME start = 10, end = 20, gotStart = 0, gotEnd = 0;
    s->SetTime(&start, &end);
    const HRESULT hr = s->GetTime(&gotStart, &gotEnd);
    s->Release();
    allocator->Decommit();
    EXPECT_TRUE(hr == S_OK && gotStart == 10 && gotEnd == 20);
}

TEST(FilterMapper, UnregisteringWhatIsNotThereReportsIt) {
    TempRegistry reg;
    IFilterMapper2* mapper = nullptr;
    CreateFilterMapper(&mapper);
    const HRESULT hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, MEDIATYPE_Video);
    mapper->Release();
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST(FilterMapper, BadVersionIsRefused) {
    TempRegistry reg;
    IFilterMapper2* mapper = nullptr;
    CreateFilterMapper(&mapper);
    const REGFILTER2 rf2{2, 0, 0, nullptr};
    const HRESULT hr = mapper->RegisterFilter(MEDIATYPE_Video, L"x", nullptr, nullptr, nullptr, &rf2);
    mapper->Release();
    EXPECT_EQ(hr, E_INVALIDARG);
}

} // namespace
