// Threads for the talk service: a worker-thread object with an init step and a run step, created by
// its runtime class, a critical section, Sleep and a monotonic clock.
//
// The worker object is constructed on the creating thread (so a constructor may open devices before
// the thread runs), then its thread runs InitInstance() and, when that returns true, Run(); otherwise
// ExitInstance(). The object outlives its thread: whoever created it ends it with StopAndWait() and
// then deletes it. A loop that should be stoppable tests IsStopRequested() on each pass; Sleep()
// returns early once a stop is requested for the calling worker thread.
//
// Sleep and the clock come from the linked back end: the real one uses the system clock, the virtual
// one (tests) a clock that only the test advances (platform/virtual/virtual_platform.h).
#ifndef ORVO_PLATFORM_THREAD_H
#define ORVO_PLATFORM_THREAD_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace orvo::platform {

class CWinThread;

// Creation flag: construct and create the thread, but run it only after ResumeThread().
constexpr uint32_t CREATE_SUSPENDED = 0x4;
constexpr int THREAD_PRIORITY_NORMAL = 0;

// A creatable class: its name, its base, and a factory that constructs an object of it.
struct CRuntimeClass {
    const char *m_lpszClassName;
    const CRuntimeClass *m_pBaseClass;
    CWinThread *(*m_pfnCreateObject)();

    // Constructs an object on the calling thread; null for a class that cannot be created.
    CWinThread *CreateObject() const;
    bool IsDerivedFrom(const CRuntimeClass *base) const;
    // The registered class of that name (see ORVO_IMPLEMENT_DYNCREATE), or null.
    static const CRuntimeClass *FromName(const char *className);
};

// Adds a class to the registry that CRuntimeClass::FromName searches; done once per class by
// ORVO_IMPLEMENT_DYNCREATE at static initialisation. False when the registry is full.
bool RegisterRuntimeClass(const CRuntimeClass *runtimeClass);

class CWinThread {
public:
    CWinThread();
    // Stops and joins a thread that still runs (never from the thread itself).
    virtual ~CWinThread();
    CWinThread(const CWinThread &) = delete;
    CWinThread &operator=(const CWinThread &) = delete;

    virtual const CRuntimeClass *GetRuntimeClass() const;
    // Runs first on the new thread; false skips Run and goes to ExitInstance.
    virtual bool InitInstance();
    // The thread's work. The base waits until a stop is requested and returns ExitInstance().
    virtual int Run();
    // Returns the exit code (0 unless a derived class says otherwise).
    virtual int ExitInstance();

    // Starts the thread (suspended with CREATE_SUSPENDED). False when the platform cannot create it.
    bool CreateThread(uint32_t createFlags = 0, uint32_t stackSize = 0);
    // Lets a thread created suspended run. Returns 1 if it was suspended, 0 otherwise.
    uint32_t ResumeThread();

    // Asks the thread to end: IsStopRequested() turns true and a Sleep() in progress returns.
    void RequestStop();
    bool IsStopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }
    // RequestStop, then waits until the thread has ended. Harmless when it never started.
    void StopAndWait();
    bool IsRunning() const { return m_thread.joinable(); }
    int ExitCode() const { return m_exitCode.load(std::memory_order_acquire); }

    // The worker object whose thread is calling, or null on any other thread.
    static CWinThread *Current();

    // Waits on this thread's stop signal for at most `milliseconds` of real time; true if stopped.
    bool WaitForStop(uint32_t milliseconds);

    static const CRuntimeClass classCWinThread;

private:
    void ThreadMain();

    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<int> m_exitCode{0};
    std::mutex m_signalMutex;
    std::condition_variable m_signal;
    bool m_suspended = false;
};

// Constructs an object of `runtimeClass` on the calling thread and starts its thread. Null when the
// class cannot be created or the thread cannot be started (the object is then deleted).
// `priority` and `securityAttributes` are accepted for the callers' sake; threads run at normal
// priority. A `stackSize` of 0 means the default.
CWinThread *AfxBeginThread(const CRuntimeClass *runtimeClass, int priority = THREAD_PRIORITY_NORMAL,
                           uint32_t stackSize = 0, uint32_t createFlags = 0,
                           void *securityAttributes = nullptr);

// A mutual-exclusion lock (not recursive).
class CCriticalSection {
public:
    bool Lock()
    {
        m_mutex.lock();
        return true;
    }
    bool Unlock()
    {
        m_mutex.unlock();
        return true;
    }

private:
    std::mutex m_mutex;
};

// Suspends the calling thread for `milliseconds` on the platform clock. On a worker thread it returns
// early once a stop has been requested for it.
void Sleep(uint32_t milliseconds);

// Monotonic time on the platform clock (real: steady clock; virtual: the test's clock).
int64_t NowMilliseconds();

// Whether the library may stop its threads and wait for them while it is being unloaded (static
// destructors). False on Windows: a DLL is unloaded under the loader lock, which a thread needs in
// order to end, so waiting there would hang the process; the system reclaims threads and devices
// when the process ends, and the DLL stays loaded while its threads run.
bool CanStopThreadsAtUnload();

// Names the calling thread for debuggers and profilers (the first 15 characters are kept). Worker
// threads carry their runtime class name.
void SetCurrentThreadName(const char *name);

} // namespace orvo::platform

// In a class derived from CWinThread: makes it creatable by its runtime class.
#define ORVO_DECLARE_DYNCREATE(ClassName)                                                          \
public:                                                                                            \
    static const ::orvo::platform::CRuntimeClass class##ClassName;                                 \
    static ::orvo::platform::CWinThread *CreateObject();                                           \
    const ::orvo::platform::CRuntimeClass *GetRuntimeClass() const override;

// In the class's source file: defines the runtime class and registers it under its name.
#define ORVO_IMPLEMENT_DYNCREATE(ClassName, BaseClassName)                                         \
    const ::orvo::platform::CRuntimeClass ClassName::class##ClassName = {                          \
        #ClassName, &BaseClassName::class##BaseClassName, &ClassName::CreateObject};               \
    ::orvo::platform::CWinThread *ClassName::CreateObject() { return new ClassName; }               \
    const ::orvo::platform::CRuntimeClass *ClassName::GetRuntimeClass() const                      \
    {                                                                                              \
        return &ClassName::class##ClassName;                                                       \
    }                                                                                              \
    [[maybe_unused]] static const bool registered##ClassName =                                                      \
        ::orvo::platform::RegisterRuntimeClass(&ClassName::class##ClassName);

#define ORVO_RUNTIME_CLASS(ClassName) (&ClassName::class##ClassName)

#endif // ORVO_PLATFORM_THREAD_H
