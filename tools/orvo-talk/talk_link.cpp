#include "talk_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "orvoaudio/talk.h"

namespace orvo::talktool {

volatile std::sig_atomic_t g_stopRequested = 0;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 2;          // how often the outgoing ring is drained (it holds 280 ms)
constexpr size_t kDatagramMax = 2048; // larger than any packet; longer ones are cut and refused
constexpr auto kStatusInterval = std::chrono::seconds(1);
constexpr auto kSettleAfterStop = std::chrono::milliseconds(60); // three 20 ms playback passes

// A UDP socket bound to the listen port, with the peer's address resolved.
class UdpLink {
public:
    ~UdpLink()
    {
        if (m_socket >= 0)
            close(m_socket);
    }

    bool Open(const LinkOptions &options)
    {
        int family = AF_INET;
        if (!options.peerHost.empty()) {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_DGRAM;
            addrinfo *found = nullptr;
            std::string port = std::to_string(options.peerPort);
            int rc = getaddrinfo(options.peerHost.c_str(), port.c_str(), &hints, &found);
            if (rc != 0 || !found) {
                std::fprintf(stderr, "orvo-talk: cannot resolve %s: %s\n", options.peerHost.c_str(),
                             gai_strerror(rc));
                return false;
            }
            std::memcpy(&m_peer, found->ai_addr, found->ai_addrlen);
            m_peerLength = found->ai_addrlen;
            family = found->ai_family;
            freeaddrinfo(found);
        }
        m_socket = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_socket < 0) {
            std::fprintf(stderr, "orvo-talk: socket: %s\n", std::strerror(errno));
            return false;
        }
        sockaddr_storage local{};
        socklen_t localLength = 0;
        if (family == AF_INET6) {
            auto *a = reinterpret_cast<sockaddr_in6 *>(&local);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_any;
            a->sin6_port = htons(options.listenPort);
            localLength = sizeof(*a);
        } else {
            auto *a = reinterpret_cast<sockaddr_in *>(&local);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_ANY);
            a->sin_port = htons(options.listenPort);
            localLength = sizeof(*a);
        }
        if (bind(m_socket, reinterpret_cast<sockaddr *>(&local), localLength) != 0) {
            std::fprintf(stderr, "orvo-talk: cannot listen on port %u: %s\n", options.listenPort,
                         std::strerror(errno));
            return false;
        }
        return true;
    }

    int Socket() const { return m_socket; }
    bool HasPeer() const { return m_peerLength > 0; }

    bool Send(const unsigned char *data, size_t length)
    {
        ssize_t sent = sendto(m_socket, data, length, 0, reinterpret_cast<const sockaddr *>(&m_peer),
                              m_peerLength);
        return sent == static_cast<ssize_t>(length);
    }

    // One datagram, or -1 when none waits.
    ssize_t Receive(unsigned char *buffer, size_t capacity)
    {
        ssize_t n = recv(m_socket, buffer, capacity, MSG_TRUNC);
        return n < 0 ? -1 : n;
    }

private:
    int m_socket = -1;
    sockaddr_storage m_peer{};
    socklen_t m_peerLength = 0;
};

long long MicrosecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

// CLOCK_MONOTONIC in microseconds: the same clock in every process on the machine, so traces of
// two instances can be compared.
long long MonotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void PrintStatus(const char *prefix, double seconds, uint32_t sent, uint32_t datagrams)
{
    OrvoTalkStats s{};
    if (Orvo_GetAudioTalkStats(&s) != 0)
        return;
    std::printf("%s%6.1f s  sent %u  received %u  rejected %u  played %u  repeats %u  overflow %u  "
                "queue %d  (datagrams in %u, capture drops %u, input drops %u)\n",
                prefix, seconds, sent, s.packets_received, s.packets_rejected, s.frames_played,
                s.frames_repeated, s.frames_dropped_overflow, s.queue_depth, datagrams,
                s.packets_dropped_out, s.packets_dropped_in);
    std::fflush(stdout);
}

} // namespace

int RunLink(const LinkOptions &options)
{
    UdpLink link;
    if (!link.Open(options))
        return 1;
    if (!options.capture.empty() && Orvo_SelectAudioDevice(ORVO_AUDIO_CAPTURE, options.capture.c_str()) != 0) {
        std::fprintf(stderr, "orvo-talk: bad capture device name '%s'\n", options.capture.c_str());
        return 1;
    }
    if (!options.playback.empty() &&
        Orvo_SelectAudioDevice(ORVO_AUDIO_PLAYBACK, options.playback.c_str()) != 0) {
        std::fprintf(stderr, "orvo-talk: bad playback device name '%s'\n", options.playback.c_str());
        return 1;
    }
    FILE *trace = nullptr;
    if (!options.tracePath.empty()) {
        trace = std::fopen(options.tracePath.c_str(), "w");
        if (!trace) {
            std::fprintf(stderr, "orvo-talk: cannot write %s: %s\n", options.tracePath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    Orvo_InitialAudioTalk();
    if (Orvo_OpenTalk() != 0) {
        std::fprintf(stderr, "orvo-talk: the talk service did not start\n");
        if (trace)
            std::fclose(trace);
        return 1;
    }
    if (Orvo_StartAudioPlay() != 0) {
        std::fprintf(stderr, "orvo-talk: cannot open the playback device '%s'\n",
                     options.playback.empty() ? "default" : options.playback.c_str());
        if (trace)
            std::fclose(trace);
        return 1;
    }

    Clock::time_point start = Clock::now();
    Clock::time_point nextStatus = start + kStatusInterval;
    auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(options.seconds));
    unsigned char packet[ORVO_TALK_OUT_PACKET_MAX];
    unsigned char datagram[kDatagramMax];
    uint32_t sent = 0, datagrams = 0, lastPlayed = 0;
    pollfd fd{link.Socket(), POLLIN, 0};

    while (!g_stopRequested && (options.seconds <= 0 || Clock::now() < deadline)) {
        poll(&fd, 1, kPollMs); // EINTR on a signal: the loop condition sees it
        ssize_t n;
        while ((n = link.Receive(datagram, sizeof(datagram))) >= 0) {
            ++datagrams;
            // A datagram longer than the buffer goes in with its real length: the library
            // refuses and counts it without reading past what it is allowed to.
            int32_t length = static_cast<int32_t>(std::min<ssize_t>(n, ORVO_TALK_IN_PACKET_MAX + 1));
            Orvo_InputTalkData(datagram, length);
        }
        int32_t length;
        while ((length = Orvo_GetAudioTalkData(packet)) > 0) {
            if (link.HasPeer() && link.Send(packet, static_cast<size_t>(length))) {
                if (trace)
                    std::fprintf(trace, "sent %u %lld\n", sent, MonotonicMicroseconds());
                ++sent;
            }
        }
        if (trace) {
            OrvoTalkStats s{};
            if (Orvo_GetAudioTalkStats(&s) == 0) {
                long long now = MonotonicMicroseconds();
                for (; lastPlayed < s.frames_played; ++lastPlayed)
                    std::fprintf(trace, "played %u %lld\n", lastPlayed, now);
            }
        }
        if (!options.quiet && Clock::now() >= nextStatus) {
            nextStatus += kStatusInterval;
            PrintStatus("", MicrosecondsSince(start) / 1e6, sent, datagrams);
        }
    }

    Orvo_StopAudioPlay();
    Orvo_CloseTalk();
    // A playback pass under way when playback stopped finishes within one pass; after that the
    // counters hold still and add up.
    std::this_thread::sleep_for(kSettleAfterStop);
    PrintStatus("end ", MicrosecondsSince(start) / 1e6, sent, datagrams);
    if (trace)
        std::fclose(trace);
    return 0;
}

} // namespace orvo::talktool
