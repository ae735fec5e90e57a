// Unloading the shared library while the talk service runs: the capture thread and the device
// thread are stopped first, so no thread is left running in unmapped code.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

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
    std::vector<int16_t> samples(8000, 1000);
    std::ofstream out(path, std::ios::binary);
    auto put = [&](uint32_t v, int n) { out.write(reinterpret_cast<const char *>(&v), n); };
    uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    put(36 + bytes, 4);
    out.write("WAVEfmt ", 8);
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(8000, 4);
    put(16000, 4);
    put(2, 2);
    put(16, 2);
    out.write("data", 4);
    put(bytes, 4);
    out.write(reinterpret_cast<const char *>(samples.data()), bytes);
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

} // namespace
