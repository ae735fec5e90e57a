// The virtual clock: Sleep, the time, and the counting of worker threads that lets Advance() wait
// until every worker is at rest.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/no_destructor.h"
#include "platform/thread.h"
#include "platform/thread_hooks.h"
#include "platform/virtual/virtual_internal.h"
#include "platform/virtual/virtual_platform.h"

namespace orvo::platform {
namespace virt {
namespace {

// How long Advance/WaitIdle wait (wall time) for workers to come to rest before giving up.
constexpr auto kIdleGuard = std::chrono::seconds(20);

struct Sleeper {
    int64_t wakeAt;
    bool worker;
    bool woken = false;
    Sleeper *next = nullptr;
};

struct Clock {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<int64_t> now{0};
    int workers = 0;
    int running = 0; // workers not blocked in Sleep
    bool creationFails = false;
    Sleeper *sleepers = nullptr;
};

Clock &GetClock()
{
    static NoDestructor<Clock> clock; // used by threads that may outlive static destruction
    return clock.get();
}

thread_local bool t_isWorker = false;

bool WaitIdleLocked(Clock &clock, std::unique_lock<std::mutex> &lock)
{
    return clock.changed.wait_for(lock, kIdleGuard, [&] { return clock.running == 0; });
}

void Unlink(Clock &clock, Sleeper *sleeper)
{
    for (Sleeper **link = &clock.sleepers; *link; link = &(*link)->next) {
        if (*link == sleeper) {
            *link = sleeper->next;
            return;
        }
    }
}

} // namespace

int64_t Now() { return GetClock().now.load(std::memory_order_acquire); }

bool WaitIdle()
{
    Clock &clock = GetClock();
    std::unique_lock<std::mutex> lock(clock.mutex);
    return WaitIdleLocked(clock, lock);
}

bool Advance(int64_t milliseconds)
{
    Clock &clock = GetClock();
    std::unique_lock<std::mutex> lock(clock.mutex);
    if (!WaitIdleLocked(clock, lock))
        return false;
    for (int64_t step = 0; step < milliseconds; ++step) {
        int64_t now = clock.now.load(std::memory_order_relaxed) + 1;
        clock.now.store(now, std::memory_order_release);
        lock.unlock();
        PumpDevices(now);
        lock.lock();
        bool woke = false;
        for (Sleeper **link = &clock.sleepers; *link;) {
            Sleeper *sleeper = *link;
            if (sleeper->wakeAt <= now) {
                *link = sleeper->next;
                sleeper->woken = true;
                if (sleeper->worker)
                    ++clock.running; // counted before it runs, so the wait below cannot miss it
                woke = true;
            } else {
                link = &sleeper->next;
            }
        }
        if (woke) {
            clock.changed.notify_all();
            if (!WaitIdleLocked(clock, lock))
                return false;
        }
    }
    return true;
}

int WorkerCount()
{
    Clock &clock = GetClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    return clock.workers;
}

void SetThreadCreationFails(bool fails)
{
    Clock &clock = GetClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    clock.creationFails = fails;
}

void ResetClock()
{
    Clock &clock = GetClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    clock.now.store(0, std::memory_order_release);
    clock.creationFails = false;
}

void Reset()
{
    ResetClock();
    ResetDevices();
}

} // namespace virt

void Sleep(uint32_t milliseconds)
{
    virt::Clock &clock = virt::GetClock();
    CWinThread *self = CWinThread::Current();
    std::unique_lock<std::mutex> lock(clock.mutex);
    if (self && self->IsStopRequested())
        return;
    virt::Sleeper sleeper{clock.now.load(std::memory_order_relaxed) + milliseconds, virt::t_isWorker};
    if (milliseconds == 0 && !sleeper.worker)
        return;
    sleeper.next = clock.sleepers;
    clock.sleepers = &sleeper;
    if (sleeper.worker) {
        --clock.running;
        clock.changed.notify_all();
    }
    clock.changed.wait(lock, [&] { return sleeper.woken || (self && self->IsStopRequested()); });
    if (!sleeper.woken) { // woken by a stop request, not by the clock
        virt::Unlink(clock, &sleeper);
        if (sleeper.worker)
            ++clock.running;
    }
}

int64_t NowMilliseconds() { return virt::Now(); }

bool CanStopThreadsAtUnload() { return true; }

namespace hooks {

bool BeforeThreadStart(CWinThread *)
{
    virt::Clock &clock = virt::GetClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    if (clock.creationFails)
        return false;
    ++clock.workers;
    ++clock.running;
    return true;
}

void ThreadStartFailed(CWinThread *)
{
    virt::Clock &clock = virt::GetClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    --clock.workers;
    --clock.running;
    clock.changed.notify_all();
}

void ThreadEntered(CWinThread *) { virt::t_isWorker = true; }

void ThreadExiting(CWinThread *)
{
    virt::Clock &clock = virt::GetClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    --clock.workers;
    --clock.running;
    virt::t_isWorker = false;
    clock.changed.notify_all();
}

void StopRequested(CWinThread *)
{
    virt::Clock &clock = virt::GetClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    clock.changed.notify_all();
}

} // namespace hooks
} // namespace orvo::platform
