// The delay from mouth to ear of a talk link, measured from the signals: what one orvo-talk
// instance captured (its capture WAV, sample j captured at capture-start + j / 8000 s) against
// what the other played (its playback WAV, whose samples were played when its trace's 'rendered
// N MICROS' lines say: N samples played by then; a wav: device leaves gaps out of the file).
// Every second of the playback recording is matched against the capture by normalised
// cross-correlation; the best match gives that second's delay.
//
//   playout_delay SENT.wav CAPTURE_START_US HEARD.wav HEARD_TRACE [MAX_DELAY_MS]
//
// Prints one line per matched second and a summary: median, 95th percentile, and the medians of
// the first and the last fifth of the run (growth).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

struct Rendered {
    double samples;
    double micros;
};

// The trace's 'rendered N MICROS' lines, in order.
std::vector<Rendered> LoadRendered(const char *path)
{
    std::vector<Rendered> points;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string word;
        Rendered r{};
        if (fields >> word && word == "rendered" && fields >> r.samples >> r.micros)
            points.push_back(r);
    }
    return points;
}

// When sample `index` was played, as a sound card plays: the samples handed over between two
// readings (a few milliseconds apart) start playing between them, one every 125 us; NAN outside
// the readings.
double RenderMicros(const std::vector<Rendered> &points, double index)
{
    constexpr double kMicrosPerSample = 1e6 / kRate;
    for (size_t k = 1; k < points.size(); ++k) {
        if (points[k].samples > index && points[k - 1].samples <= index)
            return (points[k - 1].micros + points[k].micros) / 2 +
                   (index - points[k - 1].samples) * kMicrosPerSample;
    }
    return NAN;
}

// Normalised correlation of heard[from, from + kWindow) with sent[start, start + kWindow); -2
// when that leaves the sent signal.
double Correlation(const std::vector<int16_t> &sent, const std::vector<int16_t> &heard, long from,
                   long start)
{
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
                             "HEARD_TRACE [MAX_DELAY_MS]\n");
        return 2;
    }
    std::vector<int16_t> sent, heard;
    if (!Load(argv[1], &sent) || !Load(argv[3], &heard))
        return 1;
    const double captureStartUs = std::atof(argv[2]);
    const std::vector<Rendered> rendered = LoadRendered(argv[4]);
    const double maxDelayMs = argc > 5 ? std::atof(argv[5]) : 1000;
    if (rendered.size() < 2) {
        std::fprintf(stderr, "playout_delay: no 'rendered' lines in %s\n", argv[4]);
        return 1;
    }

    std::vector<double> delays;
    for (long from = 0; from + kWindow <= static_cast<long>(heard.size()); from += kWindow) {
        double energy = 0;
        for (long n = 0; n < kWindow; ++n)
            energy += static_cast<double>(heard[from + n]) * heard[from + n];
        if (energy / kWindow < kMinWindowMeanSquare)
            continue;
        // heard[from] played at `played`; sent[j] was captured at captureStart + j / rate, so a
        // match with sent[j] is a delay of played - captureStart - j / rate.
        const double played = RenderMicros(rendered, static_cast<double>(from));
        if (std::isnan(played))
            continue;
        const double sinceCaptureMs = (played - captureStartUs) / 1000.0;
        const long firstStart = static_cast<long>(std::floor((sinceCaptureMs - maxDelayMs) * kRate / 1000.0));
        const long lastStart = static_cast<long>(std::ceil(sinceCaptureMs * kRate / 1000.0));
        double best = -1;
        long bestStart = 0;
        for (long start = std::max(0L, firstStart); start <= lastStart; start += kCoarseStep) {
            double c = Correlation(sent, heard, from, start);
            if (c > best) {
                best = c;
                bestStart = start;
            }
        }
        for (long start = bestStart - kCoarseStep; start <= bestStart + kCoarseStep; ++start) {
            double c = Correlation(sent, heard, from, start);
            if (c > best) {
                best = c;
                bestStart = start;
            }
        }
        if (best < kMinCorrelation)
            continue;
        const double delayMs = sinceCaptureMs - bestStart * 1000.0 / kRate;
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
