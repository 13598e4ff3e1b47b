#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "mmsystem.h"

namespace {

struct Timer {
    std::chrono::steady_clock::time_point due;
    std::chrono::milliseconds period;
    LPTIMECALLBACK callback;
    DWORD_PTR user;
    bool periodic;
};

// One timer thread, started with the first timer and kept for the life of
// the process.
struct TimerQueue {
    std::mutex lock;
    std::condition_variable changed;
    std::map<UINT, Timer> timers;
    std::map<UINT, UINT> periods;
    UINT nextId = 1;
    UINT running = 0;
    bool threadStarted = false;
    bool stopping = false;
    std::thread thread;

    ~TimerQueue() {
        {
            std::lock_guard<std::mutex> g(lock);
            stopping = true;
        }
        changed.notify_all();
        if (thread.joinable()) thread.join();
    }

    void run() {
        std::unique_lock<std::mutex> g(lock);
        while (!stopping) {
            if (timers.empty()) {
                changed.wait(g);
                continue;
            }
            auto next = timers.begin();
            for (auto it = timers.begin(); it != timers.end(); ++it)
                if (it->second.due < next->second.due) next = it;
            // A copy: the timer may be killed, its node freed, while this waits.
            const std::chrono::steady_clock::time_point due = next->second.due;
            if (std::chrono::steady_clock::now() < due) {
                changed.wait_until(g, due);
                continue;
            }
            const UINT id = next->first;
            Timer t = next->second;
            if (t.periodic) next->second.due += t.period;
            else timers.erase(next);
            running = id;
            g.unlock();
            t.callback(id, 0, t.user, 0, 0);
            g.lock();
            running = 0;
            changed.notify_all();
        }
    }
};

TimerQueue& queue() {
    static TimerQueue q;
    return q;
}

} // namespace

MMRESULT timeBeginPeriod(UINT period) {
    if (period == 0) return TIMERR_NOCANDO;
    TimerQueue& q = queue();
    std::lock_guard<std::mutex> g(q.lock);
    ++q.periods[period];
    return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT period) {
    TimerQueue& q = queue();
    std::lock_guard<std::mutex> g(q.lock);
    auto it = q.periods.find(period);
    if (it == q.periods.end() || it->second == 0) return TIMERR_NOCANDO;
    --it->second;
    return TIMERR_NOERROR;
}

UINT timeActivePeriods(UINT period) {
    TimerQueue& q = queue();
    std::lock_guard<std::mutex> g(q.lock);
    auto it = q.periods.find(period);
    return it == q.periods.end() ? 0 : it->second;
}

DWORD timeGetTime() { return GetTickCount(); }

MMRESULT timeSetEvent(UINT delay, UINT, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags) {
    if (callback == nullptr || ((flags & TIME_PERIODIC) && delay == 0)) return 0;
    TimerQueue& q = queue();
    std::lock_guard<std::mutex> g(q.lock);
    if (!q.threadStarted) {
        q.thread = std::thread([&q] { q.run(); });
        q.threadStarted = true;
    }
    const UINT id = q.nextId++;
    q.timers[id] = Timer{std::chrono::steady_clock::now() + std::chrono::milliseconds(delay),
                         std::chrono::milliseconds(delay), callback, user, (flags & TIME_PERIODIC) != 0};
    q.changed.notify_all();
    return id;
}

MMRESULT timeKillEvent(UINT timerId) {
    TimerQueue& q = queue();
    std::unique_lock<std::mutex> g(q.lock);
    const bool known = q.timers.erase(timerId) > 0 || q.running == timerId;
    // Waiting for a callback from inside itself would never end.
    if (q.thread.get_id() != std::this_thread::get_id())
        q.changed.wait(g, [&] { return q.running != timerId; });
    q.changed.notify_all();
    return known ? TIMERR_NOERROR : TIMERR_NOCANDO;
}
