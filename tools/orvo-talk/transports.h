// The ways orvo-talk carries a link, one file each: talk packets over UDP (transport_talk.cpp),
// plain RTP (transport_rtp.cpp) and an RTSP session with an audio back channel
// (transport_rtsp.cpp).
#ifndef ORVO_TALK_TOOL_TRANSPORTS_H
#define ORVO_TALK_TOOL_TRANSPORTS_H

#include <cstdint>
#include <memory>
#include <string>

#include "link_loop.h"
#include "orvoaudio/rtp.h"

namespace orvo::talktool {

// Where the peer is and from whom datagrams are taken.
struct PeerOptions {
    std::string host;       // empty: send nothing
    uint16_t port = 0;
    uint16_t listenPort = 0; // 0: any free port
    bool acceptAny = false;  // take datagrams from any sender, not only from the peer
};

// A transport on one UDP socket with one peer (talk packets, plain RTP): the socket, opened for
// the peer's address family, is the one the loop waits on, and a datagram is taken only from the
// peer, or from anyone when told so or when there is no peer to compare with (listening only).
class PeerDatagramTransport : public Transport {
public:
    explicit PeerDatagramTransport(const PeerOptions &peer) : m_peerOptions(peer) {}

    size_t Sockets(Socket **sockets, size_t max) override
    {
        if (max == 0)
            return 0;
        sockets[0] = &m_socket;
        return 1;
    }
    uint32_t Received() const override { return m_received; }
    uint32_t RefusedSenders() const override { return m_refusedSenders; }

protected:
    bool OpenPeerSocket(std::string *error)
    {
        if (!StartSockets(error))
            return false;
        if (!m_peerOptions.host.empty() &&
            !ResolveEndpoint(m_peerOptions.host, m_peerOptions.port, &m_peer, error))
            return false;
        return m_socket.OpenUdp(m_peer.IsIpv6(), m_peerOptions.listenPort, error);
    }

    // Every waiting datagram from the peer into `buffer`, then take(length) (see DrainDatagrams).
    template <typename Take>
    void ReceiveFromPeer(unsigned char *buffer, size_t capacity, Take take)
    {
        DrainDatagrams(
            m_socket, buffer, capacity, &m_received, &m_refusedSenders,
            [this](const Endpoint &from) {
                return m_peerOptions.acceptAny || !m_peer.IsSet() || SameEndpoint(from, m_peer);
            },
            take);
    }

    PeerOptions m_peerOptions;
    Endpoint m_peer;
    Socket m_socket;

private:
    uint32_t m_received = 0, m_refusedSenders = 0;
};

// Every outgoing talk packet is one datagram to the peer; every datagram from the peer goes to
// Orvo_InputTalkData.
std::unique_ptr<Transport> MakeTalkTransport(const PeerOptions &peer);

struct RtpOptions {
    PeerOptions peer;
    int16_t voiceType = 0;    // codec sent (VOICE_*)
    int32_t payloadType = -1; // -1: the codec's usual type
    std::string sdpPath;      // written before the first packet when not empty
};

// Plain RTP both ways: the capture side is encoded with the chosen codec and framed as RTP; any
// received RTP packet of a known payload type is played.
std::unique_ptr<Transport> MakeRtpTransport(const RtpOptions &options);

// The start of the status line of an RTP receiver: "rtp queued Q refused R lost L late T", with
// the refusals of every reason summed, from the library's counters, which land in `stats`. Empty
// when the library gives none.
std::string RtpReceiveSummary(OrvoRtpStats *stats);

struct RtspOptions {
    std::string url;          // rtsp://[user:pass@]host[:port]/path
    bool interleaved = false; // RTP inside the RTSP connection instead of UDP
    int32_t g726Packing = 0;  // ORVO_RTP_G726_* for both directions
    int timeoutMs = 5000;     // for the connection and for every answer
    bool acceptAny = false;   // take RTP from any sender, not only from the camera
};

// An RTSP client with the ONVIF audio back channel: plays the camera's audio, sends the captured
// audio on the back channel in the codec the camera asks for.
std::unique_ptr<Transport> MakeRtspTransport(const RtspOptions &options);

} // namespace orvo::talktool

#endif
