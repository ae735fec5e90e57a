// The RTP receive path into the playback. Orvo_InputRtpData (host thread) checks each packet,
// converts its payload to the codec's frame layout and puts it into a receive ring; at the start of
// every playback pass the feeder takes the packets out of the ring, orders them by sequence number
// (RtpReorderer) and hands them to the jitter queue in that order (HandOverToPlayback).
#ifndef ORVO_TALK_RTP_RECEIVE_H
#define ORVO_TALK_RTP_RECEIVE_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "talk/rtp/rtp_format.h"

namespace orvo::talk {

class CAudioPlayThread;

constexpr int32_t kRtpPayloadMax = rtp::kMaxReceivedPayload; // 256 ms of G.711
constexpr int32_t kSplitFrameSamples = 160;   // long payloads are played in 20 ms frames
constexpr int32_t kIngressSlots = 64;         // receive ring: holds 63 packets
constexpr int32_t kReorderDepth = 4;          // ORVO_RTP_REORDER_DEPTH
constexpr int64_t kReorderWaitMs = 60;        // ORVO_RTP_REORDER_WAIT_MS
constexpr int32_t kStageSlots = 16;           // a window of this many numbers ahead is kept
constexpr int32_t kMaxDropout = 3000;         // RFC 3550: a forward jump this large is suspect
constexpr int32_t kMaxMisorder = 100;         // RFC 3550: this far behind is another numbering
constexpr int32_t kHistoryBits = 64;          // numbers behind the next one remembered as played

// One checked packet, as the ring carries it: header fields and the payload in frame layout.
struct ReceivedFrame {
    uint32_t ssrc = 0;
    uint32_t timestamp = 0;
    int64_t arrivalMs = 0; // platform clock when Orvo_InputRtpData took it
    uint16_t sequence = 0;
    int16_t type = 0; // codec (VOICE_*)
    uint8_t marker = 0;
    uint16_t length = 0; // payload bytes
    uint8_t payload[kRtpPayloadMax] = {};

    int32_t WireBytes() const { return static_cast<int32_t>(offsetof(ReceivedFrame, payload)) + length; }
};

// A packet's payload handed over in sequence order, or (after FrameSplitter) one frame of it: what
// the playback, and a playout policy, needs.
struct OrderedFrame {
    uint32_t sequence;  // extended: cycles of the 16-bit number in the high half
    uint32_t timestamp;
    int64_t arrivalMs;
    int16_t type;
    bool newStream;     // first frame of a stream: the decoder starts afresh
    const uint8_t *payload;
    uint16_t length;
};

// Receive counters, shown by Orvo_GetRtpStats. Relaxed: plain tallies.
struct RtpCounters {
    std::atomic<uint32_t> packetsIn{0}, queued{0};
    std::atomic<uint32_t> refusedArgument{0}, refusedShort{0}, refusedVersion{0}, refusedPadding{0},
        refusedPayloadType{0}, refusedLength{0}, refusedOversize{0}, refusedFull{0};
    std::atomic<uint32_t> inOrder{0}, reordered{0}, late{0}, duplicates{0}, droppedStream{0},
        lost{0}, ssrcChanges{0}, codecChanges{0}, sequenceRestarts{0};
    std::atomic<uint32_t> ssrc{0}, highestSequence{0};
    std::atomic<int32_t> voiceType{0}, waiting{0};
};
RtpCounters &RtpReceiveCounters();

// Where ordered frames go (the playback's jitter queue, or a test). The payload is valid only
// during the call.
class OrderedFrameSink {
public:
    virtual ~OrderedFrameSink() = default;
    virtual void Deliver(const OrderedFrame &frame) = 0;
};

// Orders the frames of one stream by sequence number, RFC 3550 style: sequence wrap (extended
// numbers), duplicates, late arrivals, a window of kStageSlots numbers for early ones, gaps given
// up after kReorderDepth later frames or kReorderWaitMs, a new SSRC as a new stream, and a large
// jump of the numbering followed once two packets agree on it. Used on one thread only.
class RtpReorderer {
public:
    explicit RtpReorderer(RtpCounters &counters) : m_counters(counters) {}

    void Push(const ReceivedFrame &frame, OrderedFrameSink &sink);
    // Gives up the gaps that frames have waited behind for kReorderWaitMs by `nowMs`.
    void Expire(int64_t nowMs, OrderedFrameSink &sink);
    void Reset();
    int32_t Waiting() const { return m_staged; }

private:
    struct Staged {
        bool used = false;
        uint32_t sequence = 0;
        ReceivedFrame frame;
    };

    void StartStream(const ReceivedFrame &frame);
    // Moves on by one number: hands the staged frame over if there is one, else counts it lost.
    void Advance(OrderedFrameSink &sink);
    void ReleaseInOrder(OrderedFrameSink &sink);
    void Deliver(const ReceivedFrame &frame, uint32_t sequence, OrderedFrameSink &sink);
    void FlushAll(OrderedFrameSink &sink);

    RtpCounters &m_counters;
    bool m_haveStream = false;
    bool m_newStream = false;
    uint32_t m_ssrc = 0;
    uint32_t m_next = 0;     // extended number handed over next
    uint64_t m_history = 0;  // bit i: number m_next - 1 - i was handed over
    bool m_probation = false;
    uint16_t m_probationSequence = 0;
    int16_t m_lastType = 0;
    int32_t m_staged = 0;
    Staged m_stage[kStageSlots];
};

// The checks of Orvo_InputRtpData: parses `length` bytes, maps the payload type to a codec and
// converts the payload to the frame layout in `frame` (arrival time `arrivalMs`). ORVO_RTP_OK or
// the refusal (ORVO_RTP_ERR_*); reads nothing beyond `length` bytes.
int32_t ReadRtpPacket(const uint8_t *data, int32_t length, int64_t arrivalMs, ReceivedFrame &frame);

// Cuts the payloads that are not one playable frame (G.711 and G.726 in packets longer than 40 ms
// or of odd sizes, as ffmpeg and some cameras send them) into 20 ms frames; what is left over
// waits for the next payload of the stream, which it joins (both codecs code a continuous stream
// of samples). Playable payloads pass unchanged while nothing is left over. A new stream or a
// codec change drops what was left over. Each frame keeps its packet's sequence number; its
// timestamp is its first sample's. Used on one thread only.
class FrameSplitter {
public:
    void Split(const OrderedFrame &frame, OrderedFrameSink &next);
    void Reset() { m_carryBytes = 0; }
    int32_t CarriedBytes() const { return m_carryBytes; }

private:
    void Emit(const OrderedFrame &from, const uint8_t *payload, int32_t bytes, uint32_t timestamp,
              OrderedFrameSink &next);

    int16_t m_type = 0;
    bool m_newStreamPending = false;
    int32_t m_carryBytes = 0;
    uint32_t m_carryTimestamp = 0;
    uint8_t m_carry[kSplitFrameSamples] = {}; // one frame at most: 160 bytes of G.711 is the most
};

// Ordered payloads through a splitter into the next sink.
class SplittingSink final : public OrderedFrameSink {
public:
    SplittingSink(FrameSplitter &splitter, OrderedFrameSink &next) : m_splitter(splitter), m_next(next) {}
    void Deliver(const OrderedFrame &frame) override { m_splitter.Split(frame, m_next); }

private:
    FrameSplitter &m_splitter;
    OrderedFrameSink &m_next;
};

// The feeder side, on the playback thread: takes the received packets out of the ring, orders
// them and hands them over. Does nothing before the first Orvo_InputRtpData.
void FeedRtpFrames(CAudioPlayThread &thread);
// Frees the receive ring and the ordering state and clears the counters (the teardown).
void ShutdownRtpReceive();

} // namespace orvo::talk

#endif // ORVO_TALK_RTP_RECEIVE_H
