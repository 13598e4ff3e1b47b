#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "internal.h"
#include "wintypes.h"

namespace {

struct Event {
    bool manualReset;
    bool signalled;
};

// One lock and one condition for every event, so that a wait on several
// events needs no registration with each of them.
struct EventHub {
    std::mutex lock;
    std::condition_variable changed;
};

EventHub& hub() {
    static EventHub h;
    return h;
}

thread_local int tPriority = 251;

const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

std::chrono::steady_clock::time_point processStart() {
    static const auto start = std::chrono::steady_clock::now();
    return start;
}

} // namespace

HANDLE CreateEventW(LPVOID, BOOL manualReset, BOOL initialState, LPCWSTR) {
    return new Event{manualReset != FALSE, initialState != FALSE};
}

BOOL SetEvent(HANDLE event) {
    if (event == nullptr) return FALSE;
    EventHub& h = hub();
    {
        std::lock_guard<std::mutex> g(h.lock);
        static_cast<Event*>(event)->signalled = true;
    }
    h.changed.notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    if (event == nullptr) return FALSE;
    std::lock_guard<std::mutex> g(hub().lock);
    static_cast<Event*>(event)->signalled = false;
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    if (object == nullptr || object == kCurrentThread) return FALSE;
    std::lock_guard<std::mutex> g(hub().lock);
    delete static_cast<Event*>(object);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr || waitAll) return WAIT_FAILED;
    for (DWORD i = 0; i < count; ++i)
        if (objects[i] == nullptr) return WAIT_FAILED;
    EventHub& h = hub();
    std::unique_lock<std::mutex> g(h.lock);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        for (DWORD i = 0; i < count; ++i) {
            Event* e = static_cast<Event*>(objects[i]);
            if (e->signalled) {
                if (!e->manualReset) e->signalled = false;
                return WAIT_OBJECT_0 + i;
            }
        }
        if (milliseconds == INFINITE) {
            h.changed.wait(g);
        } else if (h.changed.wait_until(g, deadline) == std::cv_status::timeout) {
            // One last look: an event set just before the deadline counts.
            for (DWORD i = 0; i < count; ++i) {
                Event* e = static_cast<Event*>(objects[i]);
                if (e->signalled) {
                    if (!e->manualReset) e->signalled = false;
                    return WAIT_OBJECT_0 + i;
                }
            }
            return WAIT_TIMEOUT;
        }
    }
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

DWORD GetTickCount() {
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - processStart())
            .count());
}

HANDLE GetCurrentThread() { return kCurrentThread; }

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(std::hash<std::thread::id>()(std::this_thread::get_id()));
}

BOOL CeSetThreadPriority(HANDLE thread, int priority) {
    if (thread != kCurrentThread || priority < 0 || priority > 255) return FALSE;
    tPriority = priority;
    return TRUE;
}

int CeGetThreadPriority(HANDLE thread) { return thread == kCurrentThread ? tPriority : THREAD_PRIORITY_ERROR_RETURN; }

void OutputDebugStringW(LPCWSTR text) {
    if (text == nullptr) return;
    std::fputs(platform_internal::toUtf8(text).c_str(), stderr);
    std::fflush(stderr);
}
