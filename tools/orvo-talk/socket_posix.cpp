// The socket layer on POSIX: BSD sockets, non-blocking, waited on with poll.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "socket.h"
#include "socket_platform.h"

namespace orvo::talktool {
namespace {

constexpr int kConnectPollMs = 20; // how often a pending connect looks at the stop flag

int Fd(intptr_t handle) { return static_cast<int>(handle); }

} // namespace

bool StartSockets(std::string *) { return true; }

std::string Socket::LastErrorText() { return std::strerror(errno); }

void Socket::Close()
{
    if (m_handle != kNone)
        close(Fd(m_handle));
    m_handle = kNone;
}

bool Socket::OpenUdp(bool ipv6, uint16_t port, std::string *error)
{
    Close();
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = "socket: " + LastErrorText();
        return false;
    }
    m_handle = fd;
    const Endpoint local = AnyLocalEndpoint(ipv6, port);
    if (bind(fd, reinterpret_cast<const sockaddr *>(local.storage), static_cast<socklen_t>(local.length)) != 0) {
        *error = "cannot listen on udp port " + std::to_string(port) + ": " + LastErrorText();
        Close();
        return false;
    }
    return true;
}

bool Socket::ConnectTcp(const Endpoint &to, int timeoutMs, const volatile std::sig_atomic_t *stop,
                        std::string *error)
{
    Close();
    int fd = socket(to.IsIpv6() ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = "socket: " + LastErrorText();
        return false;
    }
    m_handle = fd;
    if (connect(fd, reinterpret_cast<const sockaddr *>(to.storage), to.length) == 0)
        return true;
    if (errno != EINPROGRESS) {
        *error = "cannot connect to " + to.Text() + ": " + LastErrorText();
        Close();
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!(stop && *stop) && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, kConnectPollMs) <= 0)
            continue;
        int code = 0;
        socklen_t size = sizeof(code);
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size);
        if (code == 0)
            return true;
        *error = "cannot connect to " + to.Text() + ": " + std::strerror(code);
        Close();
        return false;
    }
    *error = ConnectGaveUpText(to, timeoutMs, stop && *stop);
    Close();
    return false;
}

uint16_t Socket::LocalPort() const
{
    Endpoint local;
    socklen_t length = sizeof(local.storage);
    if (m_handle == kNone || getsockname(Fd(m_handle), reinterpret_cast<sockaddr *>(local.storage), &length) != 0)
        return 0;
    local.length = static_cast<uint32_t>(length);
    return local.Port();
}

bool Socket::SendTo(const Endpoint &to, const void *data, size_t length)
{
    ssize_t sent = sendto(Fd(m_handle), data, length, 0, reinterpret_cast<const sockaddr *>(to.storage), to.length);
    return sent == static_cast<ssize_t>(length);
}

long Socket::ReceiveFrom(void *buffer, size_t capacity, Endpoint *from)
{
    sockaddr_storage sender{};
    socklen_t senderLength = sizeof(sender);
    ssize_t n = recvfrom(Fd(m_handle), buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr *>(&sender),
                         &senderLength);
    if (n < 0)
        return -1;
    *from = Endpoint{};
    std::memcpy(from->storage, &sender, senderLength);
    from->length = senderLength;
    return static_cast<long>(n);
}

long Socket::Send(const void *data, size_t length)
{
    ssize_t n = send(Fd(m_handle), data, length, MSG_NOSIGNAL);
    if (n >= 0)
        return static_cast<long>(n);
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

long Socket::Receive(void *buffer, size_t capacity)
{
    ssize_t n = recv(Fd(m_handle), buffer, capacity, 0);
    if (n > 0)
        return static_cast<long>(n);
    if (n == 0)
        return -1;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

void Socket::WaitReadable(Socket *const *sockets, size_t count, int timeoutMs, bool *readable)
{
    constexpr size_t kMaxWait = 8;
    pollfd fds[kMaxWait];
    size_t index[kMaxWait];
    nfds_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        readable[i] = false;
        if (sockets[i] && sockets[i]->IsOpen() && used < kMaxWait) {
            fds[used] = pollfd{Fd(sockets[i]->m_handle), POLLIN, 0};
            index[used++] = i;
        }
    }
    if (poll(fds, used, timeoutMs) <= 0) // EINTR on a signal: the caller looks at its stop flag
        return;
    for (nfds_t k = 0; k < used; ++k)
        readable[index[k]] = (fds[k].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

} // namespace orvo::talktool
