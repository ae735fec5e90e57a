// Adaptive playout on simulated time: a sender of speech-like 20 ms mu-law frames, a network with
// a given delay schedule, the playout core polled every 5 ms as the playback thread polls, and a
// device that holds three blocks and plays 8 samples per millisecond. Everything is seeded and
// computed, so every run is the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <random>
#include <vector>

#include "orvo_tool/signal_tools.h"
#include "orvoaudio/voice.h"
#include "talk/adaptive_playout.h"
#include "voice/time_scale.h"

namespace orvo::talk {
namespace {

constexpr int kFrame = 160;
constexpr int kPollMs = 5;
constexpr int kBaseDelayMs = 30;
constexpr int kDeviceBlocks = kAdaptiveDeviceBlocksSystem;

struct Schedule {
    const char *name;
    int seconds;
    int jitterMs = 0;     // each frame delayed by a uniform 0..jitter on top of the base
    double loss = 0;      // share of frames lost
    double duplicate = 0; // share of frames that arrive twice
    double swap = 0;      // share of frames held back behind the next one
    bool bursts = false;  // every 2 s the network stalls 120 ms, then delivers everything
    double ppm = 0;       // sender clock: positive runs fast
    bool timed = true;    // frames carry sequence numbers (RTP) or not (talk packets)
    int laterJitterMs = -1; // from half-time on, this jitter instead
};

struct Event {
    int64_t atMs;
    uint32_t sequence;
};

const std::vector<int16_t> &Speech()
{
    static const std::vector<int16_t> speech = tool::GenerateSpeechLike(60.0);
    return speech;
}

// The mu-law payload of frame `k` of the looping speech signal.
std::vector<uint8_t> PayloadOf(uint32_t k)
{
    const std::vector<int16_t> &speech = Speech();
    const size_t frames = speech.size() / kFrame;
    VoiceCodecState encoder{};
    HI_VOICE_EncReset(&encoder, VOICE_G711_U);
    uint8_t frame[4 + kFrame];
    HI_VOICE_EncodeFrame(&encoder, &speech[(k % frames) * kFrame], frame, kFrame);
    return std::vector<uint8_t>(frame + 4, frame + 4 + kFrame);
}

struct RunResult {
    std::vector<double> delayMs; // send to ear, beyond the base delay, per frame played
    int maxBuffered = 0;
    uint32_t lost = 0;
    uint64_t deviceUnderruns = 0;
    std::vector<int64_t> concealedMeanSquares; // per concealed block in a voiced stretch
    std::vector<int> concealedRuns;            // frames concealed in a row, per gap
    int32_t lastTarget = 0;
    int32_t lastJitter = 0;
};

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

std::vector<double> Slice(const std::vector<double> &v, double from, double to)
{
    return std::vector<double>(v.begin() + static_cast<long>(v.size() * from),
                               v.begin() + static_cast<long>(v.size() * to));
}

class PlayoutSimulation {
public:
    explicit PlayoutSimulation(const Schedule &s) : m_s(s), m_core(&m_decoder, &m_counters)
    {
        HI_VOICE_DecReset(&m_decoder, VOICE_G711_U);
    }

    RunResult Run(const std::vector<uint32_t> &forcedLosses = {})
    {
        std::mt19937 rng(12345);
        std::uniform_real_distribution<double> unit(0, 1);
        const uint32_t frames = static_cast<uint32_t>(m_s.seconds * 50);
        const double periodMs = 20.0 / (1.0 + m_s.ppm * 1e-6);
        std::vector<Event> events;
        std::vector<double> sendMs(frames);
        std::vector<bool> lostFrame(frames, false);
        for (uint32_t f : forcedLosses)
            if (f < frames)
                lostFrame[f] = true;
        RunResult result;
        for (uint32_t k = 0; k < frames; ++k) {
            sendMs[k] = k * periodMs;
            const int jitterMs = m_s.laterJitterMs >= 0 && k >= frames / 2 ? m_s.laterJitterMs : m_s.jitterMs;
            double jitter = jitterMs * unit(rng);
            if (lostFrame[k] || unit(rng) < m_s.loss) {
                lostFrame[k] = true;
                ++result.lost;
                continue;
            }
            double at = sendMs[k] + kBaseDelayMs + jitter;
            if (unit(rng) < m_s.swap)
                at += 25; // behind the next frame
            if (m_s.bursts) {
                const double inPeriod = std::fmod(at, 2000.0);
                if (inPeriod < 120)
                    at += 120 - inPeriod; // held until the stall ends
            }
            events.push_back({static_cast<int64_t>(std::ceil(at / kPollMs)) * kPollMs, k});
            if (unit(rng) < m_s.duplicate)
                events.push_back({events.back().atMs + kPollMs * static_cast<int64_t>(unit(rng) * 4), k});
        }
        std::stable_sort(events.begin(), events.end(),
                         [](const Event &a, const Event &b) { return a.atMs < b.atMs; });

        std::vector<uint32_t> arrivalOrder; // talk packets: the frame behind each arrival number
        std::deque<int32_t> device;         // samples left in each queued block
        size_t next = 0;
        int16_t block[kPlayBlockBytes / 2];
        const int64_t endMs = events.empty() ? 0 : events.back().atMs + 1000;
        int concealRun = 0;
        std::vector<int64_t> runLevels;
        bool devicePlaying = false;
        for (int64_t now = 0; now <= endMs; now += kPollMs) {
            // The device plays the last 5 ms.
            int32_t toPlay = kPollMs * kSamplesPerMs;
            while (toPlay > 0 && !device.empty()) {
                int32_t n = std::min(toPlay, device.front());
                device.front() -= n;
                toPlay -= n;
                if (device.front() == 0)
                    device.pop_front();
            }
            if (devicePlaying && device.empty() && toPlay > 0)
                ++result.deviceUnderruns;
            while (next < events.size() && events[next].atMs <= now) {
                const uint32_t k = events[next].sequence;
                std::vector<uint8_t> payload = PayloadOf(k);
                if (m_core.Arrive(now, m_s.timed, k, payload.data(), kFrame) ==
                    JitterBuffer::Stored::Yes)
                    arrivalOrder.push_back(k);
                ++next;
            }
            while (static_cast<int>(device.size()) < kDeviceBlocks) {
                int32_t queued = 0;
                for (int32_t left : device)
                    queued += left;
                int32_t count = m_core.NextBlock(now, queued, block, kPlayBlockBytes / 2);
                if (count == AdaptivePlayoutCore::kHold)
                    break;
                if (count < 0) {
                    devicePlaying = false;
                    break;
                }
                devicePlaying = true;
                if (m_core.LastBlockWasFrame()) {
                    uint32_t k = m_s.timed ? m_core.LastSequence() : arrivalOrder.at(m_core.LastSequence());
                    const double earMs = static_cast<double>(now) + queued / double(kSamplesPerMs);
                    result.delayMs.push_back(earMs - sendMs.at(k) - kBaseDelayMs);
                    if (concealRun > 0) {
                        // A gap the stream came back from (not the fade-out at its end).
                        result.concealedRuns.push_back(concealRun);
                        result.concealedMeanSquares.insert(result.concealedMeanSquares.end(),
                                                           runLevels.begin(), runLevels.end());
                    }
                    concealRun = 0;
                    runLevels.clear();
                } else {
                    ++concealRun;
                    runLevels.push_back(voice::MeanSquare(block, count));
                }
                if (count > 0)
                    device.push_back(count);
            }
            result.maxBuffered = std::max(result.maxBuffered, m_core.Buffer().Frames());
        }
        result.lastTarget = m_counters.targetSamples.load();
        result.lastJitter = m_counters.jitterSamples.load();
        return result;
    }

    const PlayoutCounters &Counters() const { return m_counters; }

private:
    Schedule m_s;
    VoiceCodecState m_decoder{};
    PlayoutCounters m_counters;
    AdaptivePlayoutCore m_core;
};

void ExpectCountersAddUp(const PlayoutCounters &c)
{
    EXPECT_EQ(c.framesReceived.load(),
              c.framesPlayed.load() + c.framesDroppedQuiet.load() + c.framesLate.load() +
                  c.framesDuplicate.load() + c.framesFlushed.load() +
                  static_cast<uint32_t>(c.framesBuffered.load()));
}

class ScheduleTest : public ::testing::TestWithParam<Schedule> {};

// The delay the schedule calls for: its jitter (bursts add their stall), a frame of phase between
// arrivals and device blocks, the margin and the steering hysteresis, and the device queue.
double DelayBoundMs(const Schedule &s)
{
    const double jitter = s.jitterMs + (s.bursts ? 120 : 0) + (s.swap > 0 ? 25 : 0);
    return jitter + 20 + 5 + 10 + kDeviceBlocks * 20;
}

TEST_P(ScheduleTest, DelayStaysNearTargetNothingGrowsCountersAddUp)
{
    const Schedule &s = GetParam();
    PlayoutSimulation simulation(s);
    RunResult r = simulation.Run();
    const PlayoutCounters &c = simulation.Counters();
    ASSERT_GT(r.delayMs.size(), static_cast<size_t>(s.seconds * 50 * 0.8));
    const double steady = Median(Slice(r.delayMs, 0.5, 1.0));
    const double early = Median(Slice(r.delayMs, 0.25, 0.5));
    const double late = Median(Slice(r.delayMs, 0.75, 1.0));
    std::printf("[ %s ] median delay %.1f ms (bound %.0f), target %d ms, jitter %d ms, concealed %u, "
                "late %u, duplicate %u, shortened %u (-%u samples), lengthened %u (+%u), quiet "
                "frames dropped %u, max buffered %d\n",
                s.name, steady, DelayBoundMs(s), r.lastTarget / kSamplesPerMs,
                r.lastJitter / kSamplesPerMs, c.framesConcealed.load(), c.framesLate.load(),
                c.framesDuplicate.load(), c.shortenings.load(), c.samplesRemoved.load(),
                c.lengthenings.load(), c.samplesInserted.load(), c.framesDroppedQuiet.load(),
                r.maxBuffered);
    EXPECT_LE(steady, DelayBoundMs(s));
    EXPECT_GE(steady, 0.0);
    EXPECT_LE(late, early + 15) << "the delay grows";
    EXPECT_LE(r.maxBuffered, (DelayBoundMs(s) + 60) / 20);
    EXPECT_GE(r.lastTarget, kFrame); // never below one frame
    ExpectCountersAddUp(c);
    if (s.timed && s.duplicate > 0) {
        EXPECT_GT(c.framesDuplicate.load(), 0u);
    }
    if (s.loss > 0 && s.timed) {
        // Talk packets carry no numbers: a loss there often goes unseen, the next frame playing
        // in its place and the delay then built up again.
        EXPECT_GE(c.framesConcealed.load(), r.lost * 8 / 10);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Schedules, ScheduleTest,
    ::testing::Values(
        Schedule{"steady", 120}, Schedule{"jitter20", 120, 20}, Schedule{"jitter40", 120, 40},
        Schedule{"jitter80", 120, 80}, Schedule{"bursts", 120, 10, 0, 0, 0, true},
        Schedule{"loss1", 120, 20, 0.01}, Schedule{"loss5", 120, 20, 0.05},
        Schedule{"loss10", 120, 20, 0.10}, Schedule{"reorder", 120, 10, 0, 0, 0.05},
        Schedule{"duplicates", 120, 10, 0, 0.05}, Schedule{"talk_steady", 120, 0, 0, 0, 0, false, 0, false},
        Schedule{"talk_jitter40", 120, 40, 0, 0, 0, false, 0, false},
        Schedule{"talk_loss5", 120, 20, 0.05, 0, 0, false, 0, false},
        Schedule{"talk_duplicates", 120, 10, 0, 0.05, 0, false, 0, false}),
    [](const ::testing::TestParamInfo<Schedule> &info) { return std::string(info.param.name); });

// The jitter falls from 80 ms to 5 ms: the delay comes down with it, and goes up again when the
// jitter comes back.
TEST(AdaptivePlayoutTarget, FollowsTheJitterDownAndUp)
{
    Schedule down{"down", 120, 80};
    down.laterJitterMs = 5;
    PlayoutSimulation falling(down);
    RunResult r = falling.Run();
    const double before = Median(Slice(r.delayMs, 0.3, 0.5));
    const double after = Median(Slice(r.delayMs, 0.8, 1.0));
    std::printf("jitter 80 -> 5 ms: delay %.1f -> %.1f ms, shortened %u (-%u samples), quiet frames "
                "dropped %u\n", before, after, falling.Counters().shortenings.load(),
                falling.Counters().samplesRemoved.load(), falling.Counters().framesDroppedQuiet.load());
    EXPECT_LT(after, before - 40);
    ExpectCountersAddUp(falling.Counters());

    Schedule up{"up", 120, 5};
    up.laterJitterMs = 80;
    PlayoutSimulation rising(up);
    r = rising.Run();
    const double low = Median(Slice(r.delayMs, 0.3, 0.5));
    const double high = Median(Slice(r.delayMs, 0.8, 1.0));
    std::printf("jitter 5 -> 80 ms: delay %.1f -> %.1f ms, late %u, concealed %u\n", low, high,
                rising.Counters().framesLate.load(), rising.Counters().framesConcealed.load());
    EXPECT_GT(high, low + 40);
    EXPECT_LE(high, DelayBoundMs(Schedule{"80", 1, 80}));
    ExpectCountersAddUp(rising.Counters());
}

class DriftTest : public ::testing::TestWithParam<Schedule> {};

// An hour with the sender's clock 300 ppm off: the delay of the last ten minutes is that of the
// first ten within a few ms, and the samples taken out or added match the drift.
TEST_P(DriftTest, AnHourOfDriftKeepsTheDelay)
{
    const Schedule &s = GetParam();
    PlayoutSimulation simulation(s);
    RunResult r = simulation.Run();
    const PlayoutCounters &c = simulation.Counters();
    const double first = Median(Slice(r.delayMs, 1.0 / 6, 2.0 / 6));
    const double last = Median(Slice(r.delayMs, 5.0 / 6, 1.0));
    double worst = 0;
    for (int part = 1; part < 12; ++part)
        worst = std::max(worst, std::abs(Median(Slice(r.delayMs, part / 12.0, (part + 1) / 12.0)) - first));
    const double driftSamples = std::abs(s.ppm) * 1e-6 * s.seconds * 8000;
    const int64_t net = static_cast<int64_t>(c.samplesRemoved.load()) - c.samplesInserted.load() +
                        static_cast<int64_t>(c.framesDroppedQuiet.load()) * kFrame;
    std::printf("[ %s ] delay first 10 min %.1f ms, last 10 min %.1f ms, worst 5-min median off "
                "by %.1f ms; removed %u in %u, inserted %u in %u, quiet frames dropped %u; drift "
                "%.0f samples, net %lld; concealed %u, device underruns %llu\n",
                s.name, first, last, worst, c.samplesRemoved.load(), c.shortenings.load(),
                c.samplesInserted.load(), c.lengthenings.load(), c.framesDroppedQuiet.load(),
                driftSamples, static_cast<long long>(net), c.framesConcealed.load(),
                static_cast<unsigned long long>(r.deviceUnderruns));
    EXPECT_LE(std::abs(last - first), 15.0);
    EXPECT_LE(worst, 20.0);
    EXPECT_LE(r.maxBuffered, 8);
    // A fast sender is followed by taking samples out, a slow one by adding them.
    const double expected = s.ppm > 0 ? driftSamples : -driftSamples;
    EXPECT_NEAR(static_cast<double>(net), expected, 400.0);
    ExpectCountersAddUp(c);
}

INSTANTIATE_TEST_SUITE_P(
    Drift, DriftTest,
    ::testing::Values(Schedule{"fast300", 3600, 20, 0, 0, 0, false, 300},
                      Schedule{"slow300", 3600, 20, 0, 0, 0, false, -300},
                      Schedule{"talk_fast300", 3600, 20, 0, 0, 0, false, 300, false},
                      Schedule{"talk_slow300", 3600, 20, 0, 0, 0, false, -300, false}),
    [](const ::testing::TestParamInfo<Schedule> &info) { return std::string(info.param.name); });

// Gaps of one, two and three frames (20 to 60 ms) in voiced stretches are concealed with sound,
// never with silence.
TEST(AdaptivePlayoutConcealment, GapsUpTo60MsAreNeverSilent)
{
    const std::vector<int16_t> &speech = Speech();
    std::vector<uint32_t> losses;
    int gap = 1;
    for (uint32_t k = 20; k + 4 < speech.size() / kFrame && losses.size() < 300; k += 17) {
        bool voiced = true;
        for (int j = -1; j <= gap; ++j)
            voiced = voiced && voice::MeanSquare(&speech[(k + j) * kFrame], kFrame) > 1000 * 1000;
        if (!voiced)
            continue;
        for (int j = 0; j < gap; ++j)
            losses.push_back(k + j);
        gap = gap % 3 + 1;
    }
    ASSERT_GT(losses.size(), 60u);
    PlayoutSimulation simulation(Schedule{"gaps", 60});
    RunResult r = simulation.Run(losses);
    ASSERT_FALSE(r.concealedMeanSquares.empty());
    int64_t quietest = INT64_MAX;
    for (int64_t ms : r.concealedMeanSquares)
        quietest = std::min(quietest, ms);
    std::printf("concealed blocks %zu, quietest at mean square %lld\n", r.concealedMeanSquares.size(),
                static_cast<long long>(quietest));
    EXPECT_GT(quietest, 100 * 100); // above -50 dBFS: never silence
    for (int run : r.concealedRuns)
        EXPECT_LE(run, 3);
    ExpectCountersAddUp(simulation.Counters());
}

} // namespace
} // namespace orvo::talk
