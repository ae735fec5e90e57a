// Sleep, the clock and the thread hooks on Windows.
// platform/thread.h comes before <windows.h>, whose macros would rewrite some of its constants.
#include "platform/thread.h"
#include "platform/thread_hooks.h"
#include "platform/win32/module_pin.h"

#include <windows.h>

namespace orvo::platform {

void Sleep(uint32_t milliseconds)
{
    if (CWinThread *self = CWinThread::Current())
        self->WaitForStop(milliseconds); // a stop request ends the sleep at once
    else
        ::Sleep(milliseconds);
}

// The performance counter: monotonic, and finer than the tick count's 10 to 16 ms.
int64_t NowMilliseconds()
{
    constexpr int64_t kMillisecondsPerSecond = 1000;
    static const int64_t frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<int64_t>(value.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t ticks = now.QuadPart;
    return ticks / frequency * kMillisecondsPerSecond +
           ticks % frequency * kMillisecondsPerSecond / frequency;
}

// DLL detach runs under the loader lock (see thread.h).
bool CanStopThreadsAtUnload() { return false; }

namespace hooks {
// A library thread may run until the process ends: keep the DLL mapped from the first one on.
bool BeforeThreadStart(CWinThread *)
{
    win32::PinThisModule();
    return true;
}
void ThreadStartFailed(CWinThread *) {}
void ThreadEntered(CWinThread *) {}
void ThreadExiting(CWinThread *) {}
void StopRequested(CWinThread *) {}
} // namespace hooks

} // namespace orvo::platform
