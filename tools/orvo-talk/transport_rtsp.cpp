// An RTSP client for the ONVIF audio back channel: DESCRIBE with the back-channel requirement,
// SETUP of the camera's audio (received) and of the back channel (sent), over UDP or interleaved
// in the RTSP connection, PLAY, keep-alive, TEARDOWN. RTP framing and SDP reading are the
// library's; the RTSP messages and the login are this file's and rtsp_message / digest_auth.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "digest_auth.h"
#include "orvoaudio/rtp.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "rtsp_message.h"
#include "transports.h"

namespace orvo::talktool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kRequireBackchannel[] = "www.onvif.org/ver20/backchannel";
constexpr char kUserAgent[] = "orvo-talk";
constexpr int kMaxMedia = 8;
constexpr int kStatusOk = 200;
constexpr int kStatusUnauthorized = 401;
constexpr int kStatusOptionNotSupported = 551;
constexpr int kStatusMethodNotAllowed = 405;
constexpr int kStatusNotImplemented = 501;
constexpr int kDefaultSessionTimeoutS = 60; // RFC 2326 section 12.37
constexpr int kMinKeepAliveMs = 500;
constexpr int kTeardownWaitMs = 2000;
constexpr int kWaitSliceMs = 10;
constexpr size_t kDatagramMax = 4096;
constexpr size_t kReceiveChunk = 8192;
constexpr size_t kMaxQueuedTcpBytes = 65536; // about 2 s of the largest codec: then packets drop
constexpr int kPortPairTries = 32;
constexpr uint8_t kAudioChannel = 0, kBackChannel = 2; // interleaved channels (RTP; RTCP is +1)

struct Track {
    bool present = false;
    std::string url;                  // SETUP / control URL
    OrvoSdpMedia media{};
    Socket rtp, rtcp;                 // UDP client ports
    RtspTransportInfo server;         // from the SETUP answer
    Endpoint serverRtp;               // where the back channel's packets go (UDP)
};

std::string FormatList(const OrvoSdpMedia &media)
{
    std::string names;
    for (int i = 0; i < media.payload_count && i < ORVO_SDP_MAX_FORMATS; ++i) {
        if (!names.empty())
            names += ", ";
        names += media.encoding[i][0] ? std::string(media.encoding[i]) : std::to_string(media.payload_types[i]);
        if (media.clock_rate[i] > 0 && media.clock_rate[i] != ORVO_RTP_CLOCK_RATE)
            names += "/" + std::to_string(media.clock_rate[i]);
    }
    return names.empty() ? "none" : names;
}

std::string FormatSeconds(int milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g", milliseconds / 1000.0);
    return text;
}

// URLs from the camera go back into request lines: no spaces or control characters.
bool IsSafeUrl(const std::string &url)
{
    if (url.empty())
        return false;
    for (char c : url)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            return false;
    return true;
}

// Whether an SDP media line is audio over RTP/AVP (the protocol may carry /TCP etc.).
bool IsRtpAudio(const OrvoSdpMedia &media)
{
    return std::string(media.media) == "audio" && std::string(media.protocol).compare(0, 7, "RTP/AVP") == 0;
}

class RtspTransport : public Transport {
public:
    explicit RtspTransport(const RtspOptions &options) : m_options(options)
    {
        std::random_device random;
        char text[17];
        std::snprintf(text, sizeof(text), "%08x%08x", random(), random());
        m_cnonce = text;
    }

    bool Open(std::string *error) override
    {
        if (!ParseRtspUrl(m_options.url, &m_url, error) || !StartSockets(error))
            return false;
        m_credentials = Credentials{m_url.user, m_url.password};
        m_requestUrl = m_url.RequestUrl();
        if (!ResolveEndpoint(m_url.host, m_url.port, &m_server, error) ||
            !m_control.ConnectTcp(m_server, m_options.timeoutMs, &g_stopRequested, error))
            return false;
        RtspMessage answer;
        if (!Request("DESCRIBE", m_requestUrl, "Accept: application/sdp\r\n", &answer, error))
            return false;
        if (answer.status == kStatusOptionNotSupported) {
            *error = "the camera does not support the ONVIF audio back channel (" + StatusText(answer) + ")";
            return false;
        }
        if (!ExpectOk("DESCRIBE", answer, error) || !ReadTracks(answer, error) || !ChooseCodecs(error))
            return false;
        if (m_audio.present && !SetUp(&m_audio, kAudioChannel, error))
            return false;
        return SetUp(&m_back, kBackChannel, error);
    }

    bool Begin(std::string *error) override
    {
        RtspMessage answer;
        if (!Request("PLAY", m_sessionUrl, "Range: npt=0.000-\r\n", &answer, error) || !ExpectOk("PLAY", answer, error))
            return false;
        m_playing = true;
        ScheduleKeepAlive();
        return true;
    }

    size_t Sockets(Socket **sockets, size_t max) override
    {
        Socket *all[] = {&m_control, &m_audio.rtp, &m_audio.rtcp, &m_back.rtcp};
        size_t n = std::min(max, sizeof(all) / sizeof(all[0]));
        std::copy(all, all + n, sockets);
        return n;
    }

    bool Receive(const bool *readable, std::string *error) override
    {
        // One chunk at a time, each taken apart before the next is read: the reader never holds
        // more than a chunk and one unfinished message.
        for (bool more = readable[0]; more;) {
            if (!ReadControl(error, &more) || !HandleControlItems(-1, nullptr, error))
                return false;
        }
        if (readable[1])
            ReceiveUdp(&m_audio.rtp, true);
        if (readable[2])
            ReceiveUdp(&m_audio.rtcp, false);
        if (readable[3])
            ReceiveUdp(&m_back.rtcp, false);
        return FlushTcp(error);
    }

    bool Send(const unsigned char *packet, int32_t length) override
    {
        int32_t n = Orvo_RtpFromTalkPacket(&m_sender, packet, length, m_rtp, sizeof(m_rtp));
        if (n <= 0)
            return false;
        if (!m_options.interleaved)
            return m_back.rtp.SendTo(m_back.serverRtp, m_rtp, static_cast<size_t>(n));
        if (m_tcpOut.size() + 4 + static_cast<size_t>(n) > kMaxQueuedTcpBytes) {
            ++m_tcpDrops;
            return false;
        }
        int channel = m_back.server.interleavedRtp >= 0 ? m_back.server.interleavedRtp : kBackChannel;
        m_tcpOut.push_back('$');
        m_tcpOut.push_back(static_cast<char>(channel));
        m_tcpOut.push_back(static_cast<char>(n >> 8));
        m_tcpOut.push_back(static_cast<char>(n & 0xff));
        m_tcpOut.append(reinterpret_cast<const char *>(m_rtp), static_cast<size_t>(n));
        return true; // FlushTcp moves it out; a broken connection is reported there
    }

    bool Tick(std::string *error) override
    {
        if (m_keepAliveFailed.size()) {
            *error = m_keepAliveFailed;
            return false;
        }
        if (!m_playing || Clock::now() < m_nextKeepAlive)
            return true;
        // Not waited for: the answer is taken in Receive, so audio keeps flowing meanwhile.
        m_keepAliveCSeq = m_cseq;
        if (!SendRequest(m_keepAliveMethod, m_keepAliveMethod == "OPTIONS" ? m_requestUrl : m_sessionUrl, "", error))
            return false;
        ScheduleKeepAlive();
        return true;
    }

    void Finish() override
    {
        if (!m_control.IsOpen() || m_sessionId.empty())
            return;
        std::string error;
        RtspMessage answer;
        FlushTcp(&error);
        int saved = m_options.timeoutMs;
        m_options.timeoutMs = std::min(saved, kTeardownWaitMs);
        // The stop flag may be set (Ctrl-C): the TEARDOWN still goes out and is waited for briefly.
        m_ignoreStop = true;
        Request("TEARDOWN", m_sessionUrl, "", &answer, &error);
        m_options.timeoutMs = saved;
        m_sessionId.clear();
        m_control.Close();
    }

    std::string Describe() const override
    {
        std::string text = "RTSP session " + m_sessionId + " with " + m_requestUrl + " over " +
                           (m_options.interleaved ? "tcp" : "udp") + ": ";
        if (m_audio.present)
            text += "receiving " + FormatList(m_audio.media) + ", ";
        return text + "sending " + Orvo_RtpNameOfVoiceType(m_sender.voice_type) + " (payload type " +
               std::to_string(m_sender.payload_type) + ") on the back channel";
    }

    uint32_t Received() const override { return m_received; }
    uint32_t RefusedSenders() const override { return m_refusedSenders; }

    std::string StatusDetail() const override
    {
        OrvoRtpStats s;
        const std::string summary = RtpReceiveSummary(&s);
        if (summary.empty())
            return "";
        return summary + ", back channel " + Orvo_RtpNameOfVoiceType(m_sender.voice_type) +
               (m_tcpDrops ? ", dropped " + std::to_string(m_tcpDrops) : "") + ", keep-alives " +
               std::to_string(m_keepAlives);
    }

private:
    static std::string StatusText(const RtspMessage &answer)
    {
        return std::to_string(answer.status) + (answer.reason.empty() ? "" : " " + answer.reason);
    }

    bool ExpectOk(const char *method, const RtspMessage &answer, std::string *error)
    {
        if (answer.status == kStatusOk)
            return true;
        *error = std::string("the camera refused ") + method + ": " + StatusText(answer);
        return false;
    }

    void ScheduleKeepAlive()
    {
        int timeoutS = m_sessionTimeoutS > 0 ? m_sessionTimeoutS : kDefaultSessionTimeoutS;
        int intervalMs = std::max(kMinKeepAliveMs, timeoutS * 1000 / 2);
        m_nextKeepAlive = Clock::now() + std::chrono::milliseconds(intervalMs);
    }

    bool Stopping() const { return g_stopRequested && !m_ignoreStop; }

    bool SendRequest(const std::string &method, const std::string &uri, const std::string &extra, std::string *error)
    {
        std::string request = method + " " + uri + " RTSP/1.0\r\nCSeq: " + std::to_string(m_cseq++) +
                              "\r\nUser-Agent: " + kUserAgent + "\r\nRequire: " + kRequireBackchannel + "\r\n";
        if (!m_sessionId.empty())
            request += "Session: " + m_sessionId + "\r\n";
        if (m_haveChallenge)
            request += "Authorization: " +
                       AuthorizationValue(m_challenge, m_credentials, method, uri, ++m_nonceCount, m_cnonce) + "\r\n";
        request += extra + "\r\n";
        if (method == "GET_PARAMETER" || method == "OPTIONS")
            ++m_keepAlives;
        // Requests go before any queued interleaved data would split them: the queue is flushed
        // first, then the request is queued whole.
        m_tcpOut += request;
        auto deadline = Clock::now() + std::chrono::milliseconds(m_options.timeoutMs);
        while (!m_tcpOut.empty()) {
            if (!FlushTcp(error))
                return false;
            if (m_tcpOut.empty())
                break;
            if (Clock::now() >= deadline || Stopping()) {
                *error = "the camera does not take the " + method + " request";
                return false;
            }
            Socket *none[] = {nullptr};
            bool readable[1];
            Socket::WaitReadable(none, 1, kWaitSliceMs, readable);
        }
        return true;
    }

    bool FlushTcp(std::string *error)
    {
        while (!m_tcpOut.empty()) {
            long n = m_control.Send(m_tcpOut.data(), m_tcpOut.size());
            if (n < 0) {
                *error = "the RTSP connection to " + m_server.Text() + " broke: " + Socket::LastErrorText();
                return false;
            }
            if (n == 0)
                return true;
            m_tcpOut.erase(0, static_cast<size_t>(n));
        }
        return true;
    }

    // Reads one chunk of the RTSP connection into the reader; `more` says whether a whole chunk
    // came (more may wait).
    bool ReadControl(std::string *error, bool *more)
    {
        char chunk[kReceiveChunk];
        *more = false;
        long n = m_control.Receive(chunk, sizeof(chunk));
        if (n == 0)
            return true;
        if (n < 0) {
            *error = "the camera closed the RTSP connection";
            return false;
        }
        if (!m_reader.Feed(chunk, static_cast<size_t>(n))) {
            RtspMessage ignored;
            InterleavedFrame frame;
            m_reader.Next(&ignored, &frame, error);
            *error = "bad answer from the camera: " + *error;
            return false;
        }
        *more = static_cast<size_t>(n) == sizeof(chunk);
        return true;
    }

    // Takes every complete item from the reader: frames to the playback, answers to keep-alives.
    // With `cseq` >= 0, stops at that request's answer and stores it in `answer` (true, and
    // `*found` set).
    bool HandleControlItems(long cseq, RtspMessage *answer, std::string *error, bool *found = nullptr)
    {
        for (;;) {
            RtspMessage message;
            InterleavedFrame frame;
            RtspStreamReader::Item item = m_reader.Next(&message, &frame, error);
            if (item == RtspStreamReader::Item::kNeedMore)
                return true;
            if (item == RtspStreamReader::Item::kError) {
                *error = "bad answer from the camera: " + *error;
                return false;
            }
            if (item == RtspStreamReader::Item::kFrame) {
                int audioChannel = m_audio.server.interleavedRtp >= 0 ? m_audio.server.interleavedRtp : kAudioChannel;
                if (m_audio.present && frame.channel == audioChannel) {
                    ++m_received;
                    Orvo_InputRtpData(frame.data.data(), static_cast<int32_t>(frame.data.size()));
                }
                continue;
            }
            if (!message.isResponse)
                continue; // a request from the server (ANNOUNCE, GET_PARAMETER): nothing to do
            if (cseq >= 0 && message.CSeq() == cseq) {
                *answer = std::move(message);
                *found = true;
                return true;
            }
            if (m_keepAliveCSeq >= 0 && message.CSeq() == m_keepAliveCSeq) {
                m_keepAliveCSeq = -1;
                if (message.status == kStatusMethodNotAllowed || message.status == kStatusNotImplemented) {
                    m_keepAliveMethod = "OPTIONS"; // GET_PARAMETER unknown to this camera
                } else if (message.status == kStatusUnauthorized && m_haveChallenge && !m_keepAliveRefused) {
                    // The nonce ran out: the next keep-alive answers the new challenge.
                    std::vector<AuthChallenge> challenges;
                    for (const std::string &value : message.AllHeaders("WWW-Authenticate"))
                        ParseAuthChallenges(value, &challenges);
                    if (const AuthChallenge *chosen = ChooseChallenge(challenges)) {
                        m_challenge = *chosen;
                        m_nonceCount = 0;
                    }
                    m_keepAliveRefused = true;
                    m_nextKeepAlive = Clock::now();
                } else if (message.status != kStatusOk) {
                    m_keepAliveFailed = "the camera ended the session: " + StatusText(message);
                } else {
                    m_keepAliveRefused = false;
                }
            }
        }
    }

    // One request and its answer, with one more try after a 401 when credentials are there.
    bool Request(const std::string &method, const std::string &uri, const std::string &extra, RtspMessage *answer,
                 std::string *error)
    {
        for (int attempt = 0;; ++attempt) {
            long cseq = m_cseq;
            if (!SendRequest(method, uri, extra, error) || !AwaitAnswer(method, cseq, answer, error))
                return false;
            if (answer->status != kStatusUnauthorized)
                return true;
            std::vector<AuthChallenge> challenges;
            for (const std::string &value : answer->AllHeaders("WWW-Authenticate"))
                ParseAuthChallenges(value, &challenges);
            const AuthChallenge *chosen = ChooseChallenge(challenges);
            if (!m_url.hasCredentials) {
                *error = "the camera asks for a login (" + StatusText(*answer) + "): give rtsp://USER:PASS@" +
                         m_url.host + "...";
                return false;
            }
            if (!chosen) {
                *error = "the camera asks for a login orvo-talk cannot give (no Basic or MD5 Digest challenge)";
                return false;
            }
            // A second 401 is a refused login, unless the server says only the nonce went stale.
            if (attempt >= 1 && !(chosen->stale && attempt == 1)) {
                *error = "the camera refused the login for user '" + m_url.user + "' (" + StatusText(*answer) + ")";
                return false;
            }
            m_challenge = *chosen;
            m_haveChallenge = true;
            m_nonceCount = 0;
        }
    }

    bool AwaitAnswer(const std::string &method, long cseq, RtspMessage *answer, std::string *error)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(m_options.timeoutMs);
        for (;;) {
            bool found = false;
            if (!HandleControlItems(cseq, answer, error, &found))
                return false;
            if (found)
                return true;
            if (Stopping()) {
                *error = "stopped while waiting for the answer to " + method;
                return false;
            }
            if (Clock::now() >= deadline) {
                *error = "no answer to " + method + " from " + m_server.Text() + " within " +
                         FormatSeconds(m_options.timeoutMs) + " s";
                return false;
            }
            Socket *control[] = {&m_control};
            bool readable[1];
            Socket::WaitReadable(control, 1, kWaitSliceMs, readable);
            bool more = false;
            if (readable[0] && !ReadControl(error, &more))
                return false;
        }
    }

    bool ReadTracks(const RtspMessage &answer, std::string *error)
    {
        const std::string *base = answer.Header("Content-Base");
        if (!base)
            base = answer.Header("Content-Location");
        std::string baseUrl = base ? *base : m_requestUrl;
        if (!IsSafeUrl(baseUrl)) {
            *error = "the camera's answer to DESCRIBE names an unusable base URL";
            return false;
        }
        m_sessionUrl = baseUrl;
        OrvoSdpMedia media[kMaxMedia];
        int32_t count = Orvo_SdpRead(answer.body.data(), static_cast<int32_t>(answer.body.size()), media, kMaxMedia);
        if (count <= 0) {
            *error = "the camera's DESCRIBE answer holds no session description";
            return false;
        }
        if (media[0].session_control[0])
            m_sessionUrl = ResolveControl(baseUrl, media[0].session_control);
        if (!IsSafeUrl(m_sessionUrl)) {
            *error = "the camera's session description names an unusable control URL";
            return false;
        }
        for (int32_t i = 0; i < count; ++i) {
            if (!IsRtpAudio(media[i]))
                continue;
            // The direction is the client's: the back channel is what the client sends.
            Track *track = media[i].direction == ORVO_SDP_SENDONLY ? &m_back : &m_audio;
            if (track->present || media[i].direction == ORVO_SDP_INACTIVE)
                continue;
            track->present = true;
            track->media = media[i];
            track->url = ResolveControl(baseUrl, media[i].control[0] ? media[i].control : "*");
            if (!IsSafeUrl(track->url)) {
                *error = "the camera's session description names an unusable control URL";
                return false;
            }
        }
        if (!m_back.present) {
            *error = "the camera offers no audio back channel (no sendonly audio track in its answer to "
                     "DESCRIBE with Require: " +
                     std::string(kRequireBackchannel) + ")";
            return false;
        }
        return true;
    }

    bool ChooseCodecs(std::string *error)
    {
        Orvo_SetRtpG726Packing(ORVO_AUDIO_CAPTURE, m_options.g726Packing);
        Orvo_SetRtpG726Packing(ORVO_AUDIO_PLAYBACK, m_options.g726Packing);
        const OrvoSdpMedia &back = m_back.media;
        for (int i = 0; i < back.payload_count && i < ORVO_SDP_MAX_FORMATS; ++i) {
            int16_t type = back.voice_type[i];
            if (type == 0 || back.payload_types[i] < 0)
                continue;
            if (Orvo_RtpSenderInit(&m_sender, type, back.payload_types[i], 0) != 0 ||
                Orvo_SetTalkCodec(ORVO_AUDIO_CAPTURE, type) != 0)
                continue;
            m_backPayload = i;
            break;
        }
        if (m_backPayload < 0) {
            *error = "no codec in common on the back channel: the camera takes " + FormatList(back) +
                     "; orvo-talk sends PCMU, PCMA, DVI4, G726-16..40 and AAL2-G726-16..40 at 8000 Hz";
            return false;
        }
        if (m_audio.present) {
            bool playable = false;
            for (int i = 0; i < m_audio.media.payload_count && i < ORVO_SDP_MAX_FORMATS; ++i) {
                int16_t type = m_audio.media.voice_type[i];
                int32_t pt = m_audio.media.payload_types[i];
                if (type == 0 || pt < 0)
                    continue;
                if (pt >= ORVO_RTP_PT_DYNAMIC_FIRST)
                    Orvo_SetRtpPayloadType(pt, type);
                playable = true;
            }
            if (!playable) {
                std::fprintf(stderr, "orvo-talk: the camera's audio (%s) cannot be played here; talking only\n",
                             FormatList(m_audio.media).c_str());
                m_audio.present = false;
            }
        }
        return true;
    }

    bool OpenPortPair(Track *track, std::string *error)
    {
        for (int attempt = 0; attempt < kPortPairTries; ++attempt) {
            if (!track->rtp.OpenUdp(m_server.IsIpv6(), 0, error))
                return false;
            uint16_t port = track->rtp.LocalPort();
            std::string ignored;
            if (port % 2 == 0 && port < 65535 && track->rtcp.OpenUdp(m_server.IsIpv6(), port + 1, &ignored))
                return true;
            track->rtp.Close();
        }
        *error = "no free pair of UDP ports for RTP and RTCP";
        return false;
    }

    bool SetUp(Track *track, uint8_t channel, std::string *error)
    {
        std::string transport;
        if (m_options.interleaved) {
            transport = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(channel) + "-" + std::to_string(channel + 1);
        } else {
            if (!OpenPortPair(track, error))
                return false;
            transport = "RTP/AVP;unicast;client_port=" + std::to_string(track->rtp.LocalPort()) + "-" +
                        std::to_string(track->rtcp.LocalPort());
        }
        RtspMessage answer;
        const char *what = track == &m_back ? "SETUP of the back channel" : "SETUP of the camera's audio";
        if (!Request("SETUP", track->url, "Transport: " + transport + "\r\n", &answer, error) ||
            !ExpectOk(what, answer, error))
            return false;
        const std::string *session = answer.Header("Session");
        if (m_sessionId.empty()) {
            if (!session || !ParseSessionHeader(*session, &m_sessionId, &m_sessionTimeoutS)) {
                *error = std::string("the camera's answer to ") + what + " has no usable Session header";
                return false;
            }
        }
        const std::string *reply = answer.Header("Transport");
        if (!reply || !ParseTransportHeader(*reply, &track->server) || track->server.tcp != m_options.interleaved) {
            *error = std::string("the camera's answer to ") + what + " has no usable Transport header" +
                     (reply ? " ('" + reply->substr(0, 120) + "')" : "");
            return false;
        }
        if (!m_options.interleaved) {
            if (track->server.serverRtpPort <= 0) {
                *error = std::string("the camera's answer to ") + what + " names no server_port";
                return false;
            }
            track->serverRtp = m_server;
            track->serverRtp.SetPort(static_cast<uint16_t>(track->server.serverRtpPort));
        }
        return true;
    }

    void ReceiveUdp(Socket *socket, bool audio)
    {
        if (!audio) { // RTCP reports: not used, only drained
            Endpoint from;
            while (socket->ReceiveFrom(m_datagram, sizeof(m_datagram), &from) >= 0) {
            }
            return;
        }
        auto accept = [this](const Endpoint &from) {
            bool fromCamera = SameHost(from, m_server) &&
                              (m_audio.server.serverRtpPort <= 0 || from.Port() == m_audio.server.serverRtpPort);
            return m_options.acceptAny || fromCamera;
        };
        DrainDatagrams(*socket, m_datagram, sizeof(m_datagram), &m_received, &m_refusedSenders, accept,
                       [this](long n) {
                           if (n <= static_cast<long>(sizeof(m_datagram)))
                               Orvo_InputRtpData(m_datagram, static_cast<int32_t>(n));
                       });
    }

    RtspOptions m_options;
    RtspUrl m_url;
    Credentials m_credentials;
    std::string m_requestUrl, m_sessionUrl;
    Endpoint m_server;
    Socket m_control;
    RtspStreamReader m_reader;
    std::string m_tcpOut;
    long m_cseq = 1;
    std::string m_sessionId;
    int m_sessionTimeoutS = -1;
    AuthChallenge m_challenge;
    bool m_haveChallenge = false;
    uint32_t m_nonceCount = 0;
    std::string m_cnonce;
    Track m_audio, m_back;
    int m_backPayload = -1;
    OrvoRtpSender m_sender{};
    bool m_playing = false, m_ignoreStop = false;
    Clock::time_point m_nextKeepAlive;
    std::string m_keepAliveMethod = "GET_PARAMETER";
    long m_keepAliveCSeq = -1;
    bool m_keepAliveRefused = false; // the last keep-alive got a 401 (one more try with the new nonce)
    std::string m_keepAliveFailed;
    unsigned char m_datagram[kDatagramMax];
    unsigned char m_rtp[ORVO_RTP_PACKET_MAX];
    uint32_t m_received = 0, m_refusedSenders = 0, m_tcpDrops = 0, m_keepAlives = 0;
};

} // namespace

std::unique_ptr<Transport> MakeRtspTransport(const RtspOptions &options)
{
    return std::make_unique<RtspTransport>(options);
}

} // namespace orvo::talktool
