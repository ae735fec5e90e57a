// The audio records at work: the PCM format record, a frame buffer and the 480-sample encoder.
//   audio_records_example [g711u|g711a|g726-32|dvi4]
// Encodes 360 ms of a 440 Hz tone into frames of 480 samples and prints what the records hold.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "media/audio_records.h"

namespace {

struct NamedType {
    const char *name;
    int16_t type;
};

constexpr NamedType kTypes[] = {
    {"g711u", VOICE_G711_U}, {"g711a", VOICE_G711_A}, {"g726-32", VOICE_G726_32K}, {"dvi4", VOICE_ADPCM_DVI4}};
constexpr int kFrames = 6;
constexpr size_t kLargestFrameBytes = 484;
constexpr double kTwoPi = 6.283185307179586;

} // namespace

int main(int argc, char **argv)
{
    const char *wanted = argc > 1 ? argv[1] : "g711u";
    int16_t type = 0;
    for (const NamedType &t : kTypes)
        if (std::strcmp(t.name, wanted) == 0) type = t.type;
    if (type == 0) {
        std::fprintf(stderr, "unknown type '%s' (g711u, g711a, g726-32 or dvi4)\n", wanted);
        return 1;
    }

    orvo::media::CAudioFormat format;
    const auto *wave = format.GetWaveFormat();
    std::printf("format: tag %u, %u channel(s), %u Hz, %u bits, block align %u, %u bytes/s, frame %d\n",
                wave->wFormatTag, wave->nChannels, wave->nSamplesPerSec, wave->wBitsPerSample,
                wave->nBlockAlign, wave->nAvgBytesPerSec, format.GetFrameSize());

    const int frameSamples = orvo::media::CVoiceEncoder::kFrameSamples;
    std::vector<int16_t> pcm(static_cast<size_t>(frameSamples) * kFrames);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(8000.0 * std::sin(kTwoPi * 440.0 * static_cast<double>(i) / 8000.0));

    orvo::media::CVoiceEncoder encoder;
    if (int32_t rc = encoder.Reset(type); rc != 0) {
        std::fprintf(stderr, "reset: %s\n", HI_VOICE_StatusText(rc));
        return 1;
    }
    orvo::media::CFrameBuffer frame(kLargestFrameBytes, 0);
    if (frame.GetData() == nullptr) return 1;
    int32_t words = 0;
    for (int f = 0; f < kFrames; ++f) {
        frame.Clear();
        if (int32_t rc = encoder.Encode(pcm.data() + f * frameSamples, frame.GetData()); rc != 0) {
            std::fprintf(stderr, "encode: %s\n", HI_VOICE_StatusText(rc));
            return 1;
        }
        words = frame.GetFrameWords();
    }
    std::printf("%s: %d frames of %d samples, %d words each\n", wanted, kFrames, frameSamples, words);
    return 0;
}
