#include "talk/audio_play_thread.h"

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
    slot.type = type;
    slot.resetDecoder = resetDecoder;
    if (kept > 0)
        std::memcpy(slot.payload, payload, kept);
    m_nWriteIndex = (m_nWriteIndex + 1) % kPlayQueueSlots;
    m_nQueued.fetch_add(1, std::memory_order_acq_rel); // publishes the slot
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

CAudioPlayThread::PassAction CAudioPlayThread::ChooseAction(int32_t queued) const
{
    if (queued >= kPlayConsumeThreshold)
        return PassAction::Consume;
    if (queued >= 1)
        return m_nRepeatCounter.load(std::memory_order_relaxed) > 0 ? PassAction::Consume
                                                                    : PassAction::Repeat;
    return PassAction::None;
}

void CAudioPlayThread::PlayLoop()
{
    // The frame is rebuilt behind a 4-byte header; the decoder never yields more than
    // HI_VOICE_MAX_SAMPLES samples, whatever the length.
    alignas(uint16_t) uint8_t frame[kFrameHeaderBytes + kPlayPayloadBytes] = {};
    int16_t samples[HI_VOICE_MAX_SAMPLES] = {};

    while (!IsStopRequested()) {
        if (PlayPassHook *hook = m_passHook.load(std::memory_order_acquire))
            hook->OnPass(*this);

        if (m_nPlayState.load(std::memory_order_acquire) != 1 ||
            !m_bOpened.load(std::memory_order_acquire) || !m_pPlayBlocks ||
            !IsWaveHeaderDone(&m_pPlayBlocks[m_nPlayBlock])) {
            Sleep(kPlayIdleSleepMs);
            continue;
        }

        int32_t queued = m_nQueued.load(std::memory_order_acquire);
        PassAction action = ChooseAction(queued);
        if (action == PassAction::None) {
            Sleep(kPlayIdleSleepMs);
            continue;
        }

        // Sequence gate: a head 1 to 9 ahead of the expected number waits.
        const PlayFrameSlot &head = m_frames[m_nReadIndex];
        uint32_t ahead = head.sequence - m_nExpectedSequence.load(std::memory_order_acquire);
        if (ahead >= 1 && ahead <= kPlaySequenceHoldSpan) {
            Sleep(kPlayIdleSleepMs);
            continue;
        }

        uint16_t length = std::min<uint16_t>(head.length, kPlayPayloadBytes);
        std::memcpy(frame + kFrameHeaderBytes, head.payload, length);
        // Each frame is decoded with its own codec: a change of codec, or a new stream, starts
        // the decoder afresh (G.726 carries state from frame to frame).
        if (head.type != m_decoder.type || head.resetDecoder)
            HI_VOICE_DecReset(&m_decoder, head.type);
        if (action == PassAction::Consume) {
            m_nReadIndex = (m_nReadIndex + 1) % kPlayQueueSlots;
            // Only this thread lowers the count, so a count seen above 0 stays above 0.
            if (m_nQueued.load(std::memory_order_acquire) > 0)
                m_nQueued.fetch_sub(1, std::memory_order_acq_rel);
            if (m_nRepeatCounter.load(std::memory_order_relaxed) <= 0)
                m_nRepeatCounter.store(kPlayRepeatInterval, std::memory_order_relaxed);
            m_framesConsumed.fetch_add(1, std::memory_order_relaxed);
        } else {
            // The head stays; the next pass that takes a frame consumes it, playing it again.
            m_nRepeatCounter.store(kPlayRepeatInterval, std::memory_order_relaxed);
            m_framesRepeated.fetch_add(1, std::memory_order_relaxed);
        }

        uint32_t words = length / 2u;
        frame[0] = kMarkerLowByte;
        frame[1] = kMarkerHighByte;
        frame[2] = static_cast<uint8_t>(words & kByteMask);
        frame[3] = static_cast<uint8_t>((words >> kBitsPerByte) & kByteMask);

        m_nRepeatCounter.fetch_sub(1, std::memory_order_relaxed);

        // A repeat decodes from a copy of the decoder, so that the frame's own play (the next
        // consume) starts from the same state: a codec with memory (G.726) then plays the frame
        // the same both times and goes on as if it had been played once. G.711 and DVI4 keep no
        // state between frames, for them this changes nothing.
        VoiceCodecState repeatDecoder;
        VoiceCodecState *decoder = &m_decoder;
        if (action == PassAction::Repeat) {
            repeatDecoder = m_decoder;
            decoder = &repeatDecoder;
        }
        int16_t sampleCount = 0;
        HI_VOICE_DecodeFrame(decoder, frame, samples, &sampleCount); // rejected: 0 samples
        WriteBlock(samples, 2 * static_cast<int32_t>(sampleCount));
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
