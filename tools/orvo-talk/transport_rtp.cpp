// Plain RTP both ways: the captured audio in the chosen codec, one RTP packet per 20 ms frame, to
// the peer; RTP packets from the peer into the library's playback, ordered by sequence number.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "orvo_tool/file_io.h"
#include "orvoaudio/rtp.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "transports.h"

namespace orvo::talktool {
namespace {

constexpr size_t kDatagramMax = 4096; // far above any audio packet here; longer ones are dropped
constexpr int32_t kPtimeMs = 20;
constexpr size_t kSdpMax = 1024;

// Every G.726 codec under its usual dynamic payload type, so that a peer using those numbers is
// understood without being told.
void MapDefaultDynamicTypes()
{
    const int16_t types[] = {VOICE_G726_16K,     VOICE_G726_24K,     VOICE_G726_32K,     VOICE_G726_40K,
                             VOICE_G726_16K_MSB, VOICE_G726_24K_MSB, VOICE_G726_32K_MSB, VOICE_G726_40K_MSB};
    for (int16_t type : types) {
        int32_t pt = Orvo_RtpDefaultPayloadType(type);
        if (pt >= ORVO_RTP_PT_DYNAMIC_FIRST)
            Orvo_SetRtpPayloadType(pt, type);
    }
}

class RtpTransport : public PeerDatagramTransport {
public:
    explicit RtpTransport(const RtpOptions &options) : PeerDatagramTransport(options.peer), m_options(options) {}

    bool Open(std::string *error) override
    {
        if (!OpenPeerSocket(error))
            return false;
        int32_t rc = Orvo_RtpSenderInit(&m_sender, m_options.voiceType, m_options.payloadType, 0);
        if (rc != 0) {
            *error = std::string("cannot send ") + Orvo_RtpNameOfVoiceType(m_options.voiceType) +
                     " as payload type " + std::to_string(m_options.payloadType) + ": " + Orvo_RtpStatusText(rc);
            return false;
        }
        if (Orvo_SetTalkCodec(ORVO_AUDIO_CAPTURE, m_options.voiceType) != 0) {
            *error = std::string("the talk service cannot encode ") + Orvo_RtpNameOfVoiceType(m_options.voiceType);
            return false;
        }
        MapDefaultDynamicTypes();
        if (m_sender.payload_type >= ORVO_RTP_PT_DYNAMIC_FIRST)
            Orvo_SetRtpPayloadType(m_sender.payload_type, m_options.voiceType);
        return true;
    }

    bool Begin(std::string *error) override
    {
        if (m_options.sdpPath.empty())
            return true;
        if (!m_peer.IsSet()) {
            *error = "--sdp needs --peer: the description says where the stream goes";
            return false;
        }
        char sdp[kSdpMax];
        int32_t n = Orvo_SdpWriteSession(sdp, sizeof(sdp), m_peer.HostText().c_str(), m_peer.Port(),
                                         m_sender.payload_type, m_options.voiceType, kPtimeMs, ORVO_SDP_SENDONLY);
        if (n < 0) {
            *error = std::string("cannot describe the stream: ") + Orvo_RtpStatusText(n);
            return false;
        }
        std::vector<uint8_t> bytes(sdp, sdp + n);
        return orvo::tool::WriteFileAtomically(m_options.sdpPath, bytes, error);
    }

    bool Receive(const bool *readable, std::string *) override
    {
        if (!readable[0])
            return true;
        ReceiveFromPeer(m_datagram, sizeof(m_datagram), [this](long n) {
            if (n > static_cast<long>(sizeof(m_datagram))) {
                ++m_tooLong; // cut by the receive: not whole, never handed in
                return;
            }
            Orvo_InputRtpData(m_datagram, static_cast<int32_t>(n));
        });
        return true;
    }

    bool Send(const unsigned char *packet, int32_t length) override
    {
        if (!m_peer.IsSet())
            return false;
        int32_t n = Orvo_RtpFromTalkPacket(&m_sender, packet, length, m_rtp, sizeof(m_rtp));
        return n > 0 && m_socket.SendTo(m_peer, m_rtp, static_cast<size_t>(n));
    }

    std::string Describe() const override
    {
        std::string text = "RTP, listening on udp port " + std::to_string(m_socket.LocalPort());
        if (!m_peer.IsSet())
            return text + ", sending nothing (no --peer)";
        return text + ", sending " + Orvo_RtpNameOfVoiceType(m_options.voiceType) + " (payload type " +
               std::to_string(m_sender.payload_type) + ") to " + m_peer.Text();
    }

    std::string StatusDetail() const override
    {
        OrvoRtpStats s;
        const std::string summary = RtpReceiveSummary(&s);
        if (summary.empty())
            return "";
        return summary + " duplicates " + std::to_string(s.duplicates) + " too long " + std::to_string(m_tooLong);
    }

private:
    RtpOptions m_options;
    OrvoRtpSender m_sender{};
    unsigned char m_datagram[kDatagramMax];
    unsigned char m_rtp[ORVO_RTP_PACKET_MAX];
    uint32_t m_tooLong = 0;
};

} // namespace

std::string RtpReceiveSummary(OrvoRtpStats *stats)
{
    *stats = OrvoRtpStats{};
    stats->size = sizeof(*stats);
    if (Orvo_GetRtpStats(stats) != 0)
        return "";
    const uint32_t refused = stats->refused_argument + stats->refused_short + stats->refused_version +
                             stats->refused_padding + stats->refused_payload_type + stats->refused_length +
                             stats->refused_oversize + stats->refused_full;
    char text[120];
    std::snprintf(text, sizeof(text), "rtp queued %u refused %u lost %u late %u", stats->queued, refused,
                  stats->lost, stats->late);
    return text;
}

std::unique_ptr<Transport> MakeRtpTransport(const RtpOptions &options)
{
    return std::make_unique<RtpTransport>(options);
}

} // namespace orvo::talktool
