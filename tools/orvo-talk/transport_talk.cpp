// Talk packets over UDP: the library's own packets, one datagram each, both ways.
#include <algorithm>

#include "orvoaudio/talk.h"
#include "transports.h"

namespace orvo::talktool {
namespace {

constexpr size_t kDatagramMax = 2048; // larger than any packet; longer ones are cut and refused

class TalkTransport : public PeerDatagramTransport {
public:
    explicit TalkTransport(const PeerOptions &peer) : PeerDatagramTransport(peer) {}

    bool Open(std::string *error) override { return OpenPeerSocket(error); }

    bool Receive(const bool *readable, std::string *) override
    {
        if (!readable[0])
            return true;
        // A datagram longer than the buffer goes in with its real length: the library refuses
        // and counts it without reading past what it is allowed to.
        ReceiveFromPeer(m_datagram, sizeof(m_datagram), [this](long n) {
            Orvo_InputTalkData(m_datagram, static_cast<int32_t>(std::min<long>(n, ORVO_TALK_IN_PACKET_MAX + 1)));
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

private:
    unsigned char m_datagram[kDatagramMax];
};

} // namespace

std::unique_ptr<Transport> MakeTalkTransport(const PeerOptions &peer)
{
    return std::make_unique<TalkTransport>(peer);
}

} // namespace orvo::talktool
