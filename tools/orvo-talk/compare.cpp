#include "compare.h"

#include <algorithm>
#include <cmath>

#include "orvoaudio/voice.h"

namespace orvo::talktool {
namespace {

constexpr size_t kFrameSamples = 160;
constexpr size_t kFrameBytes = 4 + kFrameSamples; // header and one code per sample

using Frame = std::vector<int16_t>;

std::vector<Frame> CutFrames(const std::vector<int16_t> &samples, bool padLast)
{
    std::vector<Frame> frames;
    for (size_t at = 0; at < samples.size(); at += kFrameSamples) {
        size_t n = std::min(kFrameSamples, samples.size() - at);
        if (n < kFrameSamples && !padLast)
            break;
        Frame frame(kFrameSamples, 0); // capture pads the last frame with silence too
        std::copy(samples.begin() + static_cast<long>(at), samples.begin() + static_cast<long>(at + n),
                  frame.begin());
        frames.push_back(std::move(frame));
    }
    return frames;
}

Frame MuLawRoundTrip(const Frame &frame)
{
    VoiceCodecState encoder{}, decoder{};
    HI_VOICE_EncReset(&encoder, VOICE_G711_U);
    HI_VOICE_DecReset(&decoder, VOICE_G711_U);
    uint8_t coded[kFrameBytes] = {};
    Frame input = frame;
    HI_VOICE_EncodeFrame(&encoder, input.data(), coded, static_cast<int16_t>(kFrameSamples));
    Frame out(HI_VOICE_MAX_SAMPLES, 0);
    int16_t count = 0;
    HI_VOICE_DecodeFrame(&decoder, coded, out.data(), &count);
    out.resize(kFrameSamples);
    return out;
}

size_t MergeRuns(std::vector<Frame> *frames)
{
    size_t before = frames->size();
    frames->erase(std::unique(frames->begin(), frames->end()), frames->end());
    return before - frames->size();
}

double Energy(const Frame &frame)
{
    double sum = 0;
    for (int16_t s : frame)
        sum += double(s) * s;
    return sum;
}

} // namespace

MatchResult MatchReceived(const std::vector<int16_t> &sent, const std::vector<int16_t> &received)
{
    MatchResult result;
    std::vector<Frame> s = CutFrames(sent, true);
    for (Frame &frame : s)
        frame = MuLawRoundTrip(frame);
    std::vector<Frame> r = CutFrames(received, false);
    result.receivedFrames = r.size();
    MergeRuns(&s);
    result.mergedRepeats = MergeRuns(&r);
    result.sentFrames = s.size();
    if (s.empty() || r.empty())
        return result;

    double sentEnergy = 0;
    std::vector<double> receivedEnergy(r.size());
    for (const Frame &frame : s)
        sentEnergy += Energy(frame);
    for (size_t i = 0; i < r.size(); ++i)
        receivedEnergy[i] = Energy(r[i]);
    if (sentEnergy <= 0)
        return result;

    // Sent frame i meets received frame i + lag.
    long best = 0;
    double bestCorrelation = -2;
    // Received audio starts late (latency, lost first packets), rarely early; a long recording's
    // search is bounded.
    constexpr long kMaxLagFrames = 1500; // 30 s
    long firstLag = std::max(-static_cast<long>(s.size()) + 1, -kMaxLagFrames);
    long lastLag = std::min(static_cast<long>(r.size()), kMaxLagFrames);
    for (long lag = firstLag; lag < lastLag; ++lag) {
        double cross = 0, energy = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= static_cast<long>(r.size()))
                continue;
            const Frame &a = s[i];
            const Frame &b = r[static_cast<size_t>(j)];
            for (size_t k = 0; k < kFrameSamples; ++k)
                cross += double(a[k]) * b[k];
            energy += receivedEnergy[static_cast<size_t>(j)];
        }
        double correlation = energy > 0 ? cross / std::sqrt(sentEnergy * energy) : 0;
        if (correlation > bestCorrelation) {
            bestCorrelation = correlation;
            best = lag;
        }
    }
    result.lagFrames = best;
    result.correlation = bestCorrelation;
    for (size_t i = 0; i < s.size(); ++i) {
        if (Energy(s[i]) <= 0)
            continue;
        ++result.soundFrames;
        long j = static_cast<long>(i) + best;
        if (j >= 0 && j < static_cast<long>(r.size()) && r[static_cast<size_t>(j)] == s[i])
            ++result.exactFrames;
    }
    return result;
}

} // namespace orvo::talktool
