// Shared parts of the voice codec benchmarks: the test signal, the per-sample counter and the
// registry that the ratio table at the end of a run is built from.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orvo::bench {

// Block sizes every codec is measured at: 20 ms and 60 ms at 8000 samples per second.
constexpr int kBlockSizes[] = {160, 480};
constexpr int kSignalSeconds = 4;
constexpr int kSampleRate = 8000;
constexpr uint32_t kSignalSeed = 0x5EED0711u;

// Four seconds of speech-like signal (voiced syllables with formants, pauses, noise), the same
// on every run.
const std::vector<int16_t> &SpeechSignal();

// Reports `samples` processed in total as nanoseconds per sample, and as items per second.
void SetSamplesProcessed(benchmark::State &state, int64_t samples);

// Benchmark names are "<implementation>/<codec>/<direction>/<block>"; peers use the codec key of
// the family they compete with (g711a, g711u, adpcm, g726-16 ... g726-40).
std::string BenchName(const std::string &impl, const std::string &codec, const std::string &dir,
                      int block);

// Prints the table of the batched calls (voice_batch_bench.cpp) from the medians of a run, by
// benchmark name; prints nothing when they were not run.
void PrintBatchTable(const std::map<std::string, double> &median);

} // namespace orvo::bench
