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

// The library's RTP receive counters for the status line, with the refusals of every reason summed
// in `refused`. false when the library gives none.
bool ReadRtpReceiveStats(OrvoRtpStats *stats, uint32_t *refused);

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
