// Unloading the shared library while the talk service runs: the capture thread and the device
// thread are stopped first, so no thread is left running in unmapped code.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "orvo_tool/file_io.h"
#include "orvo_tool/wav_file.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVO_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVO_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(ORVO_SANITIZER_ALLOCATOR)
#include <sanitizer/allocator_interface.h>
#endif

namespace {

// Threads of the service, by the names it gives them (the capture thread carries its class name,
// device threads an "orvo-" prefix).
int ServiceThreads()
{
    int count = 0;
    DIR *dir = opendir("/proc/self/task");
    while (dirent *entry = dir ? readdir(dir) : nullptr) {
        if (entry->d_name[0] == '.')
            continue;
        std::string name;
        std::getline(std::ifstream(std::string("/proc/self/task/") + entry->d_name + "/comm"), name);
        if (name == "CRecordThread" || name.compare(0, 5, "orvo-") == 0)
            ++count;
    }
    if (dir)
        closedir(dir);
    return count;
}

// A short 8000 Hz mono 16-bit WAV file for the wav: capture device.
std::string WriteWav()
{
    std::string path = ::testing::TempDir() + "orvo_unload_" + std::to_string(getpid()) + ".wav";
    std::string error;
    EXPECT_TRUE(orvo::tool::WriteFileAtomically(path, orvo::tool::SerializeVoiceWav(std::vector<int16_t>(8000, 1000)),
                                                &error))
        << error;
    return path;
}

TEST(TalkUnload, UnloadingStopsEveryThreadOfTheService)
{
    ASSERT_EQ(ServiceThreads(), 0);
    std::string wav = WriteWav();
    void *library = dlopen(ORVO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Select = int32_t (*)(int32_t, const char *);
    using NoArgs = int32_t (*)();
    using Get = int32_t (*)(unsigned char *);
    auto select = reinterpret_cast<Select>(dlsym(library, "Orvo_SelectAudioDevice"));
    auto initial = reinterpret_cast<NoArgs>(dlsym(library, "Orvo_InitialAudioTalk"));
    auto open = reinterpret_cast<NoArgs>(dlsym(library, "Orvo_OpenTalk"));
    auto get = reinterpret_cast<Get>(dlsym(library, "Orvo_GetAudioTalkData"));
    ASSERT_TRUE(select && initial && open && get);
    ASSERT_EQ(select(0, ("wav:" + wav).c_str()), 0);
    ASSERT_EQ(initial(), 0);
    ASSERT_EQ(open(), 0);
    unsigned char packet[500];
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (get(packet) == 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(ServiceThreads(), 2); // the capture thread and the device thread run
    ASSERT_EQ(dlclose(library), 0);
    EXPECT_EQ(ServiceThreads(), 0); // both gone before the code was unmapped
    std::remove(wav.c_str());
}

// Memory the process holds, in kB. Under a sanitizer freed blocks wait in its quarantine and stay
// resident, so there its count of allocated bytes is used instead.
long HeldKilobytes()
{
#if defined(ORVO_SANITIZER_ALLOCATOR)
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
#endif
}

// Each load that tried the default ALSA device used to leave ALSA's global configuration behind
// (about 100 kB); the teardown frees it once the last PCM is closed.
TEST(TalkUnload, RepeatedLoadsTryingTheDefaultDeviceDoNotGrowMemory)
{
    constexpr int kWarmUp = 10;
    constexpr int kCycles = 100;
    constexpr long kMostGrowthKb = 2048; // the leak grew by 10 MB over these cycles
    auto cycle = [] {
        void *library = dlopen(ORVO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return false;
        using NoArgs = int32_t (*)();
        auto initial = reinterpret_cast<NoArgs>(dlsym(library, "Orvo_InitialAudioTalk"));
        bool ok = initial && initial() == 0; // the default capture device, open or not
        return dlclose(library) == 0 && ok;
    };
    for (int i = 0; i < kWarmUp; ++i)
        ASSERT_TRUE(cycle()) << dlerror();
    const long before = HeldKilobytes();
    for (int i = 0; i < kCycles; ++i)
        ASSERT_TRUE(cycle()) << dlerror();
    EXPECT_LT(HeldKilobytes() - before, kMostGrowthKb);
    EXPECT_EQ(ServiceThreads(), 0);
}

// FIFOs as wav: devices that nobody opens at the other end: no host call and no teardown waits for
// them. The future only guards against a hang; what is asserted is what the calls report.
TEST(TalkUnload, FifoDevicesThatNobodyOpensBlockNoCallAndNoTeardown)
{
    std::string fifo = ::testing::TempDir() + "orvo_unload_fifo_" + std::to_string(getpid());
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Seen {
        int32_t select = -1, initial = -1, open = -1, play = 0, captureOpen = -2;
        int threadsAfterUnload = -1;
        bool unloaded = false;
    };
    auto run = std::async(std::launch::async, [&fifo] {
        Seen seen;
        void *library = dlopen(ORVO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return seen;
        using Select = int32_t (*)(int32_t, const char *);
        using NoArgs = int32_t (*)();
        using OneArg = int32_t (*)(int32_t);
        auto select = reinterpret_cast<Select>(dlsym(library, "Orvo_SelectAudioDevice"));
        auto initial = reinterpret_cast<NoArgs>(dlsym(library, "Orvo_InitialAudioTalk"));
        auto open = reinterpret_cast<NoArgs>(dlsym(library, "Orvo_OpenTalk"));
        auto play = reinterpret_cast<NoArgs>(dlsym(library, "Orvo_StartAudioPlay"));
        auto deviceOpen = reinterpret_cast<OneArg>(dlsym(library, "Orvo_IsAudioDeviceOpen"));
        if (!select || !initial || !open || !play || !deviceOpen)
            return seen;
        std::string name = "wav:" + fifo;
        seen.select = select(0, name.c_str()) | select(1, name.c_str());
        seen.initial = initial();
        seen.open = open();
        seen.play = play();
        seen.captureOpen = deviceOpen(0);
        seen.unloaded = dlclose(library) == 0;
        seen.threadsAfterUnload = ServiceThreads();
        return seen;
    });
    if (run.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        std::fprintf(stderr, "a call or the teardown blocked on the FIFO\n");
        std::_Exit(1); // the blocked thread cannot be joined
    }
    Seen seen = run.get();
    EXPECT_EQ(seen.select, 0);
    EXPECT_EQ(seen.initial, 0);
    EXPECT_EQ(seen.open, 0);
    EXPECT_EQ(seen.play, -1) << "no reader: the playback device is missing";
    EXPECT_EQ(seen.captureOpen, 0) << "no writer: the capture device is missing";
    EXPECT_TRUE(seen.unloaded);
    EXPECT_EQ(seen.threadsAfterUnload, 0);
    std::remove(fifo.c_str());
}

} // namespace
