// G.726 block coder speed: encode (PackCodes) and decode (UnpackCodes) of 160-sample blocks at
// every rate, LSB-first and MSB-first (with the in-place re-ordering), in ns per sample.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "voice/g726.h"

namespace {

constexpr int kBlock = 160;
constexpr int kBlocks = 500; // a few seconds of signal, cycled, so branches see real data

std::vector<int16_t> SpeechLike()
{
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<int16_t> out(static_cast<size_t>(kBlock) * kBlocks);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        const double env = 0.5 + 0.5 * std::sin(2 * 3.14159265 * 3 * t);
        const double v = env * (9000 * std::sin(2 * 3.14159265 * 180 * t) +
                                4000 * std::sin(2 * 3.14159265 * 1100 * t)) +
                         noise(rng);
        out[i] = static_cast<int16_t>(std::lrint(std::fmax(-32768.0, std::fmin(32767.0, v))));
    }
    return out;
}

void SetRate(benchmark::State &state)
{
    // Seconds per sample (printed with an SI prefix, "n" for nanoseconds).
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlock,
                                                      benchmark::Counter::kIsRate |
                                                          benchmark::Counter::kInvert);
}

void BM_G726Encode(benchmark::State &state)
{
    const int bits = static_cast<int>(state.range(0));
    const bool msb = state.range(1) != 0;
    static const std::vector<int16_t> input = SpeechLike();
    G726State coder;
    orvo::voice::G726_Reset(&coder, bits);
    uint8_t payload[512] = {};
    int block = 0;
    for (auto _ : state) {
        orvo::voice::G726_PackCodes(&coder, input.data() + block * kBlock, payload, kBlock);
        if (msb)
            orvo::voice::G726_LsbToMsb(payload, bits, static_cast<int16_t>(kBlock * bits / 8));
        benchmark::DoNotOptimize(payload);
        block = block + 1 == kBlocks ? 0 : block + 1;
    }
    SetRate(state);
}

void BM_G726Decode(benchmark::State &state)
{
    const int bits = static_cast<int>(state.range(0));
    const bool msb = state.range(1) != 0;
    static const std::vector<int16_t> input = SpeechLike();
    // Encode the signal once to get real payloads.
    std::vector<uint8_t> payloads(static_cast<size_t>(kBlocks) * kBlock * bits / 8);
    G726State coder;
    orvo::voice::G726_Reset(&coder, bits);
    const int bytes = kBlock * bits / 8;
    for (int b = 0; b < kBlocks; ++b)
        orvo::voice::G726_PackCodes(&coder, input.data() + b * kBlock, payloads.data() + b * bytes, kBlock);
    orvo::voice::G726_Reset(&coder, bits);
    int16_t out[kBlock];
    int block = 0;
    for (auto _ : state) {
        uint8_t *p = payloads.data() + block * bytes;
        if (msb)
            orvo::voice::G726_MsbToLsb(p, bits, static_cast<int16_t>(bytes));
        orvo::voice::G726_UnpackCodes(&coder, p, out, static_cast<int16_t>(bytes));
        benchmark::DoNotOptimize(out);
        block = block + 1 == kBlocks ? 0 : block + 1;
    }
    SetRate(state);
}

void Rates(benchmark::internal::Benchmark *b)
{
    for (int msb : {0, 1})
        for (int bits : {2, 3, 4, 5})
            b->Args({bits, msb});
    b->ArgNames({"bits", "msb"});
}

BENCHMARK(BM_G726Encode)->Apply(Rates);
BENCHMARK(BM_G726Decode)->Apply(Rates);

} // namespace

BENCHMARK_MAIN();
