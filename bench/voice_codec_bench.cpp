// Our codec through its public functions, every type, encode and decode, plus the main program
// that prints the ratio table to the fastest peer measured in the same run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>

#include "orvoaudio/voice.h"
#include "voice_bench.h"

namespace orvo::bench {

const std::vector<int16_t> &SpeechSignal()
{
    static const std::vector<int16_t> signal = [] {
        std::mt19937 rng(kSignalSeed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::normal_distribution<double> noise(0.0, 1.0);
        const int n = kSignalSeconds * kSampleRate;
        std::vector<int16_t> s(n);
        constexpr double kTwoPi = 6.283185307179586;
        double pitch = 120, f1 = 500, f2 = 1500, phase0 = 0, phase1 = 0, phase2 = 0;
        int syllable_left = 0;
        double loudness = 0;
        for (int k = 0; k < n; ++k) {
            if (syllable_left-- <= 0) { // a new syllable, or a pause, every 80..250 ms
                syllable_left = 640 + static_cast<int>(unit(rng) * 1360);
                loudness = unit(rng) < 0.25 ? 0.0 : 2000 + 9000 * unit(rng);
                pitch = 90 + 140 * unit(rng);
                f1 = 300 + 600 * unit(rng);
                f2 = 900 + 1600 * unit(rng);
            }
            phase0 += kTwoPi * pitch / kSampleRate;
            phase1 += kTwoPi * f1 / kSampleRate;
            phase2 += kTwoPi * f2 / kSampleRate;
            const double voiced = std::sin(phase0) + 0.6 * std::sin(phase1) * (0.5 + 0.5 * std::sin(phase0)) +
                                  0.3 * std::sin(phase2) * (0.5 + 0.5 * std::sin(phase0));
            const double v = loudness * voiced + 60 * noise(rng);
            s[k] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
        }
        return s;
    }();
    return signal;
}

void SetSamplesProcessed(benchmark::State &state, int64_t samples)
{
    state.SetItemsProcessed(samples);
    // Elapsed seconds / (samples x 1e-9) is nanoseconds per sample.
    state.counters["ns/sample"] = benchmark::Counter(static_cast<double>(samples) * 1e-9,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

std::string BenchName(const std::string &impl, const std::string &codec, const std::string &dir, int block)
{
    return impl + "/" + codec + "/" + dir + "/" + std::to_string(block);
}

namespace {

struct OurType {
    int16_t type;
    const char *name;
    const char *peer_key; // which peers it is compared with
};

constexpr OurType kOurTypes[] = {
    {VOICE_G711_A, "g711a", "g711a"},         {VOICE_G711_U, "g711u", "g711u"},
    {VOICE_ADPCM_DVI4, "dvi4", "adpcm"},      {VOICE_ADPCM_IMA, "ima", "adpcm"},
    {VOICE_G726_16K, "g726-16", "g726-16"},   {VOICE_G726_24K, "g726-24", "g726-24"},
    {VOICE_G726_32K, "g726-32", "g726-32"},   {VOICE_G726_40K, "g726-40", "g726-40"},
    {VOICE_G726_16K_MSB, "g726-16-msb", "g726-16"}, {VOICE_G726_24K_MSB, "g726-24-msb", "g726-24"},
    {VOICE_G726_32K_MSB, "g726-32-msb", "g726-32"}, {VOICE_G726_40K_MSB, "g726-40-msb", "g726-40"},
};

constexpr int kFrameCapacity = 484;

void Encode(benchmark::State &state, int16_t type, int block)
{
    const std::vector<int16_t> &signal = SpeechSignal();
    const int frames = static_cast<int>(signal.size()) / block;
    VoiceCodecState codec;
    HI_VOICE_EncReset(&codec, type);
    alignas(64) uint8_t frame[kFrameCapacity];
    int index = 0;
    for (auto _ : state) {
        const int32_t rc = HI_VOICE_EncodeFrame(&codec, signal.data() + index * block, frame, static_cast<int16_t>(block));
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
        index = index + 1 == frames ? 0 : index + 1;
    }
    SetSamplesProcessed(state, state.iterations() * block);
}

void Decode(benchmark::State &state, int16_t type, int block)
{
    const std::vector<int16_t> &signal = SpeechSignal();
    const int frames = static_cast<int>(signal.size()) / block;
    std::vector<uint8_t> encoded(static_cast<std::size_t>(frames) * kFrameCapacity);
    VoiceCodecState codec;
    HI_VOICE_EncReset(&codec, type);
    for (int f = 0; f < frames; ++f)
        HI_VOICE_EncodeFrame(&codec, signal.data() + f * block, encoded.data() + f * kFrameCapacity,
                             static_cast<int16_t>(block));
    HI_VOICE_DecReset(&codec, type);
    alignas(64) int16_t out[HI_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    int64_t samples = 0;
    int index = 0;
    for (auto _ : state) {
        // MSB-first frames are re-ordered in place by decoding; the work per call is the same.
        const int32_t rc = HI_VOICE_DecodeFrame(&codec, encoded.data() + index * kFrameCapacity, out, &count);
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
        samples += count;
        index = index + 1 == frames ? 0 : index + 1;
    }
    SetSamplesProcessed(state, samples);
}

// Collects ns/sample per benchmark (median over repetitions) and prints the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            auto it = run.counters.find("ns/sample");
            if (it == run.counters.end())
                continue;
            // With repetitions shown as aggregates only, the median aggregate is what arrives.
            if (run.run_type == Run::RT_Iteration)
                results_[run.run_name.function_name].push_back(it->second.value);
            else if (run.aggregate_name == "median")
                medians_[run.run_name.function_name] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        PrintTable();
    }

private:
    static double Median(std::vector<double> v)
    {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
    }

    void PrintTable() const
    {
        std::map<std::string, double> median;
        for (const auto &[name, values] : results_)
            median[name] = Median(values);
        for (const auto &[name, value] : medians_)
            median[name] = value;
        std::printf("\nns per sample, median of repetitions; ratio = fastest peer / ours (higher is better)\n");
        std::printf("%-12s %-6s %5s %10s %10s %-22s %8s\n", "codec", "dir", "block", "ours", "peer", "fastest peer", "ratio");
        for (int block : kBlockSizes)
            for (const OurType &t : kOurTypes)
                for (const char *dir : {"encode", "decode"}) {
                    auto ours = median.find(BenchName("orvo", t.name, dir, block));
                    if (ours == median.end())
                        continue;
                    std::string best_name = "-";
                    double best = 0;
                    for (const auto &[name, value] : median) {
                        // name = impl/codec/dir/block
                        const std::string suffix = std::string("/") + t.peer_key + "/" + dir + "/" + std::to_string(block);
                        if (name.rfind("orvo/", 0) == 0 || name.size() < suffix.size() ||
                            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
                            continue;
                        if (best == 0 || value < best) {
                            best = value;
                            best_name = name.substr(0, name.size() - suffix.size());
                        }
                    }
                    if (best > 0)
                        std::printf("%-12s %-6s %5d %10.3f %10.3f %-22s %7.2fx\n", t.name, dir, block, ours->second, best,
                                    best_name.c_str(), best / ours->second);
                    else
                        std::printf("%-12s %-6s %5d %10.3f %10s %-22s %8s\n", t.name, dir, block, ours->second, "-", "-", "-");
                }
        std::fflush(stdout);
        PrintBatchTable(median);
    }

    std::map<std::string, std::vector<double>> results_;
    std::map<std::string, double> medians_;
};

void RegisterOurs()
{
    for (int block : kBlockSizes)
        for (const OurType &t : kOurTypes) {
            const int16_t type = t.type;
            benchmark::RegisterBenchmark(BenchName("orvo", t.name, "encode", block).c_str(),
                                         [type, block](benchmark::State &s) { Encode(s, type, block); });
            benchmark::RegisterBenchmark(BenchName("orvo", t.name, "decode", block).c_str(),
                                         [type, block](benchmark::State &s) { Decode(s, type, block); });
        }
}

} // namespace
} // namespace orvo::bench

int main(int argc, char **argv)
{
    orvo::bench::RegisterOurs();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    orvo::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
