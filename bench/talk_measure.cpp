// Measures the capture side of the talk service: CPU time of the capture thread (and of the device
// thread) per second with talk on and off, packets per second, and the delay from a capture block's
// completion to its packet being available to Orvo_GetAudioTalkData.
//
//   talk_measure_virtual           on the virtual device and clock (exact, deterministic)
//   talk_measure_real [SECONDS]    on ALSA (a file PCM, unpaced) and on a wav: device (real time)
//
// CPU times are read per thread from /proc/self/task/*/schedstat, found by thread name.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "orvoaudio/talk.h"

#if !defined(ORVO_MEASURE_VIRTUAL)
#include "orvo_tool/file_io.h"
#include "orvo_tool/wav_file.h"
#endif

#if defined(ORVO_MEASURE_VIRTUAL)
#include "platform/virtual/virtual_platform.h"
#include "talk/talk_service.h"
#endif

namespace {


// CPU nanoseconds used so far by the threads of this process whose name starts with `prefix`.
double ThreadCpuNs(const std::string &prefix)
{
    double total = 0;
    DIR *dir = opendir("/proc/self/task");
    if (!dir)
        return 0;
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::string base = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(base + "/comm"), name);
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        double ns = 0;
        std::ifstream(base + "/schedstat") >> ns;
        total += ns;
    }
    closedir(dir);
    return total;
}

struct Percentiles {
    double min = 0, median = 0, p99 = 0, max = 0;
};

Percentiles Summarise(std::vector<double> values)
{
    Percentiles p;
    if (values.empty())
        return p;
    std::sort(values.begin(), values.end());
    p.min = values.front();
    p.median = values[values.size() / 2];
    p.p99 = values[std::min(values.size() - 1, values.size() * 99 / 100)];
    p.max = values.back();
    return p;
}

#if defined(ORVO_MEASURE_VIRTUAL)

namespace virt = orvo::platform::virt;

int MeasureVirtual()
{
    constexpr int64_t kSeconds = 10;
    constexpr int64_t kMsPerSecond = 1000;
    virt::Reset();
    virt::SetCaptureSource([](uint64_t i) { return static_cast<int16_t>(i * 97); });
    Orvo_InitialAudioTalk();
    virt::WaitIdle();

    // Talk off: the loop only sleeps 20 ms per pass.
    double before = ThreadCpuNs("CRecordThread");
    virt::Advance(kSeconds * kMsPerSecond);
    double offNs = ThreadCpuNs("CRecordThread") - before;

    // Talk on, drained every virtual millisecond; each packet's delay from the completion of its
    // block (blocks complete in order, packets follow in the same order).
    Orvo_OpenTalk();
    unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
    std::vector<double> delays;
    std::vector<int64_t> completions; // virtual time of each block completion, in order
    uint64_t completed = virt::GetCaptureStats().blocksCompleted;
    size_t delivered = 0;
    int packets = 0;
    before = ThreadCpuNs("CRecordThread");
    for (int64_t ms = 0; ms < kSeconds * kMsPerSecond; ++ms) {
        virt::Advance(1);
        virt::CaptureStats stats = virt::GetCaptureStats();
        for (; completed < stats.blocksCompleted; ++completed)
            completions.push_back(stats.lastBlockDoneAt);
        while (Orvo_GetAudioTalkData(buffer) > 0) {
            ++packets;
            // Nothing captured while talk was off is sent: packet k is the k-th block that
            // completed after Orvo_OpenTalk.
            if (delivered < completions.size())
                delays.push_back(static_cast<double>(virt::Now() - completions[delivered]));
            ++delivered;
        }
    }
    double onCpu = ThreadCpuNs("CRecordThread") - before;
    orvo::talk::ShutdownTalkService();

    // The first packets, then the steady state.
    constexpr size_t kCatchUp = 20;
    std::vector<double> catchUp(delays.begin(), delays.begin() + std::min(kCatchUp, delays.size()));
    std::vector<double> steady(delays.begin() + std::min(kCatchUp, delays.size()), delays.end());
    Percentiles c = Summarise(catchUp);
    Percentiles d = Summarise(steady);
    std::printf("virtual clock, %lld s each\n", static_cast<long long>(kSeconds));
    std::printf("  capture thread CPU, talk off: %8.1f us per second\n", offNs / 1e3 / kSeconds);
    std::printf("  capture thread CPU, talk on:  %8.1f us per second\n", onCpu / 1e3 / kSeconds);
    std::printf("  packets per second, talk on:  %8.2f\n", static_cast<double>(packets) / kSeconds);
    std::printf("  block done -> packet available (virtual ms), first %zu live packets: median %.0f"
                " max %.0f\n",
                catchUp.size(), c.median, c.max);
    std::printf("  block done -> packet available (virtual ms), steady: min %.0f median %.0f max %.0f"
                " over %zu packets\n",
                d.min, d.median, d.max, steady.size());
    return 0;
}

#else

constexpr int kBlockMs = 20;
constexpr int kSampleRate = 8000;

int Drain()
{
    unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
    int count = 0;
    while (Orvo_GetAudioTalkData(buffer) > 0)
        ++count;
    return count;
}

struct RealRun {
    double captureCpuNs = 0, deviceCpuNs = 0;
    int packets = 0;
    std::vector<double> delaysMs;
};

using Clock = std::chrono::steady_clock;

// Talk on or off for `seconds`, draining every 0.2 ms. On a paced device started at `deviceStart`
// with talk on at once, packet k carries block k, which completes at deviceStart + 20 (k + 1) ms.
RealRun RunReal(const char *devicePrefix, bool talkOn, int seconds, bool paced,
                Clock::time_point deviceStart)
{
    RealRun run;
    double capture0 = ThreadCpuNs("CRecordThread"), device0 = ThreadCpuNs(devicePrefix);
    if (talkOn)
        Orvo_OpenTalk();
    else
        Orvo_CloseTalk();
    auto start = Clock::now();
    auto end = start + std::chrono::seconds(seconds);
    unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
    std::vector<double> arrivals;
    while (Clock::now() < end) {
        bool any = false;
        while (Orvo_GetAudioTalkData(buffer) > 0) {
            ++run.packets;
            arrivals.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            any = true;
        }
        if (!any)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    run.captureCpuNs = ThreadCpuNs("CRecordThread") - capture0;
    run.deviceCpuNs = ThreadCpuNs(devicePrefix) - device0;
    if (paced) {
        double startOffset = std::chrono::duration<double, std::milli>(start - deviceStart).count();
        for (size_t k = 0; k < arrivals.size(); ++k)
            run.delaysMs.push_back(arrivals[k] + startOffset - kBlockMs * static_cast<double>(k + 1));
    }
    return run;
}

void Print(const char *what, const RealRun &off, const RealRun &on, int seconds, bool paced)
{
    std::printf("%s, %d s each\n", what, seconds);
    std::printf("  capture thread CPU, talk off: %8.1f us per second (device thread %8.1f)\n",
                off.captureCpuNs / 1e3 / seconds, off.deviceCpuNs / 1e3 / seconds);
    std::printf("  capture thread CPU, talk on:  %8.1f us per second (device thread %8.1f)\n",
                on.captureCpuNs / 1e3 / seconds, on.deviceCpuNs / 1e3 / seconds);
    std::printf("  packets per second, talk on:  %8.2f\n", static_cast<double>(on.packets) / seconds);
    if (paced) {
        Percentiles d = Summarise(on.delaysMs);
        std::printf("  block done -> packet available (ms, the device's start taken as the return of"
                    " Orvo_InitialAudioTalk): min %.2f median %.2f p99 %.2f max %.2f over %zu packets\n",
                    d.min, d.median, d.p99, d.max, on.delaysMs.size());
    }
}

int MeasureReal(int seconds)
{
    const char *which = std::getenv("ORVO_MEASURE_DEVICE");
    std::string dir = "/tmp/orvo_talk_measure";
    mkdir(dir.c_str(), 0700);
    if (!which || std::string(which) == "alsa") {
        // "default" as an unpaced file PCM reading a generated raw file.
        std::string raw = dir + "/in.raw";
        {
            std::vector<int16_t> samples(static_cast<size_t>(kSampleRate) * 4 * seconds);
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
            std::ofstream(raw, std::ios::binary)
                .write(reinterpret_cast<const char *>(samples.data()),
                       static_cast<std::streamsize>(samples.size() * 2));
        }
        std::string config = dir + "/asound.conf";
        std::ofstream(config) << "pcm.!default { type file slave.pcm { type null } file \"/dev/null\""
                                 " infile \"" << raw << "\" format \"raw\" }\n";
        setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    } else {
        // A wav: device, paced in real time like a sound card.
        std::string wav = dir + "/in.wav";
        std::vector<int16_t> samples(static_cast<size_t>(kSampleRate) * 3 * seconds);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
        std::string error;
        if (!orvo::tool::WriteFileAtomically(wav, orvo::tool::SerializeVoiceWav(samples), &error)) {
            std::fprintf(stderr, "talk_measure: %s\n", error.c_str());
            return 1;
        }
        Orvo_SelectAudioDevice(ORVO_AUDIO_CAPTURE, ("wav:" + wav).c_str());
    }
    bool paced = which && std::string(which) == "wav";
    const char *devicePrefix = paced ? "orvo-wav-in" : "orvo-alsa-in";
    Orvo_InitialAudioTalk();
    Clock::time_point deviceStart = Clock::now();
    RealRun on = RunReal(devicePrefix, true, seconds, paced, deviceStart);
    Drain();
    RealRun off = RunReal(devicePrefix, false, seconds, false, deviceStart);
    Print(paced ? "wav: device (real time)" : "ALSA file PCM (unpaced)", off, on, seconds, paced);
    return 0;
}

#endif

} // namespace

int main(int argc, char **argv)
{
#if defined(ORVO_MEASURE_VIRTUAL)
    (void)argc;
    (void)argv;
    return MeasureVirtual();
#else
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    return MeasureReal(seconds > 0 ? seconds : 10);
#endif
}
