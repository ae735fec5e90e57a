// CRecordThread: the capture thread of the talk service. It owns the capture device, takes the
// captured audio in 20 ms blocks, encodes each as one G.711 mu-law frame and appends it as a
// TalkPacket to the outgoing ring; it also holds the incoming ring that the host fills.
#ifndef ORVO_TALK_RECORD_THREAD_H
#define ORVO_TALK_RECORD_THREAD_H

#include <atomic>
#include <cstdint>

#include "orvoaudio/voice.h"
#include "platform/thread.h"
#include "platform/wave.h"
#include "talk/talk_ring.h"

namespace orvo::talk {

constexpr int32_t kCaptureBlockCount = 10;
constexpr uint32_t kCaptureBlockBytes = 320; // 160 samples, 20 ms
constexpr uint32_t kTalkOffSleepMs = 20;     // a pass with talk off (or without a device)
constexpr uint32_t kBlockWaitSleepMs = 5;    // the next block is not done yet
constexpr uint32_t kAfterBlockSleepMs = 10;  // after each packet
constexpr int64_t kDeviceRetryIntervalMs = 2000; // reopening a missing capture device
constexpr size_t kLoopBufferBytes = 3840;    // the loop's PCM and packet buffers

class CRecordThread : public platform::CWinThread {
    ORVO_DECLARE_DYNCREATE(CRecordThread)

public:
    CRecordThread();
    // Stops the thread, resets and closes the device, frees the blocks and the rings.
    ~CRecordThread() override;

    bool InitInstance() override;
    int Run() override;
    int ExitInstance() override;

    void OpenWaveIn();
    void StartTalk() { m_nTalkFlag.store(1, std::memory_order_release); }
    void StopTalk() { m_nTalkFlag.store(0, std::memory_order_release); }
    int32_t TalkFlag() const { return m_nTalkFlag.load(std::memory_order_acquire); }
    platform::MMRESULT AddBuffer(platform::HWAVEIN device, platform::WAVEHDR *header,
                                 uint32_t headerSize);
    void Lock() { m_cs.Lock(); }
    void Unlock() { m_cs.Unlock(); }
    // Runs until a stop is requested (the service's teardown).
    void RecordLoop();
    void FreeRings();

    TalkRing &Outgoing() { return m_outgoing; }
    TalkRing &Incoming() { return m_incoming; }
    // For tests and diagnostics: read while the thread is at rest.
    platform::MMRESULT LastDeviceResult() const { return m_lastResult; }
    bool HasCaptureBlocks() const { return m_pCaptureBlocks != nullptr; }
    // Whether the capture device is open and capturing into its blocks (any thread).
    bool IsCapturing() const { return m_capturing.load(std::memory_order_acquire); }
    int32_t CaptureBlockIndex() const { return m_nCaptureBlock; }

private:
    void AllocateCaptureBlocks();
    void RetryOpenWaveIn();
    void RecycleFinishedBlocks();
    void CloseWaveIn();
    void EncodeBlock(const platform::WAVEHDR &block, int16_t *pcm, uint8_t *packet);

    TalkRing m_outgoing; // write index advanced by the loop, read index by Orvo_GetAudioTalkData
    TalkRing m_incoming; // write index advanced by Orvo_InputTalkData, read index by its consumer
    int32_t m_nCaptureBlock = 0;
    std::atomic<int32_t> m_nTalkFlag{0};
    platform::HWAVEIN m_hWaveIn = nullptr;
    platform::WAVEFORMATEX m_waveFormat{};
    platform::WAVEHDR *m_pCaptureBlocks = nullptr;
    platform::MMRESULT m_lastResult = platform::MMSYSERR_NOERROR;
    platform::CCriticalSection m_cs;
    VoiceCodecState m_encoder{};
    int64_t m_lastOpenAttempt = 0; // platform clock, for the retry every 2 s
    std::atomic<bool> m_capturing{false}; // m_pCaptureBlocks set, for other threads to see
};

} // namespace orvo::talk

#endif // ORVO_TALK_RECORD_THREAD_H
