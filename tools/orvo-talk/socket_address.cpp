// What the POSIX and the Winsock socket layers share: endpoints (both use the BSD address
// records), moving a socket, and the text of a connection given up.
#include <cstring>

#include "socket.h"
#include "socket_platform.h"

namespace orvo::talktool {
namespace {

const sockaddr *AsAddress(const Endpoint &e) { return reinterpret_cast<const sockaddr *>(e.storage); }
const sockaddr_in *AsIpv4(const Endpoint &e) { return reinterpret_cast<const sockaddr_in *>(e.storage); }
const sockaddr_in6 *AsIpv6(const Endpoint &e) { return reinterpret_cast<const sockaddr_in6 *>(e.storage); }

} // namespace

static_assert(sizeof(Endpoint::storage) >= sizeof(sockaddr_storage), "Endpoint holds any address");

Endpoint AnyLocalEndpoint(bool ipv6, uint16_t port)
{
    Endpoint e;
    if (ipv6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(e.storage);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_any;
        a->sin6_port = htons(port);
        e.length = sizeof(*a);
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(e.storage);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_ANY);
        a->sin_port = htons(port);
        e.length = sizeof(*a);
    }
    return e;
}

bool Endpoint::IsIpv6() const { return length > 0 && AsAddress(*this)->sa_family == AF_INET6; }

uint16_t Endpoint::Port() const
{
    if (length == 0)
        return 0;
    return ntohs(IsIpv6() ? AsIpv6(*this)->sin6_port : AsIpv4(*this)->sin_port);
}

void Endpoint::SetPort(uint16_t port)
{
    if (length == 0)
        return;
    if (IsIpv6())
        reinterpret_cast<sockaddr_in6 *>(storage)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in *>(storage)->sin_port = htons(port);
}

std::string Endpoint::HostText() const
{
    if (length == 0)
        return "";
    char text[INET6_ADDRSTRLEN] = {};
    if (IsIpv6())
        inet_ntop(AF_INET6, const_cast<in6_addr *>(&AsIpv6(*this)->sin6_addr), text, sizeof(text));
    else
        inet_ntop(AF_INET, const_cast<in_addr *>(&AsIpv4(*this)->sin_addr), text, sizeof(text));
    return text;
}

std::string Endpoint::Text() const
{
    std::string host = HostText();
    if (IsIpv6())
        host = "[" + host + "]";
    return host + ":" + std::to_string(Port());
}

bool SameHost(const Endpoint &a, const Endpoint &b)
{
    if (a.length == 0 || b.length == 0 || a.IsIpv6() != b.IsIpv6())
        return false;
    if (a.IsIpv6())
        return std::memcmp(&AsIpv6(a)->sin6_addr, &AsIpv6(b)->sin6_addr, sizeof(in6_addr)) == 0;
    return AsIpv4(a)->sin_addr.s_addr == AsIpv4(b)->sin_addr.s_addr;
}

bool SameEndpoint(const Endpoint &a, const Endpoint &b) { return SameHost(a, b) && a.Port() == b.Port(); }

bool ResolveEndpoint(const std::string &host, uint16_t port, Endpoint *out, std::string *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM; // one answer per address; the port is set below
    addrinfo *found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        *error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    *out = Endpoint{};
    std::memcpy(out->storage, found->ai_addr, found->ai_addrlen);
    out->length = static_cast<uint32_t>(found->ai_addrlen);
    freeaddrinfo(found);
    out->SetPort(port);
    return true;
}

bool SplitHostPort(const std::string &text, std::string *host, std::string *port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    *host = text.substr(0, colon);
    if (host->size() > 2 && host->front() == '[' && host->back() == ']')
        *host = host->substr(1, host->size() - 2); // [::1]:5000
    *port = text.substr(colon + 1);
    return true;
}

// The same on every platform: the handle moves, the one it replaces is closed.
Socket &Socket::operator=(Socket &&other) noexcept
{
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = kNone;
    }
    return *this;
}

std::string ConnectGaveUpText(const Endpoint &to, int timeoutMs, bool stopped)
{
    if (stopped)
        return "stopped while connecting to " + to.Text();
    return "no answer from " + to.Text() + " within " + std::to_string(timeoutMs / 1000) + " s";
}

} // namespace orvo::talktool
