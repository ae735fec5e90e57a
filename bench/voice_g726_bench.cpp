// G.726 through the public functions by kind of input: silence, speech-like, full-scale noise and
// a clipping square wave. The coder's work per sample depends on the signal (the transition and
// out-of-range cases take other paths), so every rate and both bit orders are measured on each,
// at 160 samples per frame, in ns per sample. Part of the voice benchmark binary, which has main.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "orvoaudio/voice.h"

namespace {

constexpr int kBlock = 160;
constexpr int kBlocks = 200; // four seconds, cycled
constexpr uint32_t kSeed = 0x6726u;
constexpr int kFrameBytes = 484;

enum Kind { kSilence, kSpeech, kNoise, kSquare, kKinds };
const char *const kKindNames[kKinds] = {"silence", "speech", "noise", "square"};

const std::vector<int16_t> &Signal(int kind)
{
    static const std::vector<std::vector<int16_t>> signals = [] {
        std::vector<std::vector<int16_t>> all(kKinds, std::vector<int16_t>(kBlock * kBlocks));
        std::mt19937 rng(kSeed);
        std::uniform_int_distribution<int> full(-32768, 32767);
        std::normal_distribution<double> noise(0.0, 200.0);
        constexpr double kTwoPi = 6.283185307179586;
        for (size_t i = 0; i < all[0].size(); ++i) {
            const double t = static_cast<double>(i) / 8000.0;
            const double envelope = 0.5 + 0.5 * std::sin(kTwoPi * 3.0 * t);
            const double speech = envelope * (8000 * std::sin(kTwoPi * 170 * t) +
                                              3000 * std::sin(kTwoPi * 1300 * t)) +
                                  noise(rng);
            all[kSilence][i] = 0;
            all[kSpeech][i] = static_cast<int16_t>(std::lrint(std::fmax(-32768.0, std::fmin(32767.0, speech))));
            all[kNoise][i] = static_cast<int16_t>(full(rng));
            all[kSquare][i] = (i / 23) % 2 ? 32767 : -32768;
        }
        return all;
    }();
    return signals[static_cast<size_t>(kind)];
}

void Report(benchmark::State &state)
{
    const int64_t samples = static_cast<int64_t>(state.iterations()) * kBlock;
    state.SetItemsProcessed(samples);
    state.counters["ns/sample"] = benchmark::Counter(static_cast<double>(samples) * 1e-9,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void EncodeBench(benchmark::State &state, int16_t type, int kind)
{
    const std::vector<int16_t> &input = Signal(kind);
    VoiceCodecState codec;
    HI_VOICE_EncReset(&codec, type);
    alignas(8) uint8_t frame[kFrameBytes];
    int block = 0;
    for (auto _ : state) {
        HI_VOICE_EncodeFrame(&codec, input.data() + block * kBlock, frame, kBlock);
        benchmark::DoNotOptimize(frame);
        block = block + 1 == kBlocks ? 0 : block + 1;
    }
    Report(state);
}

void DecodeBench(benchmark::State &state, int16_t type, int kind)
{
    // Frames encoded once from the signal; each is copied before decoding because the MSB-first
    // types re-order the caller's frame in place.
    const std::vector<int16_t> &input = Signal(kind);
    VoiceCodecState codec;
    HI_VOICE_EncReset(&codec, type);
    std::vector<uint8_t> frames(static_cast<size_t>(kBlocks) * kFrameBytes);
    for (int b = 0; b < kBlocks; ++b)
        HI_VOICE_EncodeFrame(&codec, input.data() + b * kBlock, frames.data() + b * kFrameBytes, kBlock);
    HI_VOICE_DecReset(&codec, type);
    const size_t frameBytes = 4 + 2 * static_cast<size_t>(frames[2]);
    alignas(8) uint8_t frame[kFrameBytes];
    int16_t out[HI_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    int block = 0;
    for (auto _ : state) {
        std::memcpy(frame, frames.data() + block * kFrameBytes, frameBytes);
        HI_VOICE_DecodeFrame(&codec, frame, out, &count);
        benchmark::DoNotOptimize(out);
        block = block + 1 == kBlocks ? 0 : block + 1;
    }
    Report(state);
}

const bool kRegistered = [] {
    const int16_t types[] = {VOICE_G726_16K,     VOICE_G726_24K,     VOICE_G726_32K,     VOICE_G726_40K,
                             VOICE_G726_16K_MSB, VOICE_G726_24K_MSB, VOICE_G726_32K_MSB, VOICE_G726_40K_MSB};
    for (int kind = 0; kind < kKinds; ++kind) {
        for (int16_t type : types) {
            const std::string name = "ours-g726-by-signal/" + std::string(kKindNames[kind]) + "/type" +
                                     std::to_string(type);
            benchmark::RegisterBenchmark((name + "/encode/160").c_str(), EncodeBench, type, kind);
            benchmark::RegisterBenchmark((name + "/decode/160").c_str(), DecodeBench, type, kind);
        }
    }
    return true;
}();

} // namespace
