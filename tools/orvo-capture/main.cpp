// orvo-capture: runs the talk service's capture side like a host would (Orvo_InitialAudioTalk,
// Orvo_OpenTalk, polling Orvo_GetAudioTalkData), decodes every packet and writes the audio to a
// WAV file; optionally the packets themselves too. Prints a status line once a second.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "orvo_tool/args.h"
#include "orvo_tool/file_io.h"
#include "orvo_tool/wav_file.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"

namespace orvo::tool {
namespace {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,  // bad command line
    kExitDevice = 2, // the device name was refused, or no capture device opened
    kExitIo = 3,     // the output cannot be written
};

constexpr double kDefaultSeconds = 5.0;
constexpr double kMaxSeconds = 86400.0;
constexpr auto kPollInterval = std::chrono::milliseconds(5); // well inside the ring's 280 ms
constexpr uint8_t kTalkHeader[2] = {0x80, 0x06};
constexpr size_t kTalkHeaderBytes = sizeof kTalkHeader;

const char kUsage[] =
    "usage: orvo-capture [--device NAME] [--seconds S] [--packets FILE] OUT.wav\n"
    "\n"
    "Captures from a sound device through the talk service for S seconds (default 5), decodes\n"
    "every 166-byte talk packet (G.711 mu-law, 20 ms) and writes the audio to OUT.wav\n"
    "(8000 Hz, mono, 16-bit). The audio starts when talk is switched on: nothing captured\n"
    "before is sent.\n"
    "\n"
    "  --device NAME   default (the system's), an ALSA PCM name such as hw:1,0, or wav:PATH to\n"
    "                  read an 8000 Hz mono 16-bit WAV file in real time\n"
    "  --packets FILE  also write the packets, one after another, as they were handed out\n"
    "\n"
    "A status line per second: seconds, packets in that second, packets in all, packets that did\n"
    "not decode. A missing device is tried again every 2 s; if none opened during the whole run\n"
    "nothing is written and the status is 2.\n"
    "\n"
    "exit status: 0 success, 1 usage error, 2 device name refused or no capture device opened,\n"
    "3 output cannot be written\n";

int Usage(const std::string &message)
{
    std::fprintf(stderr, "orvo-capture: %s\n\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

int Run(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "help" || args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    ParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args, {{"device", true}, {"seconds", true}, {"packets", true}}, &parsed, &error))
        return Usage(error);
    if (parsed.positional.size() != 1)
        return Usage("one output WAV file is needed");
    double seconds = kDefaultSeconds;
    if (parsed.Has("seconds") &&
        !ParseNumberArg(parsed.Get("seconds"), "--seconds", 0.0, kMaxSeconds, &seconds, &error))
        return Usage(error);
    if (parsed.Has("device") &&
        Orvo_SelectAudioDevice(ORVO_AUDIO_CAPTURE, parsed.Get("device").c_str()) != 0) {
        std::fprintf(stderr, "orvo-capture: device name '%s' refused\n", parsed.Get("device").c_str());
        return kExitDevice;
    }

    Orvo_InitialAudioTalk();
    if (Orvo_OpenTalk() != 0) {
        std::fprintf(stderr, "orvo-capture: the talk service did not start\n");
        return kExitDevice;
    }
    const std::string deviceName = parsed.Has("device") ? parsed.Get("device") : "default";
    bool deviceOpened = Orvo_IsAudioDeviceOpen(ORVO_AUDIO_CAPTURE) == 1;
    if (!deviceOpened)
        std::fprintf(stderr, "orvo-capture: the capture device '%s' did not open; trying again every 2 s\n",
                     deviceName.c_str());
    VoiceCodecState decoder;
    HI_VOICE_DecReset(&decoder, VOICE_G711_U);
    std::vector<int16_t> audio;
    std::vector<uint8_t> packets;
    unsigned char packet[ORVO_TALK_OUT_PACKET_MAX];
    long total = 0, bad = 0, thisSecond = 0;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(seconds));
    auto nextStatus = start + std::chrono::seconds(1);
    int elapsed = 0;
    for (;;) {
        int32_t n;
        while ((n = Orvo_GetAudioTalkData(packet)) > 0) {
            ++total;
            ++thisSecond;
            if (parsed.Has("packets"))
                packets.insert(packets.end(), packet, packet + n);
            int16_t samples[HI_VOICE_MAX_SAMPLES];
            int16_t count = 0;
            if (static_cast<size_t>(n) <= kTalkHeaderBytes ||
                std::memcmp(packet, kTalkHeader, kTalkHeaderBytes) != 0 ||
                HI_VOICE_DecodeFrame(&decoder, packet + kTalkHeaderBytes, samples, &count) != 0) {
                ++bad;
                continue;
            }
            audio.insert(audio.end(), samples, samples + count);
        }
        auto now = Clock::now();
        if (now >= nextStatus) {
            ++elapsed;
            std::printf("%4d s  packets %3ld  total %6ld  bad %ld\n", elapsed, thisSecond, total, bad);
            std::fflush(stdout);
            thisSecond = 0;
            nextStatus += std::chrono::seconds(1);
        }
        deviceOpened = deviceOpened || Orvo_IsAudioDeviceOpen(ORVO_AUDIO_CAPTURE) == 1;
        if (now >= end)
            break;
        std::this_thread::sleep_for(kPollInterval);
    }
    Orvo_CloseTalk();
    if (!deviceOpened && total == 0) {
        std::fprintf(stderr, "orvo-capture: no capture device opened ('%s'); nothing written\n",
                     deviceName.c_str());
        return kExitDevice;
    }

    if (!WriteFileAtomically(parsed.positional[0], SerializeVoiceWav(audio), &error)) {
        std::fprintf(stderr, "orvo-capture: %s\n", error.c_str());
        return kExitIo;
    }
    if (parsed.Has("packets") && !WriteFileAtomically(parsed.Get("packets"), packets, &error)) {
        std::fprintf(stderr, "orvo-capture: %s\n", error.c_str());
        return kExitIo;
    }
    std::printf("%ld packets (%.3f s of audio) in %.1f s, %ld did not decode; wrote %s\n", total,
                static_cast<double>(audio.size()) / 8000.0, seconds, bad,
                parsed.positional[0].c_str());
    return kExitOk;
}

} // namespace
} // namespace orvo::tool

int main(int argc, char **argv)
{
    try {
        return orvo::tool::Run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "orvo-capture: failed: %s\n", e.what());
        return orvo::tool::kExitIo;
    }
}
