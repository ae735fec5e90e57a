// Threads by runtime class, and Sleep on the virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "platform/virtual/virtual_platform.h"

namespace orvo::platform {
namespace {

std::atomic<int> g_constructed{0};
std::atomic<int> g_destroyed{0};

// Records the virtual time of every wake-up of a 20 ms sleep loop.
class CTickThread : public CWinThread {
    ORVO_DECLARE_DYNCREATE(CTickThread)
public:
    CTickThread() : constructedOn(std::this_thread::get_id()) { ++g_constructed; }
    ~CTickThread() override
    {
        StopAndWait();
        ++g_destroyed;
    }
    bool InitInstance() override
    {
        initRan = true;
        return initResult;
    }
    int Run() override
    {
        runRan = true;
        while (!IsStopRequested()) {
            Sleep(kTickMs);
            if (!IsStopRequested())
                wakes.push_back(NowMilliseconds());
        }
        return ExitInstance();
    }
    int ExitInstance() override
    {
        exitRan = true;
        return kExitCode;
    }

    static constexpr uint32_t kTickMs = 20;
    static constexpr int kExitCode = 7;
    static bool initResult;
    std::thread::id constructedOn;
    std::atomic<bool> initRan{false}, runRan{false}, exitRan{false};
    std::vector<int64_t> wakes; // read by the test only while the thread rests
};
bool CTickThread::initResult = true;
ORVO_IMPLEMENT_DYNCREATE(CTickThread, CWinThread)

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        virt::Reset();
        CTickThread::initResult = true;
        g_constructed = 0;
        g_destroyed = 0;
    }
    void TearDown() override { virt::Reset(); }
};

TEST_F(ThreadTest, RuntimeClassRegistryFindsRegisteredClasses)
{
    EXPECT_EQ(CRuntimeClass::FromName("CTickThread"), ORVO_RUNTIME_CLASS(CTickThread));
    EXPECT_EQ(CRuntimeClass::FromName("NoSuchThread"), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName(nullptr), nullptr);
    EXPECT_TRUE(ORVO_RUNTIME_CLASS(CTickThread)->IsDerivedFrom(&CWinThread::classCWinThread));
    EXPECT_EQ(AfxBeginThread(&CWinThread::classCWinThread), nullptr); // not creatable
    EXPECT_EQ(AfxBeginThread(nullptr), nullptr);
}

TEST_F(ThreadTest, ConstructsOnCallerThenSleepsOnTheVirtualClock)
{
    auto *thread = static_cast<CTickThread *>(AfxBeginThread(CRuntimeClass::FromName("CTickThread")));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->constructedOn, std::this_thread::get_id());
    EXPECT_EQ(thread->GetRuntimeClass(), ORVO_RUNTIME_CLASS(CTickThread));
    ASSERT_TRUE(virt::WaitIdle());
    EXPECT_EQ(virt::WorkerCount(), 1);
    EXPECT_TRUE(thread->initRan && thread->runRan);
    EXPECT_TRUE(thread->wakes.empty());

    ASSERT_TRUE(virt::Advance(19));
    EXPECT_TRUE(thread->wakes.empty());
    ASSERT_TRUE(virt::Advance(81));
    EXPECT_EQ(thread->wakes, (std::vector<int64_t>{20, 40, 60, 80, 100}));

    thread->StopAndWait();
    EXPECT_TRUE(thread->exitRan);
    EXPECT_EQ(thread->ExitCode(), CTickThread::kExitCode);
    EXPECT_EQ(virt::WorkerCount(), 0);
    delete thread;
    EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ThreadTest, FailedInitInstanceSkipsRun)
{
    CTickThread::initResult = false;
    auto *thread = static_cast<CTickThread *>(AfxBeginThread(ORVO_RUNTIME_CLASS(CTickThread)));
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(virt::WaitIdle()); // it ends by itself
    EXPECT_EQ(virt::WorkerCount(), 0);
    thread->StopAndWait();
    EXPECT_TRUE(thread->initRan);
    EXPECT_FALSE(thread->runRan);
    EXPECT_TRUE(thread->exitRan);
    delete thread;
}

TEST_F(ThreadTest, CreationFailureDeletesTheObject)
{
    virt::SetThreadCreationFails(true);
    EXPECT_EQ(AfxBeginThread(ORVO_RUNTIME_CLASS(CTickThread)), nullptr);
    EXPECT_EQ(g_constructed, 1);
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(virt::WorkerCount(), 0);
}

TEST_F(ThreadTest, SuspendedThreadRunsAfterResume)
{
    auto *thread = static_cast<CTickThread *>(
        AfxBeginThread(ORVO_RUNTIME_CLASS(CTickThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(thread->initRan);
    EXPECT_EQ(thread->ResumeThread(), 1u);
    EXPECT_EQ(thread->ResumeThread(), 0u);
    ASSERT_TRUE(virt::WaitIdle());
    EXPECT_TRUE(thread->runRan);
    delete thread; // the destructor stops it
    EXPECT_EQ(virt::WorkerCount(), 0);
}

TEST_F(ThreadTest, StopEndsALongSleepAtOnce)
{
    auto *thread = AfxBeginThread(ORVO_RUNTIME_CLASS(CTickThread));
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(virt::WaitIdle());
    thread->StopAndWait(); // no virtual time passes
    EXPECT_EQ(virt::Now(), 0);
    delete thread;
}

TEST_F(ThreadTest, CriticalSectionExcludes)
{
    CCriticalSection section;
    int counter = 0;
    constexpr int kRounds = 10000;
    auto work = [&] {
        for (int i = 0; i < kRounds; ++i) {
            section.Lock();
            ++counter;
            section.Unlock();
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 2 * kRounds);
}

} // namespace
} // namespace orvo::platform
