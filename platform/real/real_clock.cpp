// Sleep and the clock on the system's monotonic clock.
#include <chrono>
#include <thread>

#include "platform/thread.h"
#include "platform/thread_hooks.h"

namespace orvo::platform {

void Sleep(uint32_t milliseconds)
{
    if (CWinThread *self = CWinThread::Current())
        self->WaitForStop(milliseconds); // a stop request ends the sleep at once
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int64_t NowMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool CanStopThreadsAtUnload() { return true; }

namespace hooks {
bool BeforeThreadStart(CWinThread *) { return true; }
void ThreadStartFailed(CWinThread *) {}
void ThreadEntered(CWinThread *) {}
void ThreadExiting(CWinThread *) {}
void StopRequested(CWinThread *) {}
} // namespace hooks

} // namespace orvo::platform
