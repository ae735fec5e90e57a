// orvo-talk: a two-way voice link over UDP with the talk service of the library, and a check of
// how closely a received recording matches the sent one.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "compare.h"
#include "orvo_tool/args.h"
#include "orvo_tool/file_io.h"
#include "orvo_tool/wav_file.h"
#include "talk_link.h"

namespace {

using orvo::tool::OptionSpec;
using orvo::tool::ParsedArgs;

constexpr int kExitUsage = 2;
constexpr int kExitMismatch = 3;
constexpr long kMaxPort = 65535;
constexpr double kMaxSeconds = 1e7;
constexpr double kMillisecondsPerFrame = 20.0;

const char kUsage[] =
    "usage:\n"
    "  orvo-talk [--peer HOST:PORT] [--listen PORT] [--capture NAME] [--playback NAME]\n"
    "            [--seconds N] [--trace FILE] [--quiet]\n"
    "      Talks with a peer: every packet of the capture side goes to HOST:PORT as one UDP\n"
    "      datagram; every datagram received on PORT is played. Device names as for\n"
    "      Orvo_SelectAudioDevice: default, wav:PATH (capture reads, playback writes an 8000 Hz\n"
    "      mono 16-bit WAV) or an ALSA PCM name. A status line every second; ends after N\n"
    "      seconds or on Ctrl-C. --trace writes 'sent N MICROS' and 'played N MICROS' lines\n"
    "      (CLOCK_MONOTONIC) for latency measurements.\n"
    "  orvo-talk compare SENT.wav RECEIVED.wav [--min-correlation C]\n"
    "      How closely RECEIVED matches SENT after the mu-law round trip, with repeated frames\n"
    "      merged and the best frame alignment; exit status 3 below C.\n";

void OnSignal(int) { orvo::talktool::g_stopRequested = 1; }

bool ParsePeer(const std::string &text, std::string *host, uint16_t *port, std::string *error)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        *error = "--peer must be HOST:PORT, not '" + text + "'";
        return false;
    }
    *host = text.substr(0, colon);
    if (host->size() > 2 && host->front() == '[' && host->back() == ']')
        *host = host->substr(1, host->size() - 2); // [::1]:5000
    long value = 0;
    if (!orvo::tool::ParseIntArg(text.substr(colon + 1), "the port of --peer", 1, kMaxPort, &value, error))
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
    if (args.positional.size() != 3) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    double minimum = -1;
    std::string error;
    if (args.Has("min-correlation") &&
        !orvo::tool::ParseNumberArg(args.Get("min-correlation"), "--min-correlation", -1, 1, &minimum,
                                    &error)) {
        std::fprintf(stderr, "orvo-talk: %s\n", error.c_str());
        return kExitUsage;
    }
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

int Talk(const ParsedArgs &args)
{
    if (!args.positional.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    orvo::talktool::LinkOptions options;
    std::string error;
    if (args.Has("peer") && !ParsePeer(args.Get("peer"), &options.peerHost, &options.peerPort, &error)) {
        std::fprintf(stderr, "orvo-talk: %s\n", error.c_str());
        return kExitUsage;
    }
    long port = 0;
    if (args.Has("listen") &&
        !orvo::tool::ParseIntArg(args.Get("listen"), "--listen", 0, kMaxPort, &port, &error)) {
        std::fprintf(stderr, "orvo-talk: %s\n", error.c_str());
        return kExitUsage;
    }
    options.listenPort = static_cast<uint16_t>(port);
    if (args.Has("seconds") &&
        !orvo::tool::ParseNumberArg(args.Get("seconds"), "--seconds", 0, kMaxSeconds, &options.seconds,
                                    &error)) {
        std::fprintf(stderr, "orvo-talk: %s\n", error.c_str());
        return kExitUsage;
    }
    options.capture = args.Get("capture");
    options.playback = args.Get("playback");
    options.tracePath = args.Get("trace");
    options.quiet = args.Has("quiet");

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr); // no SA_RESTART: poll returns at once
    sigaction(SIGTERM, &action, nullptr);
    return orvo::talktool::RunLink(options);
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> argList(argv + 1, argv + argc);
    const std::vector<OptionSpec> specs = {
        {"peer", true},  {"listen", true}, {"capture", true}, {"playback", true},       {"seconds", true},
        {"trace", true}, {"quiet", false}, {"help", false},   {"min-correlation", true},
    };
    ParsedArgs args;
    std::string error;
    if (!orvo::tool::ParseArgs(argList, specs, &args, &error)) {
        std::fprintf(stderr, "orvo-talk: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (args.Has("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!args.positional.empty() && args.positional[0] == "compare")
        return Compare(args);
    return Talk(args);
}
