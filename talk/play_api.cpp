// The receive path: the exported playback functions, and the producer that moves packets from the
// incoming ring into the playback thread's jitter queue.
//
// The producer runs as the playback thread's pass hook, so the jitter queue is filled and emptied
// by one thread and needs no lock; the incoming ring keeps its single writer (Orvo_InputTalkData)
// and gets its single reader here.
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "orvoaudio/talk.h"
#include "talk/audio_play_thread.h"
#include "talk/record_thread.h"
#include "talk/talk_counters.h"
#include "talk/talk_service.h"

namespace orvo::talk {
namespace {

constexpr int32_t kNotRunning = -1;
constexpr int32_t kMarkerOffset = kTalkHeaderBytes;           // VoiceFrameHeader::marker
constexpr int32_t kReservedOffset = kFrameLengthOffset + 1;    // high byte of the word count
constexpr int32_t kPayloadOffset = kTalkHeaderBytes + kVoiceFrameHeaderBytes;
constexpr uint16_t kMarkerKindMask = 0x0300;
constexpr uint16_t kMarkerKindFrame = 0x0100;
// Mu-law frames the decoder takes (multiples of 80 samples) that also fit one 320-sample block.
constexpr uint32_t kFrameSampleStep = 80;
constexpr uint32_t kMaxFrameSamples = 320;
constexpr int kBitsPerByte = 8;

TalkCounters g_counters;

// The payload length of a packet that can be played, or -1.
int32_t PlayablePayloadLength(const uint8_t *packet, int32_t length)
{
    if (length < kPayloadOffset)
        return -1;
    if (packet[0] != kTalkHeaderByte0 || packet[1] != kTalkHeaderByte1)
        return -1;
    uint16_t marker = static_cast<uint16_t>(packet[kMarkerOffset] |
                                            packet[kMarkerOffset + 1] << kBitsPerByte);
    if ((marker & kMarkerKindMask) != kMarkerKindFrame)
        return -1;
    uint32_t words = packet[kFrameLengthOffset] |
                     static_cast<uint32_t>(packet[kReservedOffset]) << kBitsPerByte;
    uint32_t samples = 2 * words; // one mu-law code per sample
    if (samples == 0 || samples % kFrameSampleStep != 0 || samples > kMaxFrameSamples)
        return -1;
    if (static_cast<uint32_t>(length) != kPayloadOffset + samples)
        return -1; // cut short, or followed by bytes that belong to no frame
    return static_cast<int32_t>(samples);
}

// Takes the packets out of the incoming ring at the start of every playback pass, checks them and
// queues them with consecutive sequence numbers.
class IncomingFeeder final : public PlayPassHook {
public:
    explicit IncomingFeeder(TalkRing *incoming) : m_incoming(incoming) {}

    void SetTaking(bool taking) { m_taking.store(taking, std::memory_order_release); }

    void OnPass(CAudioPlayThread &thread) override
    {
        if (!m_taking.load(std::memory_order_acquire))
            return;
        int32_t length = 0;
        while (m_incoming->Take(m_packet, kIncomingSlotCapacity, &length)) {
            g_counters.packetsReceived.fetch_add(1, std::memory_order_relaxed);
            int32_t payload = PlayablePayloadLength(m_packet, length);
            if (payload < 0) {
                g_counters.packetsRejected.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            if (thread.QueuedCount() >= kPlayQueueSlots) {
                thread.DropOldestFrame(); // the newest speech matters more than the oldest
                g_counters.framesDroppedOverflow.fetch_add(1, std::memory_order_relaxed);
            }
            thread.QueueFrame(m_nextSequence++, m_packet + kPayloadOffset,
                              static_cast<uint16_t>(payload));
        }
        // The queue holds consecutive numbers and the head is always the one expected, so the
        // sequence gate never holds the stream back.
        if (thread.QueuedCount() > 0)
            thread.SetExpectedSequence(thread.HeadSequence());
    }

private:
    TalkRing *m_incoming;
    std::atomic<bool> m_taking{false};
    uint32_t m_nextSequence = 0;
    uint8_t m_packet[kIncomingSlotCapacity] = {};
};

struct PlayService {
    CAudioPlayThread *thread = nullptr;
    IncomingFeeder *feeder = nullptr;
};

// Start, stop and teardown against each other; the stats read the published pointer.
std::mutex g_playLifecycle;
PlayService g_play; // under g_playLifecycle
std::atomic<CAudioPlayThread *> g_playThread{nullptr};
std::atomic<bool> g_playTaking{false}; // the feeder takes packets: Orvo_InputTalkData checks them

void ResetCounters()
{
    g_counters.packetsCaptured.store(0, std::memory_order_relaxed);
    g_counters.packetsDroppedOut.store(0, std::memory_order_relaxed);
    g_counters.packetsDroppedIn.store(0, std::memory_order_relaxed);
    g_counters.packetsReceived.store(0, std::memory_order_relaxed);
    g_counters.packetsRejected.store(0, std::memory_order_relaxed);
    g_counters.framesDroppedOverflow.store(0, std::memory_order_relaxed);
}

// Creates the playback thread (suspended), and lets it run once its device is open and the feeder
// is attached. False, nothing kept, when either fails.
bool CreatePlayService(CRecordThread *recordThread)
{
    platform::CWinThread *created = platform::AfxBeginThread(
        ORVO_RUNTIME_CLASS(CAudioPlayThread), platform::THREAD_PRIORITY_NORMAL, 0,
        platform::CREATE_SUSPENDED);
    auto *thread = static_cast<CAudioPlayThread *>(created);
    if (!thread)
        return false;
    if (thread->DeviceOpenResult() != platform::MMSYSERR_NOERROR || !thread->HasPlaybackBlocks()) {
        delete thread;
        return false;
    }
    auto *feeder = new (std::nothrow) IncomingFeeder(&recordThread->Incoming());
    if (!feeder) {
        delete thread;
        return false;
    }
    thread->SetPassHook(feeder);
    thread->SetOpened(true);
    thread->ResumeThread();
    g_play.thread = thread;
    g_play.feeder = feeder;
    g_playThread.store(thread, std::memory_order_release);
    return true;
}

} // namespace

TalkCounters &Counters() { return g_counters; }

bool PlaybackDeviceOpen() { return g_playThread.load(std::memory_order_acquire) != nullptr; }

bool RefuseUnplayablePacket(const uint8_t *packet, int32_t length)
{
    if (!g_playTaking.load(std::memory_order_acquire) || PlayablePayloadLength(packet, length) >= 0)
        return false;
    CountRefusedPacket();
    return true;
}

void ShutdownPlayService()
{
    std::lock_guard<std::mutex> lock(g_playLifecycle);
    g_playTaking.store(false, std::memory_order_release);
    g_playThread.store(nullptr, std::memory_order_release);
    delete g_play.thread; // stops the loop (and with it the feeder), closes the device
    delete g_play.feeder;
    g_play = PlayService{};
    ResetCounters();
}

} // namespace orvo::talk

extern "C" {

ORVO_API int32_t Orvo_StartAudioPlay(void)
{
    using namespace orvo::talk;
    try {
        std::lock_guard<std::mutex> lock(g_playLifecycle);
        CRecordThread *recordThread = RecordThread();
        if (!recordThread)
            return kNotRunning;
        if (!g_play.thread && !CreatePlayService(recordThread))
            return kNotRunning;
        g_play.feeder->SetTaking(true);
        g_playTaking.store(true, std::memory_order_release);
        g_play.thread->SetPlayState(1);
        return 0;
    } catch (...) { // out of memory constructing the thread object: nothing kept
        return kNotRunning;
    }
}

ORVO_API int32_t Orvo_StopAudioPlay(void)
{
    using namespace orvo::talk;
    try {
        std::lock_guard<std::mutex> lock(g_playLifecycle);
        if (!RecordThread())
            return kNotRunning;
        if (g_play.thread) {
            g_play.thread->SetPlayState(0);
            g_play.feeder->SetTaking(false);
            g_playTaking.store(false, std::memory_order_release);
        }
        return 0;
    } catch (...) { // the lock could not be taken
        return kNotRunning;
    }
}

ORVO_API int32_t Orvo_GetAudioTalkStats(OrvoTalkStats *stats)
{
    using namespace orvo::talk;
    if (!stats || !RecordThread())
        return kNotRunning;
    CAudioPlayThread *thread = g_playThread.load(std::memory_order_acquire);
    OrvoTalkStats out{};
    out.packets_captured = g_counters.packetsCaptured.load(std::memory_order_relaxed);
    out.packets_dropped_out = g_counters.packetsDroppedOut.load(std::memory_order_relaxed);
    out.packets_received = g_counters.packetsReceived.load(std::memory_order_relaxed);
    out.packets_rejected = g_counters.packetsRejected.load(std::memory_order_relaxed);
    out.frames_played = thread ? thread->FramesConsumed() : 0;
    out.frames_repeated = thread ? thread->FramesRepeated() : 0;
    out.frames_dropped_overflow = g_counters.framesDroppedOverflow.load(std::memory_order_relaxed);
    out.queue_depth = thread ? thread->QueuedCount() : 0;
    out.packets_dropped_in = g_counters.packetsDroppedIn.load(std::memory_order_relaxed);
    std::memcpy(stats, &out, sizeof(out));
    return 0;
}

} // extern "C"
