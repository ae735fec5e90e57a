// What the thread core asks of the back end that provides Sleep and the clock. The real back end
// does nothing here; the virtual one counts the worker threads so that its clock can wait until all
// of them are asleep before it moves on.
#ifndef ORVO_PLATFORM_THREAD_HOOKS_H
#define ORVO_PLATFORM_THREAD_HOOKS_H

namespace orvo::platform {

class CWinThread;

namespace hooks {

// On the creating thread, before the new thread starts. False refuses the creation.
bool BeforeThreadStart(CWinThread *thread);
// On the creating thread, when the thread could not be started after BeforeThreadStart.
void ThreadStartFailed(CWinThread *thread);
// On the worker thread, first and last.
void ThreadEntered(CWinThread *thread);
void ThreadExiting(CWinThread *thread);
// On the thread that asked a worker to stop: wake it if it sleeps.
void StopRequested(CWinThread *thread);

} // namespace hooks
} // namespace orvo::platform

#endif // ORVO_PLATFORM_THREAD_HOOKS_H
