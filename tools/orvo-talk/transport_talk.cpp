// Talk packets over UDP: the library's own packets, one datagram each, both ways.
#include <algorithm>

#include "orvoaudio/talk.h"
#include "transports.h"

namespace orvo::talktool {
namespace {

constexpr size_t kDatagramMax = 2048; // larger than any packet; longer ones are cut and refused

class TalkTransport : public Transport {
public:
    explicit TalkTransport(const PeerOptions &peer) : m_options(peer) {}

    bool Open(std::string *error) override
    {
        if (!StartSockets(error))
            return false;
        if (!m_options.host.empty() && !ResolveEndpoint(m_options.host, m_options.port, &m_peer, error))
            return false;
        return m_socket.OpenUdp(m_peer.IsIpv6(), m_options.listenPort, error);
    }

    size_t Sockets(Socket **sockets, size_t max) override
    {
        if (max == 0)
            return 0;
        sockets[0] = &m_socket;
        return 1;
    }

    bool Receive(const bool *readable, std::string *) override
    {
        if (!readable[0])
            return true;
        // Without a peer there is nobody to compare with: listening only, any sender is taken.
        auto accept = [this](const Endpoint &from) {
            return m_options.acceptAny || !m_peer.IsSet() || SameEndpoint(from, m_peer);
        };
        // A datagram longer than the buffer goes in with its real length: the library refuses
        // and counts it without reading past what it is allowed to.
        DrainDatagrams(m_socket, m_datagram, sizeof(m_datagram), &m_received, &m_refusedSenders, accept,
                       [this](long n) {
                           Orvo_InputTalkData(m_datagram,
                                              static_cast<int32_t>(std::min<long>(n, ORVO_TALK_IN_PACKET_MAX + 1)));
                       });
        return true;
    }

    bool Send(const unsigned char *packet, int32_t length) override
    {
        return m_peer.IsSet() && m_socket.SendTo(m_peer, packet, static_cast<size_t>(length));
    }

    std::string Describe() const override
    {
        std::string text = "talk packets, listening on udp port " + std::to_string(m_socket.LocalPort());
        return text + (m_peer.IsSet() ? ", sending to " + m_peer.Text() : ", sending nothing (no --peer)");
    }

    uint32_t Received() const override { return m_received; }
    uint32_t RefusedSenders() const override { return m_refusedSenders; }

private:
    PeerOptions m_options;
    Endpoint m_peer;
    Socket m_socket;
    unsigned char m_datagram[kDatagramMax];
    uint32_t m_received = 0, m_refusedSenders = 0;
};

} // namespace

std::unique_ptr<Transport> MakeTalkTransport(const PeerOptions &peer)
{
    return std::make_unique<TalkTransport>(peer);
}

} // namespace orvo::talktool
