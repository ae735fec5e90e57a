// orvo-talk: a two-way voice link with the talk service of the library, over UDP talk packets,
// plain RTP or an RTSP session with an audio back channel, and a check of how closely a received
// recording matches the sent one.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "compare.h"
#include "orvo_tool/args.h"
#include "orvo_tool/file_io.h"
#include "orvo_tool/wav_file.h"
#include "orvoaudio/rtp.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "transports.h"

namespace {

using orvo::tool::OptionSpec;
using orvo::tool::ParsedArgs;

constexpr int kExitUsage = 2;
constexpr int kExitMismatch = 3;
constexpr long kMaxPort = 65535;
constexpr long kMaxPayloadType = 127;
constexpr double kMaxSeconds = 1e7;
constexpr double kMaxTimeoutSeconds = 600;
constexpr double kMillisecondsPerFrame = 20.0;

const char kUsage[] =
    "usage:\n"
    "  orvo-talk --listen PORT --peer HOST:PORT [COMMON]\n"
    "      Talk packets over UDP: every packet of the capture side goes to HOST:PORT as one\n"
    "      datagram; every datagram from HOST:PORT arriving on PORT is played.\n"
    "  orvo-talk --rtp --listen PORT --peer HOST:PORT [--codec CODEC] [--pt N] [--sdp FILE] [COMMON]\n"
    "      Plain RTP both ways. CODEC: pcmu (default), pcma, dvi4, g726-16, g726-24, g726-32,\n"
    "      g726-40, aal2-g726-16 .. aal2-g726-40; N: the payload type sent (default 0 pcmu, 8 pcma,\n"
    "      5 dvi4, 96.. for G.726). Received packets of any of these codecs are played (PCMU,\n"
    "      PCMA, DVI4 by their static types, a dynamic type as CODEC). --sdp writes the session\n"
    "      description of what is sent before the first packet (for ffmpeg or GStreamer).\n"
    "  orvo-talk --rtsp rtsp://[USER:PASS@]HOST[:PORT]/PATH [--rtsp-transport udp|tcp]\n"
    "            [--g726-packing rfc3551|aal2] [--timeout S] [COMMON]\n"
    "      An ONVIF audio back-channel client: plays the camera's audio and sends the captured\n"
    "      audio on the back channel in the codec the camera asks for; Basic or Digest login;\n"
    "      RTP over UDP (default) or inside the RTSP connection (tcp). --g726-packing treats\n"
    "      G.726 both ways as packed LSB-first (rfc3551) or MSB-first (aal2), whatever the\n"
    "      camera announces. --timeout: longest wait for an answer (default 5 s).\n"
    "  COMMON: [--capture NAME] [--playback NAME] [--seconds N] [--trace FILE] [--quiet]\n"
    "          [--accept-any] [--playout stretch|adaptive]\n"
    "      Device names as for Orvo_SelectAudioDevice: default, wav:PATH (capture reads,\n"
    "      playback writes an 8000 Hz mono 16-bit WAV) or an ALSA PCM name. A status line every\n"
    "      second; ends after N seconds or on Ctrl-C. --trace writes 'sent N MICROS' and\n"
    "      'played N MICROS' lines (monotonic clock) for latency measurements, and\n"
    "      'capture-start MICROS' / 'playback-start MICROS' when sample 0 of the capture device\n"
    "      was captured and sample 0 of the playback device played, and 'rendered N MICROS'\n"
    "      (N samples played by then). Datagrams from other\n"
    "      senders than the peer are counted and dropped unless --accept-any is given.\n"
    "      --playout adaptive: jitter buffer, loss concealment and a short device queue instead\n"
    "      of the stretch rule (default stretch).\n"
    "  orvo-talk compare SENT.wav RECEIVED.wav [--min-correlation C]\n"
    "      How closely RECEIVED matches SENT after the mu-law round trip, with repeated frames\n"
    "      merged and the best frame alignment; exit status 3 below C.\n"
    "  orvo-talk help | -h | --help\n"
    "Exit status: 0 done, 1 the link could not start or broke, 2 bad arguments, 3 mismatch.\n";

void OnSignal(int) { orvo::talktool::g_stopRequested = 1; }

int UsageError(const std::string &error)
{
    std::fprintf(stderr, "orvo-talk: %s\n(orvo-talk --help for the usage)\n", error.c_str());
    return kExitUsage;
}

bool ParsePeer(const std::string &text, std::string *host, uint16_t *port, std::string *error)
{
    std::string portText;
    if (!orvo::talktool::SplitHostPort(text, host, &portText) || host->empty()) {
        *error = "--peer must be HOST:PORT, not '" + text + "'";
        return false;
    }
    long value = 0;
    if (!orvo::tool::ParseIntArg(portText, "the port of --peer", 1, kMaxPort, &value, error))
        return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

bool LoadWav(const std::string &path, std::vector<int16_t> *samples)
{
    std::vector<uint8_t> data;
    std::string error;
    if (!orvo::tool::ReadWholeFile(path, &data, &error) ||
        !orvo::tool::ParseVoiceWav(data.data(), data.size(), samples, &error)) {
        std::fprintf(stderr, "orvo-talk: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

int Compare(const ParsedArgs &args)
{
    if (args.positional.size() != 3)
        return UsageError("compare needs SENT.wav and RECEIVED.wav");
    double minimum = -1;
    std::string error;
    if (args.Has("min-correlation") &&
        !orvo::tool::ParseNumberArg(args.Get("min-correlation"), "--min-correlation", -1, 1, &minimum, &error))
        return UsageError(error);
    std::vector<int16_t> sent, received;
    if (!LoadWav(args.positional[1], &sent) || !LoadWav(args.positional[2], &received))
        return 1;
    orvo::talktool::MatchResult m = orvo::talktool::MatchReceived(sent, received);
    std::printf("sent: %zu frames after merging repeats (%zu with sound); received: %zu frames, "
                "%zu repeats merged\n",
                m.sentFrames, m.soundFrames, m.receivedFrames, m.mergedRepeats);
    std::printf("best alignment: received frame %ld = sent frame 0 (%.0f ms)\n", m.lagFrames,
                m.lagFrames * kMillisecondsPerFrame);
    std::printf("normalised cross-correlation: %.4f; frames with sound received bit-exact: %zu of "
                "%zu\n",
                m.correlation, m.exactFrames, m.soundFrames);
    if (m.correlation < minimum) {
        std::fprintf(stderr, "orvo-talk: correlation %.4f is below %.4f\n", m.correlation, minimum);
        return kExitMismatch;
    }
    return 0;
}

// Options that belong to one mode only are refused in the others, so a mistyped command does not
// silently run a different link.
bool RefuseOthers(const ParsedArgs &args, const std::vector<std::string> &names, const char *mode,
                  std::string *error)
{
    for (const std::string &name : names) {
        if (args.Has(name)) {
            *error = "--" + name + " does not apply to " + mode;
            return false;
        }
    }
    return true;
}

bool ParsePeerOptions(const ParsedArgs &args, orvo::talktool::PeerOptions *peer, std::string *error)
{
    if (args.Has("peer") && !ParsePeer(args.Get("peer"), &peer->host, &peer->port, error))
        return false;
    long port = 0;
    if (args.Has("listen") && !orvo::tool::ParseIntArg(args.Get("listen"), "--listen", 0, kMaxPort, &port, error))
        return false;
    peer->listenPort = static_cast<uint16_t>(port);
    peer->acceptAny = args.Has("accept-any");
    return true;
}

bool ParseRtpOptions(const ParsedArgs &args, orvo::talktool::RtpOptions *rtp, std::string *error)
{
    if (!ParsePeerOptions(args, &rtp->peer, error))
        return false;
    std::string codec = args.Get("codec", "pcmu");
    rtp->voiceType = Orvo_RtpVoiceTypeFromName(codec.c_str());
    if (rtp->voiceType == 0) {
        *error = "--codec must be pcmu, pcma, dvi4, g726-16..40 or aal2-g726-16..40, not '" + codec + "'";
        return false;
    }
    long pt = Orvo_RtpDefaultPayloadType(rtp->voiceType);
    if (args.Has("pt") && !orvo::tool::ParseIntArg(args.Get("pt"), "--pt", 0, kMaxPayloadType, &pt, error))
        return false;
    rtp->payloadType = static_cast<int32_t>(pt);
    rtp->sdpPath = args.Get("sdp");
    return true;
}

bool ParseRtspOptions(const ParsedArgs &args, orvo::talktool::RtspOptions *rtsp, std::string *error)
{
    rtsp->url = args.Get("rtsp");
    rtsp->acceptAny = args.Has("accept-any");
    std::string transport = args.Get("rtsp-transport", "udp");
    if (transport != "udp" && transport != "tcp") {
        *error = "--rtsp-transport must be udp or tcp, not '" + transport + "'";
        return false;
    }
    rtsp->interleaved = transport == "tcp";
    std::string packing = args.Get("g726-packing");
    if (packing.empty())
        rtsp->g726Packing = ORVO_RTP_G726_AS_ANNOUNCED;
    else if (packing == "rfc3551")
        rtsp->g726Packing = ORVO_RTP_G726_FORCE_LSB;
    else if (packing == "aal2")
        rtsp->g726Packing = ORVO_RTP_G726_FORCE_MSB;
    else {
        *error = "--g726-packing must be rfc3551 or aal2, not '" + packing + "'";
        return false;
    }
    double timeout = 5;
    if (args.Has("timeout") &&
        !orvo::tool::ParseNumberArg(args.Get("timeout"), "--timeout", 0.1, kMaxTimeoutSeconds, &timeout, error))
        return false;
    rtsp->timeoutMs = static_cast<int>(timeout * 1000);
    return true;
}

int Talk(const ParsedArgs &args)
{
    if (!args.positional.empty())
        return UsageError("unexpected '" + args.positional[0] + "'");
    orvo::talktool::LinkOptions options;
    std::string error;
    if (args.Has("seconds") &&
        !orvo::tool::ParseNumberArg(args.Get("seconds"), "--seconds", 0, kMaxSeconds, &options.seconds, &error))
        return UsageError(error);
    options.capture = args.Get("capture");
    options.playback = args.Get("playback");
    options.tracePath = args.Get("trace");
    options.quiet = args.Has("quiet");
    if (args.Has("playout")) {
        const std::string playout = args.Get("playout");
        if (playout != "stretch" && playout != "adaptive")
            return UsageError("--playout must be stretch or adaptive, not '" + playout + "'");
        options.playout = playout == "adaptive" ? ORVO_PLAYOUT_ADAPTIVE : ORVO_PLAYOUT_STRETCH;
    }

    const std::vector<std::string> rtpOnly = {"codec", "pt", "sdp"};
    const std::vector<std::string> rtspOnly = {"rtsp-transport", "g726-packing", "timeout"};
    const std::vector<std::string> udpOnly = {"peer", "listen"};
    std::unique_ptr<orvo::talktool::Transport> transport;
    if (args.Has("rtsp") && args.Has("rtp"))
        return UsageError("--rtp and --rtsp exclude each other");
    if (args.Has("rtsp")) {
        orvo::talktool::RtspOptions rtsp;
        if (!RefuseOthers(args, rtpOnly, "--rtsp", &error) || !RefuseOthers(args, udpOnly, "--rtsp", &error) ||
            !ParseRtspOptions(args, &rtsp, &error))
            return UsageError(error);
        transport = orvo::talktool::MakeRtspTransport(rtsp);
    } else if (args.Has("rtp")) {
        orvo::talktool::RtpOptions rtp;
        if (!RefuseOthers(args, rtspOnly, "--rtp", &error) || !ParseRtpOptions(args, &rtp, &error))
            return UsageError(error);
        transport = orvo::talktool::MakeRtpTransport(rtp);
    } else {
        orvo::talktool::PeerOptions peer;
        if (!RefuseOthers(args, rtpOnly, "talk packets (add --rtp)", &error) ||
            !RefuseOthers(args, rtspOnly, "talk packets (add --rtsp URL)", &error) ||
            !ParsePeerOptions(args, &peer, &error))
            return UsageError(error);
        transport = orvo::talktool::MakeTalkTransport(peer);
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    return orvo::talktool::RunLink(options, transport.get());
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> argList(argv + 1, argv + argc);
    if (argList.empty() || argList[0] == "-h" || argList[0] == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::vector<OptionSpec> specs = {
        {"peer", true},   {"listen", true},   {"capture", true},   {"playback", true},
        {"seconds", true}, {"trace", true},   {"quiet", false},    {"help", false},
        {"min-correlation", true},            {"rtp", false},      {"rtsp", true},
        {"codec", true},  {"pt", true},       {"sdp", true},       {"rtsp-transport", true},
        {"g726-packing", true},               {"timeout", true},   {"accept-any", false},
        {"playout", true},
    };
    ParsedArgs args;
    std::string error;
    if (!orvo::tool::ParseArgs(argList, specs, &args, &error))
        return UsageError(error);
    if (args.Has("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!args.positional.empty() && args.positional[0] == "compare")
        return Compare(args);
    return Talk(args);
}
