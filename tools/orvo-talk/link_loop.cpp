#include "link_loop.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "orvo_tool/file_io.h"
#include "orvo_tool/wav_file.h"
#include "orvoaudio/talk.h"

namespace orvo::talktool {

volatile std::sig_atomic_t g_stopRequested = 0;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 2; // how often the outgoing ring is drained (it holds 280 ms)
constexpr auto kStatusInterval = std::chrono::seconds(1);
constexpr auto kSettleAfterStop = std::chrono::milliseconds(60); // three 20 ms playback passes
// The capture thread retries a device that does not open every 2 s; nothing captured after this
// long means the device is unusable.
constexpr auto kCaptureWatchdog = std::chrono::milliseconds(2500);
constexpr size_t kMaxSockets = 4;
constexpr const char kWavPrefix[] = "wav:";

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The steady clock in microseconds: CLOCK_MONOTONIC on Linux, the same clock in every process on
// the machine, so traces of two instances can be compared.
long long MonotonicMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

void PrintStatus(const char *prefix, double seconds, uint32_t sent, const Transport &transport)
{
    OrvoTalkStats s{};
    if (Orvo_GetAudioTalkStats(&s) != 0)
        return;
    std::string detail = transport.StatusDetail();
    OrvoPlayoutStats p{};
    p.size = sizeof(p);
    if (Orvo_GetPlayoutStats(&p) == 0 && p.mode == ORVO_PLAYOUT_ADAPTIVE) {
        char playout[256];
        std::snprintf(playout, sizeof(playout),
                      "delay %d+%d ms, target %d, jitter %d, concealed %u, late %u, duplicate %u, "
                      "scaled -%u/+%u samples, underruns %u/%u",
                      p.buffer_delay_ms, p.device_delay_ms, p.target_delay_ms, p.jitter_ms,
                      p.frames_concealed, p.frames_late, p.frames_duplicate, p.samples_removed,
                      p.samples_inserted, p.buffer_underruns, p.device_underruns);
        detail = detail.empty() ? playout : detail + ", " + playout;
    }
    std::printf("%s%6.1f s  sent %u  received %u  rejected %u  played %u  repeats %u  overflow %u  "
                "queue %d  (datagrams in %u, other senders %u, capture drops %u, input drops %u%s%s)\n",
                prefix, seconds, sent, s.packets_received, s.packets_rejected, s.frames_played,
                s.frames_repeated, s.frames_dropped_overflow, s.queue_depth, transport.Received(),
                transport.RefusedSenders(), s.packets_dropped_out, s.packets_dropped_in,
                detail.empty() ? "" : ", ", detail.c_str());
    std::fflush(stdout);
}

// A wav: capture device is checked here, so that a missing or unsuitable file is one clear
// message instead of a link that sends nothing.
bool CheckCaptureDevice(const std::string &name, std::string *error)
{
    if (name.compare(0, sizeof(kWavPrefix) - 1, kWavPrefix) != 0)
        return true;
    std::string path = name.substr(sizeof(kWavPrefix) - 1);
    std::vector<uint8_t> data;
    std::vector<int16_t> samples;
    if (!orvo::tool::ReadWholeFile(path, &data, error) ||
        !orvo::tool::ParseVoiceWav(data.data(), data.size(), &samples, error)) {
        *error = "unusable capture device '" + name + "': " + *error;
        return false;
    }
    return true;
}

class TraceFile {
public:
    ~TraceFile()
    {
        if (m_file)
            std::fclose(m_file);
    }
    bool Open(const std::string &path, std::string *error)
    {
        if (path.empty())
            return true;
        m_file = std::fopen(path.c_str(), "w");
        if (!m_file)
            *error = "cannot write " + path + ": " + std::strerror(errno);
        return m_file != nullptr;
    }
    FILE *Get() const { return m_file; }

private:
    FILE *m_file = nullptr;
};

} // namespace

int RunLink(const LinkOptions &options, Transport *transport)
{
    std::string error;
    auto fail = [&error]() {
        std::fprintf(stderr, "orvo-talk: %s\n", error.c_str());
        return 1;
    };
    if (!CheckCaptureDevice(options.capture, &error))
        return fail();
    if (!options.capture.empty() && Orvo_SelectAudioDevice(ORVO_AUDIO_CAPTURE, options.capture.c_str()) != 0) {
        error = "bad capture device name '" + options.capture + "'";
        return fail();
    }
    if (!options.playback.empty() && Orvo_SelectAudioDevice(ORVO_AUDIO_PLAYBACK, options.playback.c_str()) != 0) {
        error = "bad playback device name '" + options.playback + "'";
        return fail();
    }
    TraceFile trace;
    if (!trace.Open(options.tracePath, &error))
        return fail();
    if (!transport->Open(&error))
        return fail();

    Orvo_InitialAudioTalk();
    if (Orvo_OpenTalk() != 0) {
        error = "the talk service did not start";
        transport->Finish();
        return fail();
    }
    Orvo_SetPlayoutMode(options.playout);
    if (Orvo_StartAudioPlay() != 0) {
        error = "cannot open the playback device '" + (options.playback.empty() ? "default" : options.playback) + "'";
        transport->Finish();
        return fail();
    }
    if (!transport->Begin(&error)) {
        Orvo_StopAudioPlay();
        Orvo_CloseTalk();
        transport->Finish();
        return fail();
    }

    if (!options.quiet) {
        std::printf("orvo-talk: %s\n", transport->Describe().c_str());
        std::fflush(stdout);
    }
    Clock::time_point start = Clock::now();
    Clock::time_point nextStatus = start + kStatusInterval;
    auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
    unsigned char packet[ORVO_TALK_OUT_PACKET_MAX];
    uint32_t sent = 0, lastPlayed = 0;
    bool captureStartTraced = false, playbackStartTraced = false;
    int64_t lastRendered = -1;
    bool broken = false, captureChecked = false;
    Socket *sockets[kMaxSockets] = {};
    bool readable[kMaxSockets] = {};
    size_t socketCount = transport->Sockets(sockets, kMaxSockets);

    while (!g_stopRequested && (options.seconds <= 0 || Clock::now() < deadline)) {
        Socket::WaitReadable(sockets, socketCount, kPollMs, readable);
        if (!transport->Receive(readable, &error) || !transport->Tick(&error)) {
            broken = true;
            break;
        }
        int32_t length;
        while ((length = Orvo_GetAudioTalkData(packet)) > 0) {
            if (transport->Send(packet, length)) {
                if (trace.Get())
                    std::fprintf(trace.Get(), "sent %u %lld\n", sent, MonotonicMicroseconds());
                ++sent;
            }
        }
        OrvoTalkStats s{};
        bool haveStats = Orvo_GetAudioTalkStats(&s) == 0;
        if (trace.Get() && haveStats) {
            long long now = MonotonicMicroseconds();
            for (; lastPlayed < s.frames_played; ++lastPlayed)
                std::fprintf(trace.Get(), "played %u %lld\n", lastPlayed, now);
        }
        if (trace.Get()) {
            // When sample 0 of each device flowed, once known (the library's monotonic clock),
            // and how many samples the playback device has played by now.
            OrvoPlayoutStats p{};
            p.size = sizeof(p);
            if (Orvo_GetPlayoutStats(&p) == 0) {
                if (p.playback_samples != lastRendered) {
                    lastRendered = p.playback_samples;
                    std::fprintf(trace.Get(), "rendered %lld %lld\n", static_cast<long long>(lastRendered),
                                 MonotonicMicroseconds());
                }
                if (!captureStartTraced && p.capture_start_us > 0) {
                    std::fprintf(trace.Get(), "capture-start %lld\n", static_cast<long long>(p.capture_start_us));
                    captureStartTraced = true;
                }
                if (!playbackStartTraced && p.playback_start_us > 0) {
                    std::fprintf(trace.Get(), "playback-start %lld\n", static_cast<long long>(p.playback_start_us));
                    playbackStartTraced = true;
                }
            }
        }
        if (!captureChecked && Clock::now() - start >= kCaptureWatchdog) {
            captureChecked = true;
            if (Orvo_IsAudioDeviceOpen(ORVO_AUDIO_CAPTURE) == 0 || (haveStats && s.packets_captured == 0)) {
                error = "nothing captured from '" + (options.capture.empty() ? "default" : options.capture) +
                        "' in 2.5 s: the capture device cannot be opened";
                broken = true;
                break;
            }
        }
        if (!options.quiet && Clock::now() >= nextStatus) {
            nextStatus += kStatusInterval;
            PrintStatus("", SecondsSince(start), sent, *transport);
        }
    }

    Orvo_StopAudioPlay();
    Orvo_CloseTalk();
    transport->Finish();
    // A playback pass under way when playback stopped finishes within one pass; after that the
    // counters hold still and add up.
    std::this_thread::sleep_for(kSettleAfterStop);
    PrintStatus("end ", SecondsSince(start), sent, *transport);
    if (broken)
        return fail();
    return 0;
}

} // namespace orvo::talktool
