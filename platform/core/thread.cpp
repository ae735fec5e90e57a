// The worker-thread object, its runtime-class registry and AfxBeginThread.
#include <cstring>

#if defined(__linux__)
#include <pthread.h>
#endif

#include "platform/no_destructor.h"
#include "platform/thread.h"
#include "platform/thread_hooks.h"

namespace orvo::platform {
namespace {

constexpr size_t kMaxRuntimeClasses = 32;

struct Registry {
    std::mutex mutex;
    const CRuntimeClass *classes[kMaxRuntimeClasses] = {};
    size_t count = 0;
};

Registry &GetRegistry()
{
    static NoDestructor<Registry> registry; // registration runs at static initialisation
    return registry.get();
}

thread_local CWinThread *t_currentThread = nullptr;

} // namespace

const CRuntimeClass CWinThread::classCWinThread = {"CWinThread", nullptr, nullptr};

CWinThread *CRuntimeClass::CreateObject() const
{
    return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass *base) const
{
    for (const CRuntimeClass *c = this; c; c = c->m_pBaseClass) {
        if (c == base)
            return true;
    }
    return false;
}

const CRuntimeClass *CRuntimeClass::FromName(const char *className)
{
    if (!className)
        return nullptr;
    Registry &registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (size_t i = 0; i < registry.count; ++i) {
        if (std::strcmp(registry.classes[i]->m_lpszClassName, className) == 0)
            return registry.classes[i];
    }
    return nullptr;
}

bool RegisterRuntimeClass(const CRuntimeClass *runtimeClass)
{
    Registry &registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (size_t i = 0; i < registry.count; ++i) {
        if (registry.classes[i] == runtimeClass)
            return true;
    }
    if (registry.count == kMaxRuntimeClasses)
        return false;
    registry.classes[registry.count++] = runtimeClass;
    return true;
}

CWinThread::CWinThread() = default;

CWinThread::~CWinThread()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        StopAndWait();
    else if (m_thread.joinable())
        m_thread.detach(); // deleted by its own thread: nothing left to wait for
}

const CRuntimeClass *CWinThread::GetRuntimeClass() const { return &classCWinThread; }

bool CWinThread::InitInstance() { return true; }

int CWinThread::Run()
{
    while (!IsStopRequested())
        Sleep(UINT32_MAX);
    return ExitInstance();
}

int CWinThread::ExitInstance() { return m_exitCode.load(std::memory_order_acquire); }

bool CWinThread::CreateThread(uint32_t createFlags, uint32_t /*stackSize*/)
{
    if (m_thread.joinable())
        return false;
    if (!hooks::BeforeThreadStart(this))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_signalMutex);
        m_suspended = (createFlags & CREATE_SUSPENDED) != 0;
    }
    try {
        m_thread = std::thread(&CWinThread::ThreadMain, this);
    } catch (...) {
        hooks::ThreadStartFailed(this);
        return false;
    }
    return true;
}

uint32_t CWinThread::ResumeThread()
{
    std::lock_guard<std::mutex> lock(m_signalMutex);
    if (!m_suspended)
        return 0;
    m_suspended = false;
    m_signal.notify_all();
    return 1;
}

void SetCurrentThreadName(const char *name)
{
#if defined(__linux__)
    constexpr size_t kMaxName = 15; // the kernel's limit without the terminator
    char shortName[kMaxName + 1] = {};
    std::strncpy(shortName, name, kMaxName);
    pthread_setname_np(pthread_self(), shortName);
#else
    (void)name;
#endif
}

void CWinThread::ThreadMain()
{
    t_currentThread = this;
    SetCurrentThreadName(GetRuntimeClass()->m_lpszClassName);
    hooks::ThreadEntered(this);
    {
        std::unique_lock<std::mutex> lock(m_signalMutex);
        m_signal.wait(lock, [this] { return !m_suspended || IsStopRequested(); });
    }
    if (!IsStopRequested()) {
        int code = InitInstance() ? Run() : ExitInstance();
        m_exitCode.store(code, std::memory_order_release);
    }
    hooks::ThreadExiting(this);
    t_currentThread = nullptr;
}

void CWinThread::RequestStop()
{
    {
        std::lock_guard<std::mutex> lock(m_signalMutex);
        m_stopRequested.store(true, std::memory_order_release);
        m_signal.notify_all();
    }
    hooks::StopRequested(this);
}

void CWinThread::StopAndWait()
{
    RequestStop();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

bool CWinThread::WaitForStop(uint32_t milliseconds)
{
    std::unique_lock<std::mutex> lock(m_signalMutex);
    return m_signal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return IsStopRequested(); });
}

CWinThread *CWinThread::Current() { return t_currentThread; }

CWinThread *AfxBeginThread(const CRuntimeClass *runtimeClass, int /*priority*/, uint32_t stackSize,
                           uint32_t createFlags, void * /*securityAttributes*/)
{
    if (!runtimeClass || !runtimeClass->IsDerivedFrom(&CWinThread::classCWinThread))
        return nullptr;
    CWinThread *thread = runtimeClass->CreateObject();
    if (!thread)
        return nullptr;
    if (!thread->CreateThread(createFlags, stackSize)) {
        delete thread;
        return nullptr;
    }
    return thread;
}

} // namespace orvo::platform
