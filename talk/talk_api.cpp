// The exported talk functions: check, then delegate to the capture thread object.
#include <atomic>
#include <mutex>

#include "orvoaudio/talk.h"
#include "platform/wave.h"
#include "talk/record_thread.h"
#include "talk/talk_counters.h"
#include "talk/talk_service.h"

namespace orvo::talk {
namespace {

constexpr int32_t kNotInitialised = -1;
constexpr int32_t kBadArgument = -1;

// Published with release once constructed, so host threads see a complete object.
std::atomic<CRecordThread *> g_pRecordThread{nullptr};
std::mutex g_lifecycle; // Orvo_InitialAudioTalk against itself and the teardown

// Tears the service down when the library is unloaded or the process ends, so no capture thread is
// left running in unmapped code. Where that cannot be done safely (Windows: the loader lock), the
// platform keeps the library loaded instead and the process's end reclaims thread and device.
struct UnloadTeardown {
    ~UnloadTeardown()
    {
        if (orvo::platform::CanStopThreadsAtUnload())
            ShutdownTalkService();
    }
} g_unloadTeardown;

} // namespace

CRecordThread *RecordThread() { return g_pRecordThread.load(std::memory_order_acquire); }

void ShutdownTalkService()
{
    std::lock_guard<std::mutex> lock(g_lifecycle);
    ShutdownPlayService(); // it reads the incoming ring: gone first
    CRecordThread *thread = g_pRecordThread.exchange(nullptr, std::memory_order_acq_rel);
    delete thread; // stops the loop, closes the device, frees blocks and rings
    orvo::platform::ReleaseWaveDeviceCaches(); // every device is closed now
}

} // namespace orvo::talk

using orvo::talk::CRecordThread;
using orvo::talk::RecordThread;

extern "C" {

ORVO_API int32_t Orvo_InitialAudioTalk(void)
{
    try {
        std::lock_guard<std::mutex> lock(orvo::talk::g_lifecycle);
        if (RecordThread())
            return 0;
        orvo::platform::CWinThread *thread =
            orvo::platform::AfxBeginThread(ORVO_RUNTIME_CLASS(CRecordThread));
        orvo::talk::g_pRecordThread.store(static_cast<CRecordThread *>(thread),
                                          std::memory_order_release);
    } catch (...) {
        // Out of memory while constructing: the service stays uninitialised, as when the
        // platform cannot create the thread; a later call tries again.
    }
    return 0;
}

ORVO_API int32_t Orvo_OpenTalk(void)
{
    CRecordThread *thread = RecordThread();
    if (!thread)
        return orvo::talk::kNotInitialised;
    thread->StartTalk();
    return 0;
}

ORVO_API int32_t Orvo_CloseTalk(void)
{
    CRecordThread *thread = RecordThread();
    if (!thread)
        return orvo::talk::kNotInitialised;
    thread->StopTalk();
    return 0;
}

ORVO_API int32_t Orvo_GetAudioTalkData(unsigned char *buffer)
{
    CRecordThread *thread = RecordThread();
    if (!thread || thread->TalkFlag() != 1 || !buffer)
        return 0;
    int32_t length = 0;
    if (!thread->Outgoing().Take(buffer, orvo::talk::kOutgoingSlotCapacity, &length))
        return 0;
    return length;
}

ORVO_API int32_t Orvo_InputTalkData(const unsigned char *data, int32_t length)
{
    CRecordThread *thread = RecordThread();
    if (!thread || thread->TalkFlag() != 1)
        return 0;
    if (!data || length < 0 || length > orvo::talk::kIncomingSlotCapacity) {
        if (data)
            orvo::talk::CountRefusedPacket(); // a packet that can never be played
        return orvo::talk::kBadArgument;
    }
    if (orvo::talk::RefuseUnplayablePacket(data, length))
        return 0; // counted; checked before it is stored, so it takes no slot
    if (!thread->Incoming().Append(data, length)) // a full ring drops the packet
        orvo::talk::CountIncomingDropped();
    return 0;
}

ORVO_API int32_t Orvo_SelectAudioDevice(int32_t direction, const char *name)
{
    using orvo::platform::WaveDirection;
    if (direction != ORVO_AUDIO_CAPTURE && direction != ORVO_AUDIO_PLAYBACK)
        return orvo::talk::kBadArgument;
    WaveDirection which =
        direction == ORVO_AUDIO_CAPTURE ? WaveDirection::Capture : WaveDirection::Playback;
    try {
        return orvo::platform::SelectWaveDevice(which, name) ? 0 : orvo::talk::kBadArgument;
    } catch (...) { // out of memory for the name
        return orvo::talk::kBadArgument;
    }
}

ORVO_API int32_t Orvo_IsAudioDeviceOpen(int32_t direction)
{
    CRecordThread *thread = RecordThread();
    if (!thread || (direction != ORVO_AUDIO_CAPTURE && direction != ORVO_AUDIO_PLAYBACK))
        return orvo::talk::kNotInitialised;
    bool open = direction == ORVO_AUDIO_CAPTURE ? thread->IsCapturing()
                                                : orvo::talk::PlaybackDeviceOpen();
    return open ? 1 : 0;
}

} // extern "C"

// The leftovers: no data, no effect.
COrvoPlayTalk::COrvoPlayTalk() = default;
COrvoPlayTalk &COrvoPlayTalk::operator=(const COrvoPlayTalk &) { return *this; }
int fnOrvoPlay()
{
    constexpr int kAnswer = 42;
    return kAnswer;
}
int nOrvoPlay = 0;
