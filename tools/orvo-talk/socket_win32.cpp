// The socket layer on Windows: Winsock 2, non-blocking sockets, waited on with select.
#include <chrono>
#include <cstring>

#include "socket.h"
#include "socket_platform.h"

namespace orvo::talktool {
namespace {

constexpr int kConnectPollMs = 20; // how often a pending connect looks at the stop flag

SOCKET Handle(intptr_t handle) { return static_cast<SOCKET>(handle); }

bool MakeNonBlocking(SOCKET s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

std::string ErrorText(int code)
{
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof(text), nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.'))
        text[--n] = '\0';
    return n > 0 ? std::string(text) : "socket error " + std::to_string(code);
}

} // namespace

bool StartSockets(std::string *error)
{
    WSADATA data;
    int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) {
        *error = "cannot start Winsock: " + ErrorText(rc);
        return false;
    }
    return true;
}

std::string Socket::LastErrorText() { return ErrorText(WSAGetLastError()); }

void Socket::Close()
{
    if (m_handle != kNone)
        closesocket(Handle(m_handle));
    m_handle = kNone;
}

bool Socket::OpenUdp(bool ipv6, uint16_t port, std::string *error)
{
    Close();
    SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        *error = "socket: " + LastErrorText();
        return false;
    }
    m_handle = static_cast<intptr_t>(s);
    // A datagram sent to a closed port makes Windows fail the next receive with WSAECONNRESET;
    // a talk link simply waits for its peer.
    constexpr DWORD kSioUdpConnReset = 0x9800000C; // SIO_UDP_CONNRESET
    BOOL off = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, kSioUdpConnReset, &off, sizeof(off), nullptr, 0, &returned, nullptr, nullptr);
    if (!MakeNonBlocking(s)) {
        *error = "socket: " + LastErrorText();
        Close();
        return false;
    }
    const Endpoint local = AnyLocalEndpoint(ipv6, port);
    if (bind(s, reinterpret_cast<const sockaddr *>(local.storage), static_cast<int>(local.length)) != 0) {
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
    SOCKET s = socket(to.IsIpv6() ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *error = "socket: " + LastErrorText();
        return false;
    }
    m_handle = static_cast<intptr_t>(s);
    if (!MakeNonBlocking(s)) {
        *error = "socket: " + LastErrorText();
        Close();
        return false;
    }
    if (connect(s, reinterpret_cast<const sockaddr *>(to.storage), static_cast<int>(to.length)) == 0)
        return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        *error = "cannot connect to " + to.Text() + ": " + LastErrorText();
        Close();
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!(stop && *stop) && std::chrono::steady_clock::now() < deadline) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval wait{0, kConnectPollMs * 1000};
        if (select(0, nullptr, &writable, &failed, &wait) <= 0)
            continue;
        int code = 0;
        int size = sizeof(code);
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&code), &size);
        if (code == 0 && FD_ISSET(s, &writable))
            return true;
        if (code == 0)
            continue; // no verdict yet
        *error = "cannot connect to " + to.Text() + ": " + ErrorText(code);
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
    int length = sizeof(local.storage);
    if (m_handle == kNone || getsockname(Handle(m_handle), reinterpret_cast<sockaddr *>(local.storage), &length) != 0)
        return 0;
    local.length = static_cast<uint32_t>(length);
    return local.Port();
}

bool Socket::SendTo(const Endpoint &to, const void *data, size_t length)
{
    int sent = sendto(Handle(m_handle), static_cast<const char *>(data), static_cast<int>(length), 0,
                      reinterpret_cast<const sockaddr *>(to.storage), static_cast<int>(to.length));
    return sent == static_cast<int>(length);
}

long Socket::ReceiveFrom(void *buffer, size_t capacity, Endpoint *from)
{
    sockaddr_storage sender{};
    int senderLength = sizeof(sender);
    int n = recvfrom(Handle(m_handle), static_cast<char *>(buffer), static_cast<int>(capacity), 0,
                     reinterpret_cast<sockaddr *>(&sender), &senderLength);
    if (n < 0) {
        // A datagram longer than the buffer: Windows fills the buffer and reports WSAEMSGSIZE.
        // Say it is longer than the buffer, so the caller refuses it as too long.
        if (WSAGetLastError() != WSAEMSGSIZE)
            return -1;
        n = static_cast<int>(capacity) + 1;
    }
    *from = Endpoint{};
    std::memcpy(from->storage, &sender, static_cast<size_t>(senderLength));
    from->length = static_cast<uint32_t>(senderLength);
    return n;
}

long Socket::Send(const void *data, size_t length)
{
    int n = send(Handle(m_handle), static_cast<const char *>(data), static_cast<int>(length), 0);
    if (n >= 0)
        return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

long Socket::Receive(void *buffer, size_t capacity)
{
    int n = recv(Handle(m_handle), static_cast<char *>(buffer), static_cast<int>(capacity), 0);
    if (n > 0)
        return n;
    if (n == 0)
        return -1;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

void Socket::WaitReadable(Socket *const *sockets, size_t count, int timeoutMs, bool *readable)
{
    fd_set set;
    FD_ZERO(&set);
    bool any = false;
    for (size_t i = 0; i < count; ++i) {
        readable[i] = false;
        if (sockets[i] && sockets[i]->IsOpen()) {
            FD_SET(Handle(sockets[i]->m_handle), &set);
            any = true;
        }
    }
    if (!any) { // select refuses an empty set on Windows
        Sleep(static_cast<DWORD>(timeoutMs));
        return;
    }
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &set, nullptr, nullptr, &wait) <= 0)
        return;
    for (size_t i = 0; i < count; ++i)
        readable[i] = sockets[i] && sockets[i]->IsOpen() && FD_ISSET(Handle(sockets[i]->m_handle), &set);
}

} // namespace orvo::talktool
