#include "talk/audio_play_thread.h"

#include "talk/adaptive_playout.h"
#include "talk/stretch_playout.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orvo::talk {

using namespace orvo::platform;

ORVO_IMPLEMENT_DYNCREATE(CAudioPlayThread, CWinThread)

namespace {

constexpr uint32_t kHeaderSize = sizeof(WAVEHDR);
constexpr size_t kFrameHeaderBytes = 4; // VoiceFrameHeader: marker (2), length, reserved
constexpr uint8_t kMarkerLowByte = 0x00; // marker 0x0100: a frame of kind 1
constexpr uint8_t kMarkerHighByte = 0x01;
constexpr uint8_t kByteMask = 0xFF;
constexpr int kBitsPerByte = 8;

} // namespace

CAudioPlayThread::CAudioPlayThread()
{
    HI_VOICE_DecReset(&m_decoder, VOICE_G711_U);
    m_stretch = std::make_unique<StretchPlayout>();
    m_adaptiveCounters = std::make_unique<PlayoutCounters>();
    m_adaptive = std::make_unique<AdaptivePlayout>(&m_decoder, m_adaptiveCounters.get());
    m_policy = m_stretch.get();
    m_deviceLimit.store(m_policy->DeviceBlockLimit() * kPlayFrameSamples,
                        std::memory_order_relaxed);

    m_pPlayBlocks = new (std::nothrow) WAVEHDR[kPlayBlockCount];
    if (m_pPlayBlocks) {
        for (int32_t i = 0; i < kPlayBlockCount; ++i) {
            WAVEHDR &block = m_pPlayBlocks[i];
            ClearWaveHeader(&block);
            block.lpData = new (std::nothrow) char[kPlayBlockBytes];
            block.dwBufferLength = block.lpData ? kPlayBlockBytes : 0;
            block.dwUser = reinterpret_cast<uintptr_t>(this);
        }
    }

    m_waveFormat = TalkPcmFormat();
    m_openResult = waveOutOpen(&m_hWaveOut, WAVE_MAPPER, &m_waveFormat, 0, 0, CALLBACK_NULL);
    waveOutPause(m_hWaveOut); // nothing starts while the blocks are set up
    if (m_pPlayBlocks) {
        for (int32_t i = 0; i < kPlayBlockCount; ++i) {
            WAVEHDR &block = m_pPlayBlocks[i];
            if (block.lpData)
                waveOutPrepareHeader(m_hWaveOut, &block, kHeaderSize);
            // Free for the loop; a block without a buffer stays busy, so nothing is written to it.
            if (block.lpData)
                block.dwFlags.fetch_or(WHDR_DONE, std::memory_order_release);
        }
    }
    waveOutRestart(m_hWaveOut);
}

CAudioPlayThread::~CAudioPlayThread()
{
    StopAndWait(); // the loop must be gone before its blocks and device are
    ReleaseDevice();
}

bool CAudioPlayThread::InitInstance() { return true; }

int CAudioPlayThread::Run()
{
    PlayLoop();
    return ExitInstance();
}

int CAudioPlayThread::ExitInstance() { return CWinThread::ExitInstance(); }

void CAudioPlayThread::SetPlayState(int32_t state)
{
    if (state == 1)
        m_nRepeatCounter.store(kPlayRepeatInterval, std::memory_order_relaxed);
    m_nPlayState.store(state, std::memory_order_release);
}

bool CAudioPlayThread::QueueFrame(uint32_t sequence, const uint8_t *payload, uint16_t length,
                                  int16_t type, bool resetDecoder, int64_t arrivalMs)
{
    return QueueSlot(sequence, false, 0, arrivalMs, payload, length, type, resetDecoder);
}

bool CAudioPlayThread::QueueSlot(uint32_t sequence, bool timed, uint32_t timestamp,
                                 int64_t arrivalMs, const uint8_t *payload, uint16_t length,
                                 int16_t type, bool resetDecoder)
{
    if (!payload && length > 0)
        return false;
    if (m_nQueued.load(std::memory_order_acquire) >= kPlayQueueSlots)
        return false; // the slot at the write index still waits to be played
    PlayFrameSlot &slot = m_frames[m_nWriteIndex];
    uint16_t kept = static_cast<uint16_t>(std::min<int32_t>(length, kPlayPayloadBytes));
    slot.sequence = sequence;
    slot.length = kept;
    slot.timed = timed;
    slot.timestamp = timestamp;
    slot.arrivalMs = arrivalMs;
    slot.type = type;
    slot.resetDecoder = resetDecoder;
    if (kept > 0)
        std::memcpy(slot.payload, payload, kept);
    m_nWriteIndex = (m_nWriteIndex + 1) % kPlayQueueSlots;
    m_nQueued.fetch_add(1, std::memory_order_acq_rel); // publishes the slot
    return true;
}

bool CAudioPlayThread::TakeFrame(PlayFrameSlot *out)
{
    if (m_nQueued.load(std::memory_order_acquire) <= 0)
        return false;
    const PlayFrameSlot &head = m_frames[m_nReadIndex];
    out->sequence = head.sequence;
    out->length = std::min<uint16_t>(head.length, kPlayPayloadBytes);
    out->timed = head.timed;
    out->timestamp = head.timestamp;
    out->arrivalMs = head.arrivalMs;
    out->type = head.type;
    out->resetDecoder = head.resetDecoder;
    std::memcpy(out->payload, head.payload, out->length);
    m_nReadIndex = (m_nReadIndex + 1) % kPlayQueueSlots;
    m_nQueued.fetch_sub(1, std::memory_order_acq_rel); // hands the slot back to the producer
    m_framesConsumed.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool CAudioPlayThread::DropOldestFrame()
{
    if (m_nQueued.load(std::memory_order_acquire) <= 0)
        return false;
    m_nReadIndex = (m_nReadIndex + 1) % kPlayQueueSlots;
    m_nQueued.fetch_sub(1, std::memory_order_acq_rel); // hands the slot back to the producer
    return true;
}

void CAudioPlayThread::StagePayload(const uint8_t *payload, uint16_t length)
{
    std::memcpy(m_stagedFrame + kFrameHeaderBytes, payload, std::min<uint16_t>(length, kPlayPayloadBytes));
}

int32_t CAudioPlayThread::DecodeStaged(uint16_t length, int16_t *samples, int32_t capacity,
                                       VoiceCodecState *decoder)
{
    uint32_t words = std::min<uint16_t>(length, kPlayPayloadBytes) / 2u;
    m_stagedFrame[0] = kMarkerLowByte;
    m_stagedFrame[1] = kMarkerHighByte;
    m_stagedFrame[2] = static_cast<uint8_t>(words & kByteMask);
    m_stagedFrame[3] = static_cast<uint8_t>((words >> kBitsPerByte) & kByteMask);
    // The decoder never yields more than HI_VOICE_MAX_SAMPLES samples, whatever the length.
    int16_t decoded[HI_VOICE_MAX_SAMPLES];
    int16_t sampleCount = 0;
    HI_VOICE_DecodeFrame(decoder ? decoder : &m_decoder, m_stagedFrame, decoded,
                         &sampleCount); // rejected: 0 samples
    int32_t kept = std::clamp<int32_t>(sampleCount, 0, capacity);
    std::memcpy(samples, decoded, static_cast<size_t>(kept) * sizeof(int16_t));
    return kept;
}

int32_t CAudioPlayThread::QueuedBlockSamples() const
{
    int32_t samples = 0;
    for (int32_t i = 0; i < kPlayBlockCount; ++i) {
        if (!IsWaveHeaderDone(&m_pPlayBlocks[i]))
            samples += static_cast<int32_t>(m_pPlayBlocks[i].dwBufferLength / sizeof(int16_t));
    }
    return samples;
}

bool CAudioPlayThread::BlockFree(int32_t limit) const
{
    if (!IsWaveHeaderDone(&m_pPlayBlocks[m_nPlayBlock]))
        return false;
    if (limit >= kPlayBlockCount)
        return true; // blocks finish in the order written: the next one free leaves room
    int32_t queued = 0;
    for (int32_t i = 0; i < kPlayBlockCount; ++i)
        queued += IsWaveHeaderDone(&m_pPlayBlocks[i]) ? 0 : 1;
    return queued < limit;
}

void CAudioPlayThread::ApplyRequestedMode()
{
    int32_t requested = m_requestedMode.load(std::memory_order_acquire);
    if (requested == m_activeMode.load(std::memory_order_relaxed))
        return;
    PlayoutPolicy *next = requested == kPlayoutAdaptive ? static_cast<PlayoutPolicy *>(m_adaptive.get())
                                                        : static_cast<PlayoutPolicy *>(m_stretch.get());
    m_policy->OnSelected(*this, false);
    next->OnSelected(*this, true);
    m_policy = next;
    m_deviceLimit.store(next->DeviceBlockLimit() * kPlayFrameSamples,
                        std::memory_order_relaxed);
    m_activeMode.store(requested, std::memory_order_release);
}

void CAudioPlayThread::PlayLoop()
{
    int16_t samples[HI_VOICE_MAX_SAMPLES] = {};

    while (!IsStopRequested()) {
        if (PlayPassHook *hook = m_passHook.load(std::memory_order_acquire))
            hook->OnPass(*this);
        ApplyRequestedMode();
        PlayoutPolicy &policy = *m_policy;

        const bool playing = m_nPlayState.load(std::memory_order_acquire) == 1 &&
                             m_bOpened.load(std::memory_order_acquire) && m_pPlayBlocks;
        if (playing)
            policy.Poll(*this);
        if (!playing || !BlockFree(policy.DeviceBlockLimit())) {
            Sleep(policy.IdleSleepMs());
            continue;
        }

        int32_t sampleCount = 0;
        const int32_t deviceQueued = QueuedBlockSamples();
        const PlayoutPolicy::PassResult result =
            policy.Pass(*this, deviceQueued, samples, kPlayBlockBytes / 2, &sampleCount);
        if (result != PlayoutPolicy::PassResult::Block) {
            Sleep(policy.IdleSleepMs());
            continue;
        }
        WriteBlock(samples, 2 * sampleCount);
        m_deviceQueued.store(QueuedBlockSamples(), std::memory_order_relaxed);
    }
}

void CAudioPlayThread::WriteBlock(const int16_t *samples, int32_t byteCount)
{
    if (!m_pPlayBlocks)
        return;
    WAVEHDR *block = &m_pPlayBlocks[m_nPlayBlock];
    if (!IsWaveHeaderDone(block))
        return; // the samples are dropped
    // Never more than the block holds.
    uint32_t bytes = static_cast<uint32_t>(std::clamp<int32_t>(byteCount, 0, kPlayBlockBytes));
    if (!samples)
        bytes = 0;
    if (bytes > 0)
        std::memcpy(block->lpData, samples, bytes);
    block->dwBufferLength = bytes;
    waveOutWrite(m_hWaveOut, block, kHeaderSize);
    m_nPlayBlock = (m_nPlayBlock + 1) % kPlayBlockCount;
}

void CAudioPlayThread::ReleaseBlock(int32_t index)
{
    WAVEHDR &block = m_pPlayBlocks[index];
    delete[] block.lpData;
    block.lpData = nullptr;
}

void CAudioPlayThread::ClosePlayback()
{
    if (!m_bOpened.load(std::memory_order_acquire))
        return;
    Sleep(kPlayCloseDrainMs);
    if (!m_hWaveOut)
        return;
    waveOutReset(m_hWaveOut); // returns every queued block
    Sleep(kPlayResetSettleMs);

    bool allReleased = true;
    if (m_pPlayBlocks) {
        for (int32_t i = 0; i < kPlayBlockCount; ++i) {
            WAVEHDR &block = m_pPlayBlocks[i];
            if (!block.lpData)
                continue;
            waveOutPrepareHeader(m_hWaveOut, &block, kHeaderSize);
            m_lastResult = waveOutUnprepareHeader(m_hWaveOut, &block, kHeaderSize);
            if (m_lastResult != MMSYSERR_NOERROR) {
                allReleased = false; // the device may still hold it: keep its buffer
                continue;
            }
            ReleaseBlock(i);
        }
        // A header the device still holds must outlive it.
        if (allReleased) {
            delete[] m_pPlayBlocks;
            m_pPlayBlocks = nullptr;
        }
    }
    if (m_hWaveOut && allReleased && m_lastResult == MMSYSERR_NOERROR) {
        waveOutClose(m_hWaveOut);
        m_hWaveOut = nullptr;
    }
}

void CAudioPlayThread::ReleaseDevice()
{
    if (m_hWaveOut)
        waveOutReset(m_hWaveOut);
    if (m_pPlayBlocks) {
        for (int32_t i = 0; i < kPlayBlockCount; ++i) {
            if (m_hWaveOut && m_pPlayBlocks[i].lpData)
                waveOutUnprepareHeader(m_hWaveOut, &m_pPlayBlocks[i], kHeaderSize);
            ReleaseBlock(i);
        }
        delete[] m_pPlayBlocks;
        m_pPlayBlocks = nullptr;
    }
    if (m_hWaveOut)
        waveOutClose(m_hWaveOut);
    m_hWaveOut = nullptr;
}

} // namespace orvo::talk
