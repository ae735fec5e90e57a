// The RTP receive path into the playback: the checks at the door (Orvo_InputRtpData), the receive
// ring, the ordering by sequence number and the hand-over to the jitter queue.
#include "talk/rtp_receive.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "orvoaudio/rtp.h"
#include "platform/thread.h"
#include "talk/audio_play_thread.h"
#include "talk/rtp/rtp_format.h"
#include "talk/talk_codec.h"
#include "talk/talk_counters.h"
#include "talk/talk_ring.h" // kCacheLineBytes
#include "talk/talk_service.h"

namespace orvo::talk {
namespace {

RtpCounters g_rtpCounters;

// Single-writer (Orvo_InputRtpData), single-reader (the feeder) ring of checked packets. Larger
// than a talk ring: senders such as ffmpeg send a burst of 13 or 26 packets at once. The writer
// fills a slot, then publishes the write index with release; the reader loads it with acquire,
// uses the slot in place, then publishes the read index with release.
class RtpIngressRing {
public:
    static constexpr int32_t kSlots = kIngressSlots;

    bool Append(const ReceivedFrame &frame)
    {
        int32_t write = m_write.load(std::memory_order_relaxed);
        int32_t next = (write + 1) % kSlots;
        if (next == m_read.load(std::memory_order_acquire))
            return false; // full: the playback has not taken the waiting ones
        std::memcpy(&m_slots[write], &frame, static_cast<size_t>(frame.WireBytes()));
        m_write.store(next, std::memory_order_release);
        return true;
    }
    // The oldest packet, or null when the ring is empty; valid until Pop.
    const ReceivedFrame *Head() const
    {
        int32_t read = m_read.load(std::memory_order_relaxed);
        if (read == m_write.load(std::memory_order_acquire))
            return nullptr;
        return &m_slots[read];
    }
    void Pop()
    {
        int32_t read = m_read.load(std::memory_order_relaxed);
        m_read.store((read + 1) % kSlots, std::memory_order_release);
    }

private:
    alignas(kCacheLineBytes) std::atomic<int32_t> m_write{0};
    alignas(kCacheLineBytes) std::atomic<int32_t> m_read{0};
    ReceivedFrame m_slots[kSlots];
};

// Frames the playback's jitter queue must have room for before a packet of `frame`'s length is
// taken out of the ring: one per 20 ms it holds, one more for a leftover it completes.
int32_t FramesNeeded(const ReceivedFrame &frame)
{
    return rtp::SamplesInPayload(frame.type, frame.length) / kSplitFrameSamples + 1;
}

// The ring from Orvo_InputRtpData to the feeder, and the feeder's ordering state. Created by the
// first packet, published with release, deleted only by the teardown.
struct RtpReceiveService {
    RtpIngressRing ring;
    RtpReorderer reorderer{g_rtpCounters};
    FrameSplitter splitter;
    ReceivedFrame arriving; // Orvo_InputRtpData's staging
};

std::mutex g_serviceCreation;
std::atomic<RtpReceiveService *> g_service{nullptr};

RtpReceiveService *ReceiveService()
{
    if (RtpReceiveService *service = g_service.load(std::memory_order_acquire))
        return service;
    std::lock_guard<std::mutex> lock(g_serviceCreation);
    if (RtpReceiveService *service = g_service.load(std::memory_order_acquire))
        return service;
    auto *service = new (std::nothrow) RtpReceiveService;
    if (!service)
        return nullptr;
    g_service.store(service, std::memory_order_release);
    return service;
}

void Count(std::atomic<uint32_t> &counter) { counter.fetch_add(1, std::memory_order_relaxed); }

// The one place where ordered RTP frames enter the playback's jitter queue: each frame with its
// true (extended) sequence number, its codec, whether it starts a stream and when its packet
// arrived (adaptive playout times its jitter by that). The queue then holds the frames in sequence
// order, and the gate's expected number is the head's: the gaps before it have been given up
// already.
void HandOverToPlayback(CAudioPlayThread &thread, const OrderedFrame &frame)
{
    Counters().packetsReceived.fetch_add(1, std::memory_order_relaxed);
    if (thread.QueuedCount() >= kPlayQueueSlots) {
        thread.DropOldestFrame(); // the newest speech matters more than the oldest
        Counters().framesDroppedOverflow.fetch_add(1, std::memory_order_relaxed);
    }
    thread.QueueFrame(frame.sequence, frame.payload, frame.length, frame.type, frame.newStream,
                      frame.arrivalMs);
    thread.SetExpectedSequence(thread.HeadSequence());
}

class PlaybackSink final : public OrderedFrameSink {
public:
    explicit PlaybackSink(CAudioPlayThread &thread) : m_thread(thread) {}
    void Deliver(const OrderedFrame &frame) override { HandOverToPlayback(m_thread, frame); }

private:
    CAudioPlayThread &m_thread;
};

// Bytes of one 20 ms frame of a codec that the splitter cuts (G.711, G.726), else 0.
int32_t SplitFrameBytes(int16_t type)
{
    constexpr int kBitsPerByte = 8;
    if (type == VOICE_G711_A || type == VOICE_G711_U)
        return kSplitFrameSamples;
    if (int bits = G726BitsOf(type); bits != 0)
        return kSplitFrameSamples * bits / kBitsPerByte;
    return 0;
}

int32_t Refuse(int32_t status)
{
    RtpCounters &c = g_rtpCounters;
    switch (status) {
    case ORVO_RTP_ERR_ARGUMENT: Count(c.refusedArgument); break;
    case ORVO_RTP_ERR_SHORT: Count(c.refusedShort); break;
    case ORVO_RTP_ERR_VERSION: Count(c.refusedVersion); break;
    case ORVO_RTP_ERR_PADDING: Count(c.refusedPadding); break;
    case ORVO_RTP_ERR_PAYLOAD_TYPE: Count(c.refusedPayloadType); break;
    case ORVO_RTP_ERR_LENGTH: Count(c.refusedLength); break;
    case ORVO_RTP_ERR_OVERSIZE: Count(c.refusedOversize); break;
    default: Count(c.refusedFull); break;
    }
    return status;
}

void ClearCounters()
{
    RtpCounters &c = g_rtpCounters;
    for (std::atomic<uint32_t> *counter :
         {&c.packetsIn, &c.queued, &c.refusedArgument, &c.refusedShort, &c.refusedVersion,
          &c.refusedPadding, &c.refusedPayloadType, &c.refusedLength, &c.refusedOversize,
          &c.refusedFull, &c.inOrder, &c.reordered, &c.late, &c.duplicates, &c.droppedStream,
          &c.lost, &c.ssrcChanges, &c.codecChanges, &c.sequenceRestarts, &c.ssrc,
          &c.highestSequence})
        counter->store(0, std::memory_order_relaxed);
    c.voiceType.store(0, std::memory_order_relaxed);
    c.waiting.store(0, std::memory_order_relaxed);
}

uint32_t Load(const std::atomic<uint32_t> &counter) { return counter.load(std::memory_order_relaxed); }

} // namespace

RtpCounters &RtpReceiveCounters() { return g_rtpCounters; }

// ---- RtpReorderer

void RtpReorderer::Reset()
{
    m_haveStream = false;
    m_newStream = false;
    m_ssrc = 0;
    m_next = 0;
    m_history = 0;
    m_probation = false;
    m_probationSequence = 0;
    m_lastType = 0;
    m_staged = 0;
    for (Staged &slot : m_stage)
        slot.used = false;
    m_counters.waiting.store(0, std::memory_order_relaxed);
}

void RtpReorderer::StartStream(const ReceivedFrame &frame)
{
    m_haveStream = true;
    m_newStream = true;
    m_ssrc = frame.ssrc;
    m_next = frame.sequence;
    m_history = 0;
    m_probation = false;
    m_counters.ssrc.store(frame.ssrc, std::memory_order_relaxed);
}

void RtpReorderer::Deliver(const ReceivedFrame &frame, uint32_t sequence, OrderedFrameSink &sink)
{
    if (m_lastType != 0 && frame.type != m_lastType)
        Count(m_counters.codecChanges);
    m_lastType = frame.type;
    OrderedFrame out{sequence,   frame.timestamp, frame.arrivalMs, frame.type,
                     m_newStream, frame.payload,  frame.length};
    m_newStream = false;
    m_counters.highestSequence.store(sequence, std::memory_order_relaxed);
    m_counters.voiceType.store(frame.type, std::memory_order_relaxed);
    sink.Deliver(out);
}

void RtpReorderer::Advance(OrderedFrameSink &sink)
{
    Staged &slot = m_stage[m_next % kStageSlots];
    if (slot.used && slot.sequence == m_next) {
        slot.used = false;
        --m_staged;
        Deliver(slot.frame, m_next, sink);
        m_history = m_history << 1 | 1;
    } else {
        Count(m_counters.lost);
        m_history <<= 1;
    }
    ++m_next;
}

void RtpReorderer::ReleaseInOrder(OrderedFrameSink &sink)
{
    for (;;) {
        const Staged &slot = m_stage[m_next % kStageSlots];
        if (!slot.used || slot.sequence != m_next)
            return;
        Advance(sink);
    }
}

void RtpReorderer::FlushAll(OrderedFrameSink &sink)
{
    while (m_staged > 0)
        Advance(sink);
}

void RtpReorderer::Push(const ReceivedFrame &frame, OrderedFrameSink &sink)
{
    if (!m_haveStream || frame.ssrc != m_ssrc) {
        if (m_haveStream) {
            FlushAll(sink); // the old stream's last frames still play, in order
            Count(m_counters.ssrcChanges);
        }
        StartStream(frame);
    }
    int32_t ahead = static_cast<int16_t>(static_cast<uint16_t>(frame.sequence - m_next));
    if (ahead >= kMaxDropout || ahead < -kMaxMisorder) {
        // Far from the numbers expected: a stray packet, or a sender that restarted its numbering.
        // Followed only once the next packet continues from this one.
        if (!m_probation || frame.sequence != m_probationSequence) {
            m_probation = true;
            m_probationSequence = static_cast<uint16_t>(frame.sequence + 1);
            Count(m_counters.droppedStream);
            return;
        }
        FlushAll(sink);
        m_next += static_cast<uint16_t>(frame.sequence - m_next);
        m_history = 0;
        m_newStream = true;
        Count(m_counters.sequenceRestarts);
        ahead = 0;
    }
    m_probation = false;
    if (ahead < 0) {
        int32_t behind = -ahead;
        if (behind <= kHistoryBits && ((m_history >> (behind - 1)) & 1))
            Count(m_counters.duplicates);
        else
            Count(m_counters.late); // its turn was given up already
        return;
    }
    while (ahead >= kStageSlots) { // beyond the window: give up the oldest numbers
        Advance(sink);
        --ahead;
    }
    uint32_t sequence = m_next + static_cast<uint32_t>(ahead);
    Staged &slot = m_stage[sequence % kStageSlots];
    if (slot.used) { // within the window a used slot holds this very number
        Count(m_counters.duplicates);
        return;
    }
    slot.used = true;
    slot.sequence = sequence;
    slot.frame = frame;
    ++m_staged;
    Count(ahead == 0 ? m_counters.inOrder : m_counters.reordered);
    ReleaseInOrder(sink);
    while (m_staged >= kReorderDepth) { // enough later frames: the missing one is lost
        Advance(sink);
        ReleaseInOrder(sink);
    }
    m_counters.waiting.store(m_staged, std::memory_order_relaxed);
}

void RtpReorderer::Expire(int64_t nowMs, OrderedFrameSink &sink)
{
    while (m_staged > 0) {
        int64_t oldest = nowMs;
        for (const Staged &slot : m_stage)
            if (slot.used && slot.frame.arrivalMs < oldest)
                oldest = slot.frame.arrivalMs;
        if (nowMs - oldest < kReorderWaitMs)
            break;
        Advance(sink); // the missing number before the waiting frames
        ReleaseInOrder(sink);
    }
    m_counters.waiting.store(m_staged, std::memory_order_relaxed);
}

int32_t ReadRtpPacket(const uint8_t *data, int32_t length, int64_t arrivalMs, ReceivedFrame &frame)
{
    OrvoRtpHeader header;
    int32_t status = Orvo_RtpParse(data, length, &header);
    if (status != ORVO_RTP_OK)
        return status;
    int16_t type = rtp::ReceivedVoiceType(header.payload_type);
    if (type == 0)
        return ORVO_RTP_ERR_PAYLOAD_TYPE;
    int32_t bytes = rtp::RtpPayloadToFrame(type, data + header.payload_offset,
                                           header.payload_length, frame.payload,
                                           kRtpPayloadMax);
    if (bytes < 0)
        return ORVO_RTP_ERR_LENGTH;
    frame.ssrc = header.ssrc;
    frame.timestamp = header.timestamp;
    frame.arrivalMs = arrivalMs;
    frame.sequence = header.sequence;
    frame.type = type;
    frame.marker = header.marker;
    frame.length = static_cast<uint16_t>(bytes);
    return ORVO_RTP_OK;
}

// ---- FrameSplitter

void FrameSplitter::Emit(const OrderedFrame &from, const uint8_t *payload, int32_t bytes,
                         uint32_t timestamp, OrderedFrameSink &next)
{
    OrderedFrame piece = from;
    piece.payload = payload;
    piece.length = static_cast<uint16_t>(bytes);
    piece.timestamp = timestamp;
    piece.newStream = m_newStreamPending;
    m_newStreamPending = false;
    next.Deliver(piece);
}

void FrameSplitter::Split(const OrderedFrame &frame, OrderedFrameSink &next)
{
    if (frame.newStream || frame.type != m_type) {
        m_carryBytes = 0; // samples of another stream or codec do not continue this one
        m_type = frame.type;
        m_newStreamPending = frame.newStream;
    }
    if (m_carryBytes == 0 && PlayableSamples(frame.type, frame.length) >= 0) {
        Emit(frame, frame.payload, frame.length, frame.timestamp, next);
        return;
    }
    const int32_t frameBytes = SplitFrameBytes(frame.type);
    if (frameBytes == 0)
        return; // not a codec that is cut; the checks at the door let no such payload through
    const uint8_t *rest = frame.payload;
    int32_t left = frame.length;
    uint32_t timestamp = frame.timestamp;
    if (m_carryBytes > 0) {
        int32_t take = std::min(frameBytes - m_carryBytes, left);
        std::memcpy(m_carry + m_carryBytes, rest, static_cast<size_t>(take));
        m_carryBytes += take;
        rest += take;
        left -= take;
        timestamp += static_cast<uint32_t>(rtp::SamplesInPayload(frame.type, take));
        if (m_carryBytes < frameBytes)
            return;
        Emit(frame, m_carry, frameBytes, m_carryTimestamp, next);
        m_carryBytes = 0;
    }
    const uint32_t samplesPerFrame = static_cast<uint32_t>(rtp::SamplesInPayload(frame.type, frameBytes));
    while (left >= frameBytes) {
        Emit(frame, rest, frameBytes, timestamp, next);
        rest += frameBytes;
        left -= frameBytes;
        timestamp += samplesPerFrame;
    }
    if (left > 0) {
        std::memcpy(m_carry, rest, static_cast<size_t>(left));
        m_carryBytes = left;
        m_carryTimestamp = timestamp;
    }
}

// ---- feeder

void FeedRtpFrames(CAudioPlayThread &thread)
{
    RtpReceiveService *service = g_service.load(std::memory_order_acquire);
    if (!service)
        return;
    PlaybackSink playback(thread);
    SplittingSink sink(service->splitter, playback);
    // A packet is taken only while the jitter queue has room for its frames: a burst waits in the
    // ring (in order, its arrival times kept) instead of pushing earlier frames out of the queue.
    while (const ReceivedFrame *frame = service->ring.Head()) {
        if (kPlayQueueSlots - thread.QueuedCount() < FramesNeeded(*frame))
            break;
        service->reorderer.Push(*frame, sink);
        service->ring.Pop();
    }
    service->reorderer.Expire(platform::NowMilliseconds(), sink);
}

void ShutdownRtpReceive()
{
    delete g_service.exchange(nullptr, std::memory_order_acq_rel);
    ClearCounters();
    rtp::ResetPayloadTable();
}

} // namespace orvo::talk

using namespace orvo::talk;

extern "C" {

ORVO_API int32_t Orvo_InputRtpData(const unsigned char *data, int32_t length)
{
    if (!RecordThread())
        return ORVO_RTP_ERR_NOT_RUNNING;
    Count(g_rtpCounters.packetsIn);
    if (!data || length < 0)
        return Refuse(ORVO_RTP_ERR_ARGUMENT);
    RtpReceiveService *service = ReceiveService();
    if (!service)
        return Refuse(ORVO_RTP_ERR_FULL); // no memory for the receive ring
    ReceivedFrame &frame = service->arriving;
    int32_t status = ReadRtpPacket(data, length, orvo::platform::NowMilliseconds(), frame);
    if (status != ORVO_RTP_OK)
        return Refuse(status);
    if (!service->ring.Append(frame))
        return Refuse(ORVO_RTP_ERR_FULL);
    Count(g_rtpCounters.queued);
    return ORVO_RTP_OK;
}

ORVO_API int32_t Orvo_GetRtpStats(OrvoRtpStats *stats)
{
    constexpr uint32_t kLeastSize = 2 * sizeof(uint32_t);
    if (!stats || stats->size < kLeastSize)
        return ORVO_RTP_ERR_ARGUMENT;
    if (!RecordThread())
        return ORVO_RTP_ERR_NOT_RUNNING;
    const RtpCounters &c = g_rtpCounters;
    OrvoRtpStats out{};
    out.size = stats->size < sizeof(OrvoRtpStats) ? stats->size : sizeof(OrvoRtpStats);
    out.packets_in = Load(c.packetsIn);
    out.queued = Load(c.queued);
    out.refused_argument = Load(c.refusedArgument);
    out.refused_short = Load(c.refusedShort);
    out.refused_version = Load(c.refusedVersion);
    out.refused_padding = Load(c.refusedPadding);
    out.refused_payload_type = Load(c.refusedPayloadType);
    out.refused_length = Load(c.refusedLength);
    out.refused_oversize = Load(c.refusedOversize);
    out.refused_full = Load(c.refusedFull);
    out.in_order = Load(c.inOrder);
    out.reordered = Load(c.reordered);
    out.late = Load(c.late);
    out.duplicates = Load(c.duplicates);
    out.dropped_stream = Load(c.droppedStream);
    out.lost = Load(c.lost);
    out.ssrc_changes = Load(c.ssrcChanges);
    out.codec_changes = Load(c.codecChanges);
    out.sequence_restarts = Load(c.sequenceRestarts);
    out.ssrc = Load(c.ssrc);
    out.highest_sequence = Load(c.highestSequence);
    out.voice_type = c.voiceType.load(std::memory_order_relaxed);
    out.waiting = c.waiting.load(std::memory_order_relaxed);
    std::memcpy(stats, &out, out.size);
    return ORVO_RTP_OK;
}

} // extern "C"
