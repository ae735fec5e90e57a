#include "talk/adaptive_playout.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/thread.h"
#include "platform/wave.h"
#include "talk/audio_play_thread.h"
#include "voice/time_scale.h"

namespace orvo::talk {
namespace {

constexpr int kBitsPerByte = 8;
constexpr int kAdpcmHeaderBytes = 4;
// A quiet frame lies this far (20 dB) below the speech around it, or below the absolute floor.
constexpr int64_t kQuietBelowActive = 100;
constexpr int kActiveLevelShift = 5; // the speech level follows loud frames over ~32 frames

// Samples a payload of `length` bytes decodes to for codec `type` (the frame size rules).
uint16_t SamplesOfPayload(int16_t type, uint16_t length)
{
    switch (type) {
    case VOICE_ADPCM_DVI4:
        return length > kAdpcmHeaderBytes ? static_cast<uint16_t>((length - kAdpcmHeaderBytes) * 2) : 0;
    case VOICE_ADPCM_IMA:
        return length > kAdpcmHeaderBytes ? static_cast<uint16_t>((length - kAdpcmHeaderBytes) * 2 + 1) : 0;
    case VOICE_G726_16K: case VOICE_G726_16K_MSB:
        return static_cast<uint16_t>(length * kBitsPerByte / 2);
    case VOICE_G726_24K: case VOICE_G726_24K_MSB:
        return static_cast<uint16_t>(length * kBitsPerByte / 3);
    case VOICE_G726_32K: case VOICE_G726_32K_MSB:
        return static_cast<uint16_t>(length * kBitsPerByte / 4);
    case VOICE_G726_40K: case VOICE_G726_40K_MSB:
        return static_cast<uint16_t>(length * kBitsPerByte / 5);
    default:
        return length; // G.711: one code per sample
    }
}

} // namespace

void PlayoutCounters::Clear()
{
    for (std::atomic<uint32_t> *c : {&framesReceived, &framesPlayed, &framesConcealed, &framesLate,
                                     &framesDuplicate, &framesFlushed, &framesReordered,
                                     &framesDroppedQuiet, &shortenings, &lengthenings,
                                     &samplesRemoved, &samplesInserted, &bufferUnderruns})
        c->store(0, std::memory_order_relaxed);
    for (std::atomic<int32_t> *l : {&bufferedSamples, &targetSamples, &jitterSamples, &framesBuffered})
        l->store(0, std::memory_order_relaxed);
}

AdaptivePlayoutCore::AdaptivePlayoutCore(VoiceCodecState *decoder, PlayoutCounters *counters)
    : m_decoder(decoder), m_counters(counters)
{
    m_buffer.Clear();
}

void AdaptivePlayoutCore::Reset()
{
    uint32_t before = m_buffer.Flushed();
    m_buffer.Resync(); // flushes what waits
    m_counters->framesFlushed.fetch_add(m_buffer.Flushed() - before, std::memory_order_relaxed);
    m_buffer.Clear();
    m_concealer.Reset();
    m_intervalDeviations.Clear();
    m_lastArrivalMs = -1;
    m_playing = false;
    m_priming = false;
    m_inUnderrun = false;
    m_offTargetFrames = 0;
    Publish();
}

JitterBuffer::Stored AdaptivePlayoutCore::Arrive(int64_t nowMs, bool timed, uint32_t sequence,
                                                 const uint8_t *payload, uint16_t length,
                                                 int16_t type, bool resetDecoder,
                                                 int64_t arrivalMs)
{
    m_counters->framesReceived.fetch_add(1, std::memory_order_relaxed);
    const uint16_t samples = SamplesOfPayload(type, length);
    // A frame that reached the library before this pass would have waited that much longer.
    const int32_t age = arrivalMs >= 0 && arrivalMs < nowMs
                            ? static_cast<int32_t>((nowMs - arrivalMs) * kSamplesPerMs)
                            : 0;
    const int64_t arrivedMs = age > 0 ? arrivalMs : nowMs;
    const uint32_t flushedBefore = m_buffer.Flushed();
    const uint32_t reorderedBefore = m_buffer.Reordered();
    // Until the next take: a frame that arrives just after one was taken waits longer.
    const int32_t lead = m_playing ? static_cast<int32_t>(std::max<int64_t>(
                                         0, m_nextTakeSamples - nowMs * kSamplesPerMs))
                                   : 0;
    const JitterBuffer::Stored stored = m_buffer.Insert(timed, sequence, payload, length, samples,
                                                        lead + age, type, resetDecoder);
    if (!timed && stored == JitterBuffer::Stored::Yes) {
        if (m_lastArrivalMs >= 0)
            m_intervalDeviations.Add(static_cast<int32_t>(
                std::abs((arrivedMs - m_lastArrivalMs) * kSamplesPerMs - samples)));
        m_lastArrivalMs = arrivedMs;
    }
    switch (stored) {
    case JitterBuffer::Stored::Yes:
        if (!m_playing && !m_priming) {
            m_priming = true;
            m_primeSinceMs = arrivedMs;
        }
        break;
    case JitterBuffer::Stored::Duplicate:
        m_counters->framesDuplicate.fetch_add(1, std::memory_order_relaxed);
        break;
    case JitterBuffer::Stored::Late:
        m_counters->framesLate.fetch_add(1, std::memory_order_relaxed);
        break;
    }
    m_counters->framesFlushed.fetch_add(m_buffer.Flushed() - flushedBefore, std::memory_order_relaxed);
    m_counters->framesReordered.fetch_add(m_buffer.Reordered() - reorderedBefore,
                                          std::memory_order_relaxed);
    Publish();
    return stored;
}

void AdaptivePlayoutCore::Publish()
{
    m_counters->bufferedSamples.store(m_buffer.BufferedSamples(), std::memory_order_relaxed);
    m_counters->framesBuffered.store(m_buffer.Frames(), std::memory_order_relaxed);
    m_counters->targetSamples.store(m_target, std::memory_order_relaxed);
    m_counters->jitterSamples.store(m_jitter, std::memory_order_relaxed);
}

int32_t AdaptivePlayoutCore::Decode(const JitterFrame &frame, int16_t *out, int32_t capacity)
{
    const uint16_t length = std::min<uint16_t>(frame.length, kPlayPayloadBytes);
    // A change of codec, or a new stream, starts the decoder afresh.
    if (frame.type != m_decoder->type || frame.resetDecoder)
        HI_VOICE_DecReset(m_decoder, frame.type);
    const uint32_t words = length / 2u;
    m_staged[0] = 0x00; // marker 0x0100: a frame of kind 1
    m_staged[1] = 0x01;
    m_staged[2] = static_cast<uint8_t>(words & 0xFF);
    m_staged[3] = static_cast<uint8_t>(words >> kBitsPerByte);
    std::memcpy(m_staged + 4, frame.payload, length);
    int16_t decoded[HI_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    HI_VOICE_DecodeFrame(m_decoder, m_staged, decoded, &count);
    const int32_t kept = std::min<int32_t>(count, capacity);
    std::memcpy(out, decoded, static_cast<size_t>(std::max(0, kept)) * sizeof(int16_t));
    return std::max(0, kept);
}

void AdaptivePlayoutCore::UpdateTarget()
{
    const WaitWindow &waits = m_buffer.Waits();
    if (waits.Count() < kAdaptiveMinWaits) {
        m_excess = 0;
        return;
    }
    const int32_t low = waits.Percentile(kAdaptiveLowPercent);
    const int32_t high = waits.Percentile(kAdaptiveHighPercent);
    // The spread of the waits is the jitter to absorb; the lowest waits should sit at the margin
    // (or higher, so that the earliest frames wait at least one frame).
    const int32_t spread = std::max(0, high - low);
    const int32_t steer = std::max(m_frameSamples, spread + kAdaptiveMarginSamples);
    m_excess = low - (steer - spread);
    m_jitter = spread;
    m_target = steer;
    if (m_intervalDeviations.Count() >= kAdaptiveMinWaits) {
        // In arrival order every loss moves the waits by a frame, which the spread takes for
        // jitter; the arrival intervals show the network's own.
        m_jitter = m_intervalDeviations.Percentile(kAdaptiveHighPercent);
        m_target = std::max(m_frameSamples, m_jitter + kAdaptiveMarginSamples);
    }
}

int32_t AdaptivePlayoutCore::TimeScale(int16_t *out, int32_t count, int32_t capacity,
                                       bool nextFrameReady)
{
    UpdateTarget();
    const int64_t level = voice::MeanSquare(out, count);
    const bool quiet =
        level < std::max<int64_t>(voice::kQuietFrameMeanSquare, m_activeMeanSquare / kQuietBelowActive);
    if (!quiet)
        m_activeMeanSquare += (level - m_activeMeanSquare) >> kActiveLevelShift;
    const bool offTarget = m_excess > kAdaptiveExcessSamples || m_excess < -kAdaptiveDeficitSamples;
    m_offTargetFrames = offTarget ? m_offTargetFrames + 1 : 0;
    if (!offTarget)
        return count;

    int32_t period = 0;
    if (!quiet && (m_offTargetFrames >= kAdaptivePersistFrames ||
                   std::abs(m_excess) >= 2 * kAdaptiveExcessSamples)) {
        // A periodic frame may lose or gain one pitch period, found on history and frame.
        int16_t joined[voice::kPitchMaxPeriod + 2 * kPlayBlockBytes / 2];
        const int32_t tail = voice::kPitchMaxPeriod;
        std::memcpy(joined, m_concealer.History() + voice::LossConcealer::kHistorySamples - tail,
                    tail * sizeof(int16_t));
        std::memcpy(joined + tail, out, count * sizeof(int16_t));
        int32_t score = 0;
        const int found = voice::FindPitchPeriod(joined, tail + count, voice::kPitchMinPeriod,
                                                 voice::kPitchMaxPeriod,
                                                 std::min<int32_t>(count, voice::kPitchWindow), &score);
        if (score >= voice::kPeriodicScoreQ15 && 2 * found <= count)
            period = found;
    }

    int32_t changed = count;
    if (m_excess > kAdaptiveExcessSamples) {
        if (quiet && m_excess >= count && nextFrameReady) {
            changed = 0; // the whole quiet frame is left out
            m_counters->framesDroppedQuiet.fetch_add(1, std::memory_order_relaxed);
        } else if (quiet) {
            changed = voice::ShortenFrame(out, count, std::min(m_excess, count / 2));
        } else if (period > 0) {
            changed = voice::ShortenFrame(out, count, period);
        }
        if (changed < count) {
            m_counters->shortenings.fetch_add(1, std::memory_order_relaxed);
            m_counters->samplesRemoved.fetch_add(static_cast<uint32_t>(count - changed),
                                                 std::memory_order_relaxed);
        }
    } else {
        const int32_t room = capacity - count;
        const int32_t deficit = -m_excess;
        if (quiet)
            changed = voice::LengthenFrame(out, count, std::min({deficit, count / 2, room}));
        else if (period > 0 && period <= room)
            changed = voice::LengthenFrame(out, count, period);
        if (changed > count) {
            m_counters->lengthenings.fetch_add(1, std::memory_order_relaxed);
            m_counters->samplesInserted.fetch_add(static_cast<uint32_t>(changed - count),
                                                  std::memory_order_relaxed);
        }
    }
    if (changed != count) {
        m_buffer.Waits().Shift(changed - count);
        m_offTargetFrames = 0;
    }
    return changed;
}

int32_t AdaptivePlayoutCore::Conceal(int16_t *out)
{
    m_concealer.ConcealFrame(out, m_frameSamples);
    m_counters->framesConcealed.fetch_add(1, std::memory_order_relaxed);
    return m_frameSamples;
}

int32_t AdaptivePlayoutCore::NextBlock(int64_t nowMs, int32_t deviceQueued, int16_t *out,
                                       int32_t capacity)
{
    if (!m_playing) {
        if (!m_priming || m_buffer.Frames() == 0)
            return kIdle;
        // Start once the first frame has waited the target delay (or enough audio is there).
        const int64_t waited = (nowMs - m_primeSinceMs) * kSamplesPerMs;
        if (waited + m_buffer.BufferedSamples() - m_frameSamples < m_target - m_jitter &&
            waited < m_target)
            return kIdle;
        m_playing = true;
        m_priming = false;
        // The frames seen so far were measured before playout started; they waited that long.
        m_buffer.Waits().Shift(static_cast<int32_t>(waited));
    }

    if (!m_buffer.HeadPresent() && deviceQueued >= m_frameSamples) {
        // The device still plays a frame's worth: the frame may come yet (late or reordered).
        m_nextTakeSamples = nowMs * kSamplesPerMs;
        return kHold;
    }
    int32_t produced = -1;
    m_lastWasFrame = false;
    for (int attempt = 0; attempt < 2 && produced <= 0; ++attempt) {
        switch (m_buffer.Take(&m_frame)) {
        case JitterBuffer::Taken::Frame: {
            m_inUnderrun = false;
            int32_t count = Decode(m_frame, out, std::min<int32_t>(capacity, kPlayBlockBytes / 2));
            if (count <= 0) {
                m_counters->framesFlushed.fetch_add(1, std::memory_order_relaxed);
                produced = Conceal(out); // the decoder refused it: as good as lost
                break;
            }
            m_frameSamples = count;
            m_concealer.GoodFrame(out, count);
            const int32_t room = std::min<int32_t>(capacity, kPlayBlockBytes / 2);
            count = TimeScale(out, count, room, attempt == 0 && m_buffer.Frames() > 0);
            m_concealer.Remember(out, count);
            if (count > 0) {
                m_counters->framesPlayed.fetch_add(1, std::memory_order_relaxed);
                m_lastWasFrame = true;
            }
            produced = count;
            break;
        }
        case JitterBuffer::Taken::Lost:
            produced = Conceal(out);
            break;
        case JitterBuffer::Taken::Empty:
            if (m_concealer.ErasedSamples() >= voice::LossConcealer::kSilenceAfterSamples) {
                // The concealment has faded out: the stream paused. Start afresh with the next frame.
                m_playing = false;
                m_priming = false;
                m_buffer.Resync();
                m_buffer.Waits().Clear();
                Publish();
                return kIdle;
            }
            if (!m_inUnderrun) {
                m_inUnderrun = true;
                m_counters->bufferUnderruns.fetch_add(1, std::memory_order_relaxed);
            }
            produced = Conceal(out);
            m_buffer.Concealed(produced);
            break;
        }
    }
    // The device plays this block after those queued before it; the next take comes when a
    // block's worth has been played.
    m_nextTakeSamples = nowMs * kSamplesPerMs + std::max(0, produced);
    Publish();
    return produced;
}

AdaptivePlayout::AdaptivePlayout(VoiceCodecState *decoder, PlayoutCounters *counters)
    : m_core(decoder, counters), m_counters(counters)
{
    // Made with the playback thread, which opens the device selected now.
    const std::string device = platform::SelectedWaveDevice(platform::WaveDirection::Playback);
    m_deviceBlocks =
        device.compare(0, sizeof(platform::kWavFilePrefix) - 1, platform::kWavFilePrefix) == 0
            ? kAdaptiveDeviceBlocksWav
            : kAdaptiveDeviceBlocksSystem;
}

void AdaptivePlayout::OnSelected(CAudioPlayThread &, bool selected)
{
    m_core.Reset();
    if (selected)
        m_counters->Clear();
}

void AdaptivePlayout::Poll(CAudioPlayThread &thread)
{
    const int64_t now = platform::NowMilliseconds();
    while (thread.TakeFrame(&m_slot))
        m_core.Arrive(now, m_slot.timed, m_slot.sequence, m_slot.payload, m_slot.length,
                      m_slot.type, m_slot.resetDecoder, m_slot.arrivalMs);
}

AdaptivePlayout::PassResult AdaptivePlayout::Pass(CAudioPlayThread &thread, int32_t deviceQueued,
                                                  int16_t *samples, int32_t capacity,
                                                  int32_t *sampleCount)
{
    Poll(thread);
    int32_t count = m_core.NextBlock(platform::NowMilliseconds(), deviceQueued, samples, capacity);
    if (count == AdaptivePlayoutCore::kHold)
        return PassResult::Hold;
    if (count < 0)
        return PassResult::Idle;
    *sampleCount = count;
    return PassResult::Block;
}

} // namespace orvo::talk
