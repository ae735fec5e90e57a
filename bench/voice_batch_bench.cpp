// The batched codec calls against the single-channel calls on the same channels: one frame of 160
// samples per channel and call, at 8, 64 and 1024 channels, in ns per channel-sample. Every
// channel has its own state, input, frames and output, so the working set grows with the channel
// count as it does on a server. The table at the end of a run (PrintBatchTable) sets them beside
// the peers measured in the same run.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "orvoaudio/voice.h"
#include "voice_bench.h"

namespace orvo::bench {
namespace {

constexpr int kBlock = 160;
constexpr int kChannelCounts[] = {8, 64, 1024};
constexpr int kFramesPerChannel = 4; // each channel cycles through frames of its own
constexpr int kFrameCapacity = 484;
constexpr int kChannelStride = 977; // samples between the starts of neighbouring channels

struct BatchType {
    int16_t type;
    const char *name;
    const char *peer_key;
};

constexpr BatchType kBatchTypes[] = {
    {VOICE_ADPCM_DVI4, "dvi4", "adpcm"},     {VOICE_ADPCM_IMA, "ima", "adpcm"},
    {VOICE_G726_16K, "g726-16", "g726-16"},  {VOICE_G726_24K, "g726-24", "g726-24"},
    {VOICE_G726_32K, "g726-32", "g726-32"},  {VOICE_G726_40K, "g726-40", "g726-40"},
    {VOICE_G726_32K_MSB, "g726-32-msb", "g726-32"},
};

// The channels of one benchmark, with all their buffers.
struct Channels {
    std::vector<VoiceCodecState> states;
    std::vector<VoiceCodecState *> state_ptrs;
    std::vector<const int16_t *> inputs;
    std::vector<std::vector<uint8_t>> frames; // kFramesPerChannel frames per channel
    std::vector<void *> frame_ptrs;
    std::vector<std::vector<int16_t>> outputs;
    std::vector<int16_t *> output_ptrs;
    std::vector<int16_t> counts;
    std::vector<int32_t> results;
    int cycle = 0;

    Channels(int16_t type, int channels, bool decoder)
        : states(channels), state_ptrs(channels), inputs(channels), frames(channels), frame_ptrs(channels),
          outputs(channels, std::vector<int16_t>(HI_VOICE_MAX_SAMPLES)), output_ptrs(channels), counts(channels),
          results(channels)
    {
        const std::vector<int16_t> &signal = SpeechSignal();
        const int blocks = static_cast<int>(signal.size()) / kBlock;
        for (int c = 0; c < channels; ++c) {
            HI_VOICE_EncReset(&states[c], type);
            frames[c].assign(static_cast<std::size_t>(kFramesPerChannel) * kFrameCapacity, 0);
            const int start = (c * kChannelStride) % (blocks - kFramesPerChannel) * kBlock;
            for (int f = 0; f < kFramesPerChannel; ++f)
                HI_VOICE_EncodeFrame(&states[c], signal.data() + start + f * kBlock,
                                     frames[c].data() + f * kFrameCapacity, kBlock);
            if (decoder)
                HI_VOICE_DecReset(&states[c], type);
            else
                HI_VOICE_EncReset(&states[c], type);
            state_ptrs[c] = &states[c];
            output_ptrs[c] = outputs[c].data();
        }
        Advance();
    }

    // Points every channel at its next input block and frame.
    void Advance()
    {
        const std::vector<int16_t> &signal = SpeechSignal();
        const int blocks = static_cast<int>(signal.size()) / kBlock;
        for (std::size_t c = 0; c < states.size(); ++c) {
            const int block = static_cast<int>((c * kChannelStride / kBlock + cycle) % blocks);
            inputs[c] = signal.data() + block * kBlock;
            frame_ptrs[c] = frames[c].data() + (cycle % kFramesPerChannel) * kFrameCapacity;
        }
        ++cycle;
    }

    int size() const { return static_cast<int>(states.size()); }
};

void EncodeBatched(benchmark::State &state, int16_t type, int channels)
{
    Channels ch(type, channels, false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(HI_VOICE_EncodeFrames(ch.state_ptrs.data(), ch.inputs.data(), ch.frame_ptrs.data(),
                                                       kBlock, channels, ch.results.data()));
        benchmark::ClobberMemory();
        ch.Advance();
    }
    SetSamplesProcessed(state, state.iterations() * channels * kBlock);
}

void EncodeSingle(benchmark::State &state, int16_t type, int channels)
{
    Channels ch(type, channels, false);
    for (auto _ : state) {
        for (int c = 0; c < channels; ++c)
            benchmark::DoNotOptimize(HI_VOICE_EncodeFrame(ch.state_ptrs[c], ch.inputs[c], ch.frame_ptrs[c], kBlock));
        benchmark::ClobberMemory();
        ch.Advance();
    }
    SetSamplesProcessed(state, state.iterations() * channels * kBlock);
}

// MSB-first frames are re-ordered in place by decoding; the work per call is the same.
void DecodeBatched(benchmark::State &state, int16_t type, int channels)
{
    Channels ch(type, channels, true);
    int64_t samples = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(HI_VOICE_DecodeFrames(ch.state_ptrs.data(), ch.frame_ptrs.data(),
                                                       ch.output_ptrs.data(), ch.counts.data(), channels,
                                                       ch.results.data()));
        benchmark::ClobberMemory();
        samples += static_cast<int64_t>(ch.counts[0]) * channels;
        ch.Advance();
    }
    SetSamplesProcessed(state, samples);
}

void DecodeSingle(benchmark::State &state, int16_t type, int channels)
{
    Channels ch(type, channels, true);
    int64_t samples = 0;
    for (auto _ : state) {
        for (int c = 0; c < channels; ++c)
            benchmark::DoNotOptimize(
                HI_VOICE_DecodeFrame(ch.state_ptrs[c], ch.frame_ptrs[c], ch.output_ptrs[c], &ch.counts[c]));
        benchmark::ClobberMemory();
        samples += static_cast<int64_t>(ch.counts[0]) * channels;
        ch.Advance();
    }
    SetSamplesProcessed(state, samples);
}

[[maybe_unused]] const bool kRegistered = [] {
    for (const BatchType &t : kBatchTypes)
        for (int channels : kChannelCounts) {
            const int16_t type = t.type;
            const std::string suffix = "/" + std::to_string(channels);
            benchmark::RegisterBenchmark(("orvo-batch/" + std::string(t.name) + "/encode" + suffix).c_str(),
                                         [type, channels](benchmark::State &s) { EncodeBatched(s, type, channels); });
            benchmark::RegisterBenchmark(("orvo-single/" + std::string(t.name) + "/encode" + suffix).c_str(),
                                         [type, channels](benchmark::State &s) { EncodeSingle(s, type, channels); });
            benchmark::RegisterBenchmark(("orvo-batch/" + std::string(t.name) + "/decode" + suffix).c_str(),
                                         [type, channels](benchmark::State &s) { DecodeBatched(s, type, channels); });
            benchmark::RegisterBenchmark(("orvo-single/" + std::string(t.name) + "/decode" + suffix).c_str(),
                                         [type, channels](benchmark::State &s) { DecodeSingle(s, type, channels); });
        }
    return true;
}();

// The fastest peer of a codec key and direction at 160 samples per frame, or 0.
double FastestPeer(const std::map<std::string, double> &median, const std::string &key, const std::string &dir,
                   const char *impl_prefix)
{
    double best = 0;
    const std::string suffix = "/" + key + "/" + dir + "/" + std::to_string(kBlock);
    for (const auto &[name, value] : median) {
        if (name.rfind(impl_prefix, 0) != 0 || name.size() < suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        if (best == 0 || value < best)
            best = value;
    }
    return best;
}

constexpr double kNsPerSecond = 1e9;
constexpr double kSamplesPerSecond = 8000; // one narrow-band voice channel

// Channels one core codes in real time at `ns` per channel-sample, or 0 unmeasured.
double RealTimeChannels(double ns) { return ns > 0 ? kNsPerSecond / (ns * kSamplesPerSecond) : 0; }

} // namespace

void PrintBatchTable(const std::map<std::string, double> &median)
{
    bool any = false;
    for (const auto &entry : median)
        any = any || entry.first.rfind("orvo-batch/", 0) == 0;
    if (!any)
        return;
    std::printf("\nbatched calls, ns per channel-sample (160-sample frames), median of repetitions;\n"
                "x single = single-channel calls on the same channels / batched, x peer = peer / batched;\n"
                "rt single, rt batched = channels of 8000 samples/s one core codes in real time\n");
    std::printf("%-12s %-6s %8s %9s %9s %9s %9s %9s %9s %10s %10s\n", "codec", "dir", "channels", "batched",
                "single", "x single", "ffmpeg", "spandsp", "x best", "rt single", "rt batched");
    for (const BatchType &t : kBatchTypes)
        for (const char *dir : {"encode", "decode"})
            for (int channels : kChannelCounts) {
                const std::string tail = std::string(t.name) + "/" + dir + "/" + std::to_string(channels);
                const auto batched = median.find("orvo-batch/" + tail);
                const auto single = median.find("orvo-single/" + tail);
                if (batched == median.end())
                    continue;
                const double single_ns = single == median.end() ? 0 : single->second;
                const double ffmpeg = FastestPeer(median, t.peer_key, dir, "ffmpeg-");
                const double spandsp = FastestPeer(median, t.peer_key, dir, "spandsp/");
                const double best = ffmpeg == 0 ? spandsp : (spandsp == 0 ? ffmpeg : std::min(ffmpeg, spandsp));
                std::printf("%-12s %-6s %8d %9.3f %9.3f %8.2fx %9.3f %9.3f %8.2fx %10.0f %10.0f\n", t.name, dir,
                            channels, batched->second, single_ns, single_ns / batched->second, ffmpeg, spandsp,
                            best / batched->second, RealTimeChannels(single_ns), RealTimeChannels(batched->second));
            }
    std::fflush(stdout);
}

} // namespace orvo::bench
