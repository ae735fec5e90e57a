// I420 to UYVY per picture at four sizes: our conversion (run-time chosen kernel and the scalar
// reference), libyuv's I420ToUYVY when built with it, and memcpy of the output size. Fixed seed,
// warm buffers, medians over interleaved rounds; a ratio table at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "media/uyvy.h"
#include "media/uyvy_row.h"

#if defined(ORVO_HAVE_LIBYUV)
#include <libyuv/convert_from.h>
#endif

namespace {

using orvo::media::ConvertI420ToUyvy;

struct Size {
    const char *name;
    uint32_t width, height;
};
constexpr Size kSizes[] = {
    {"352x288", 352, 288}, {"1280x720", 1280, 720}, {"1920x1080", 1920, 1080}, {"3840x2160", 3840, 2160}};
constexpr int kRounds = 9;
constexpr uint32_t kSeed = 20260101;

// Planes and surfaces start on cache lines, as decoder output and display surfaces do; every
// contender works on the same buffers.
constexpr size_t kCacheLine = 64;

class Buffer {
public:
    explicit Buffer(size_t bytes)
        : size_(bytes),
          data_(static_cast<uint8_t *>(std::aligned_alloc(kCacheLine, (bytes + kCacheLine - 1) / kCacheLine * kCacheLine)))
    {
        if (data_ == nullptr) throw std::bad_alloc();
    }
    ~Buffer() { std::free(data_); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    uint8_t *data() { return data_; }
    size_t size() const { return size_; }
    void Randomise(std::mt19937 &random)
    {
        for (size_t i = 0; i < size_; ++i) data_[i] = static_cast<uint8_t>(random());
    }

private:
    size_t size_;
    uint8_t *data_;
};

struct Frame {
    uint32_t width, height;
    Buffer luma, u, v, out, copySource;
    explicit Frame(const Size &size)
        : width(size.width), height(size.height), luma(size_t{width} * height), u(luma.size() / 4),
          v(luma.size() / 4), out(luma.size() * 2), copySource(out.size())
    {
        std::mt19937 random(kSeed);
        for (Buffer *plane : {&luma, &u, &v, &copySource}) plane->Randomise(random);
    }
};

void SetCounters(benchmark::State &state, const Frame &frame)
{
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * frame.width * frame.height);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

void Orvo(benchmark::State &state, Size size, bool scalar)
{
    Frame frame(size);
    orvo::media::ForceScalarKernels(scalar);
    for (auto _ : state) {
        ConvertI420ToUyvy(frame.luma.data(), frame.width, frame.u.data(), frame.v.data(), frame.out.data(),
                          frame.width, frame.height, static_cast<int32_t>(frame.width * 2));
        benchmark::DoNotOptimize(frame.out.data());
        benchmark::ClobberMemory();
    }
    orvo::media::ForceScalarKernels(false);
    SetCounters(state, frame);
}

#if defined(ORVO_HAVE_LIBYUV)
void Libyuv(benchmark::State &state, Size size)
{
    Frame frame(size);
    const int w = static_cast<int>(frame.width);
    for (auto _ : state) {
        libyuv::I420ToUYVY(frame.luma.data(), w, frame.u.data(), w / 2, frame.v.data(), w / 2,
                           frame.out.data(), w * 2, w, static_cast<int>(frame.height));
        benchmark::DoNotOptimize(frame.out.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, frame);
}
#endif

void Memcpy(benchmark::State &state, Size size)
{
    Frame frame(size);
    for (auto _ : state) {
        std::memcpy(frame.out.data(), frame.copySource.data(), frame.out.size());
        benchmark::DoNotOptimize(frame.out.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, frame);
}

// Collects the CPU time per picture of every round of each benchmark; the table uses medians.
// The machine may be shared, so the contenders take turns round by round rather than one after
// the other, and CPU time rather than wall time is compared.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> secondsPerPicture;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                secondsPerPicture[run.run_name.function_name].push_back(
                    run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit));
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double MedianPerSecond(const std::string &name) const
    {
        const auto found = secondsPerPicture.find(name);
        if (found == secondsPerPicture.end() || found->second.empty()) {
            return 0.0;
        }
        std::vector<double> times = found->second;
        std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
        const double median = times[times.size() / 2];
        return median > 0 ? 1.0 / median : 0.0;
    }
};

constexpr double kRoundSeconds = 0.05;

void Register(const std::string &name, void (*fn)(benchmark::State &, Size), Size size)
{
    benchmark::RegisterBenchmark(name.c_str(), fn, size)->MinTime(kRoundSeconds)->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char **argv)
{
    for (int round = 0; round < kRounds; ++round) {
        for (const Size &size : kSizes) {
            const std::string suffix = std::string("/") + size.name;
            Register("orvo" + suffix, [](benchmark::State &s, Size z) { Orvo(s, z, false); }, size);
            if (round == 0) {
                Register("orvo_scalar" + suffix, [](benchmark::State &s, Size z) { Orvo(s, z, true); }, size);
            }
#if defined(ORVO_HAVE_LIBYUV)
            Register("libyuv" + suffix, Libyuv, size);
#endif
            Register("memcpy" + suffix, Memcpy, size);
        }
    }
    benchmark::Initialize(&argc, argv);
    std::printf("UYVY kernel chosen: %s\n", orvo::media::SimdLevelName(orvo::media::SelectedSimdLevel()));
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-10s %12s %12s %12s %12s %10s %10s\n", "size", "orvo fr/s", "scalar fr/s", "libyuv fr/s",
                "memcpy fr/s", "vs libyuv", "vs memcpy");
    for (const Size &size : kSizes) {
        auto perSecond = [&](const std::string &name) {
            return reporter.MedianPerSecond(name + "/" + size.name);
        };
        const double orvo = perSecond("orvo");
        const double libyuv = perSecond("libyuv");
        const double copy = perSecond("memcpy");
        std::printf("%-10s %12.0f %12.0f %12.0f %12.0f %9.2fx %9.2fx\n", size.name, orvo, perSecond("orvo_scalar"),
                    libyuv, copy, libyuv > 0 ? orvo / libyuv : 0.0, copy > 0 ? orvo / copy : 0.0);
    }
    benchmark::Shutdown();
    return 0;
}
