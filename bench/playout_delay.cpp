// The delay from mouth to ear of a talk link, measured from the signals: what one orvo-talk
// instance captured (its capture WAV) against what the other played (its playback WAV), placed on
// the common monotonic clock by the two instances' trace lines (capture-start, playback-start).
// Every second of the playback recording is matched against the capture by normalised
// cross-correlation; its best lag gives that second's delay.
//
//   playout_delay SENT.wav CAPTURE_START_US HEARD.wav PLAYBACK_START_US [MAX_DELAY_MS]
//
// Prints one line per matched second and a summary: median, 95th percentile, and the medians of
// the first and the last fifth of the run (growth).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "orvo_tool/file_io.h"
#include "orvo_tool/wav_file.h"

namespace {

constexpr int kRate = 8000;
constexpr int kWindow = kRate;       // one second per measurement
constexpr int kCoarseStep = 4;       // lags searched every 4 samples, then refined
constexpr double kMinCorrelation = 0.6;
constexpr double kMinWindowMeanSquare = 300.0 * 300.0; // skip quiet seconds

bool Load(const char *path, std::vector<int16_t> *samples)
{
    std::vector<uint8_t> data;
    std::string error;
    if (!orvo::tool::ReadWholeFile(path, &data, &error) ||
        !orvo::tool::ParseVoiceWav(data.data(), data.size(), samples, &error)) {
        std::fprintf(stderr, "playout_delay: %s: %s\n", path, error.c_str());
        return false;
    }
    return true;
}

// Normalised correlation of heard[from, from + kWindow) with sent shifted by `lag` samples
// (heard[i] against sent[i - lag]); -2 when the shifted window leaves the sent signal.
double Correlation(const std::vector<int16_t> &sent, const std::vector<int16_t> &heard, long from,
                   long lag)
{
    const long start = from - lag;
    if (start < 0 || start + kWindow > static_cast<long>(sent.size()))
        return -2;
    double xy = 0, xx = 0, yy = 0;
    for (long n = 0; n < kWindow; ++n) {
        const double x = heard[from + n], y = sent[start + n];
        xy += x * y;
        xx += x * x;
        yy += y * y;
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: playout_delay SENT.wav CAPTURE_START_US HEARD.wav "
                             "PLAYBACK_START_US [MAX_DELAY_MS]\n");
        return 2;
    }
    std::vector<int16_t> sent, heard;
    if (!Load(argv[1], &sent) || !Load(argv[3], &heard))
        return 1;
    const double captureStartUs = std::atof(argv[2]);
    const double playbackStartUs = std::atof(argv[4]);
    const double maxDelayMs = argc > 5 ? std::atof(argv[5]) : 1000;
    // heard sample i plays at playbackStart + i/rate, sent sample j was captured at
    // captureStart + j/rate; a match heard[i] = sent[i - lag] is a delay of
    // (playbackStart - captureStart) + lag/rate.
    const double offsetMs = (playbackStartUs - captureStartUs) / 1000.0;
    const long lagMin = static_cast<long>(std::floor(-offsetMs * kRate / 1000.0));
    const long lagMax = static_cast<long>(std::ceil((maxDelayMs - offsetMs) * kRate / 1000.0));

    std::vector<double> delays;
    for (long from = 0; from + kWindow <= static_cast<long>(heard.size()); from += kWindow) {
        double energy = 0;
        for (long n = 0; n < kWindow; ++n)
            energy += static_cast<double>(heard[from + n]) * heard[from + n];
        if (energy / kWindow < kMinWindowMeanSquare)
            continue;
        double best = -1;
        long bestLag = 0;
        for (long lag = lagMin; lag <= lagMax; lag += kCoarseStep) {
            double c = Correlation(sent, heard, from, lag);
            if (c > best) {
                best = c;
                bestLag = lag;
            }
        }
        for (long lag = bestLag - kCoarseStep; lag <= bestLag + kCoarseStep; ++lag) {
            double c = Correlation(sent, heard, from, lag);
            if (c > best) {
                best = c;
                bestLag = lag;
            }
        }
        if (best < kMinCorrelation)
            continue;
        const double delayMs = offsetMs + bestLag * 1000.0 / kRate;
        delays.push_back(delayMs);
        std::printf("second %4ld  delay %7.1f ms  correlation %.3f\n", from / kWindow, delayMs, best);
    }
    if (delays.empty()) {
        std::printf("no second of the recording matched the capture\n");
        return 1;
    }
    const size_t fifth = std::max<size_t>(1, delays.size() / 5);
    std::vector<double> first(delays.begin(), delays.begin() + fifth);
    std::vector<double> last(delays.end() - fifth, delays.end());
    std::printf("mouth to ear over %zu seconds: median %.1f ms  p95 %.1f ms  min %.1f  max %.1f;"
                " first fifth %.1f ms, last fifth %.1f ms\n",
                delays.size(), Percentile(delays, 0.5), Percentile(delays, 0.95),
                Percentile(delays, 0), Percentile(delays, 1), Percentile(first, 0.5),
                Percentile(last, 0.5));
    return 0;
}
