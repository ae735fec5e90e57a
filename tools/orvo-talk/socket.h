// The few socket operations orvo-talk needs, the same on POSIX and Winsock: addresses, a
// non-blocking UDP or TCP socket, and a bounded wait for readable sockets. socket_posix.cpp and
// socket_win32.cpp implement it; nothing else in orvo-talk sees a platform socket type.
#ifndef ORVO_TALK_TOOL_SOCKET_H
#define ORVO_TALK_TOOL_SOCKET_H

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo::talktool {

// Starts the socket library (Winsock needs it; POSIX does nothing). false with `error` set.
bool StartSockets(std::string *error);

// An IPv4 or IPv6 address with a port, as the platform stores it.
struct Endpoint {
    alignas(8) unsigned char storage[128] = {};
    uint32_t length = 0; // 0: no address
    bool IsSet() const { return length > 0; }
    bool IsIpv6() const;
    uint16_t Port() const;
    void SetPort(uint16_t port);
    std::string HostText() const; // "127.0.0.1", "::1"
    std::string Text() const;     // "127.0.0.1:5000", "[::1]:5000"
};

// Every local address of the family, with `port`: what a listening socket binds to.
Endpoint AnyLocalEndpoint(bool ipv6, uint16_t port);

// Same family, address and port / same family and address.
bool SameEndpoint(const Endpoint &a, const Endpoint &b);
bool SameHost(const Endpoint &a, const Endpoint &b);

// Resolves a host name or numeric address (first answer). false with `error` set.
bool ResolveEndpoint(const std::string &host, uint16_t port, Endpoint *out, std::string *error);

// Splits "HOST:PORT" or "[V6]:PORT"; false when there is no port part.
bool SplitHostPort(const std::string &text, std::string *host, std::string *port);

class Socket {
public:
    Socket() = default;
    ~Socket() { Close(); }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    Socket(Socket &&other) noexcept : m_handle(other.m_handle) { other.m_handle = kNone; }
    Socket &operator=(Socket &&other) noexcept;

    // A non-blocking UDP socket bound to `port` (0: any free port) on every local address of the
    // family.
    bool OpenUdp(bool ipv6, uint16_t port, std::string *error);
    // A non-blocking TCP connection to `to`, given up after `timeoutMs` or when `*stop` is set.
    bool ConnectTcp(const Endpoint &to, int timeoutMs, const volatile std::sig_atomic_t *stop, std::string *error);
    void Close();
    bool IsOpen() const { return m_handle != kNone; }
    uint16_t LocalPort() const;

    // One datagram. false when it could not be sent whole.
    bool SendTo(const Endpoint &to, const void *data, size_t length);
    // The next waiting datagram: its whole length (bytes beyond `capacity` are cut off), -1 when
    // none waits. `from` receives the sender's address.
    long ReceiveFrom(void *buffer, size_t capacity, Endpoint *from);

    // Stream bytes: how many were sent (0: the send buffer is full), -1 on a broken connection.
    long Send(const void *data, size_t length);
    // Stream bytes: how many arrived, 0 when none waits, -1 when the peer closed or the
    // connection broke.
    long Receive(void *buffer, size_t capacity);

    // Waits up to `timeoutMs` until one of `sockets` is readable (or a signal arrives);
    // readable[i] tells which. Null entries and closed sockets are skipped.
    static void WaitReadable(Socket *const *sockets, size_t count, int timeoutMs, bool *readable);

    // Human-readable text of the last socket error of this thread.
    static std::string LastErrorText();

private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_handle = kNone;
};

// Takes every datagram waiting on `socket` into `buffer`: one whose sender `accept(from)` refuses
// is counted in *refused and dropped; every other is counted in *received and handed to
// take(length), with its whole length, which exceeds `capacity` when the receive cut it.
template <typename Accept, typename Take>
void DrainDatagrams(Socket &socket, unsigned char *buffer, size_t capacity, uint32_t *received,
                    uint32_t *refused, Accept accept, Take take)
{
    long n;
    Endpoint from;
    while ((n = socket.ReceiveFrom(buffer, capacity, &from)) >= 0) {
        if (!accept(from)) {
            ++*refused;
            continue;
        }
        ++*received;
        take(n);
    }
}

} // namespace orvo::talktool

#endif
