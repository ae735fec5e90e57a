#include "talk/record_thread.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "talk/talk_counters.h"

namespace orvo::talk {

using namespace orvo::platform;

ORVO_IMPLEMENT_DYNCREATE(CRecordThread, CWinThread)

namespace {
constexpr uint32_t kHeaderSize = sizeof(WAVEHDR);
} // namespace

CRecordThread::CRecordThread()
{
    m_outgoing.Allocate(kOutgoingSlotCapacity);
    m_incoming.Allocate(kIncomingSlotCapacity);
    HI_VOICE_EncReset(&m_encoder, VOICE_G711_U);
    OpenWaveIn();
}

CRecordThread::~CRecordThread()
{
    StopAndWait(); // the loop must be gone before its device and rings are
    CloseWaveIn();
    FreeRings();
}

bool CRecordThread::InitInstance() { return true; }

int CRecordThread::Run()
{
    RecordLoop();
    return ExitInstance();
}

int CRecordThread::ExitInstance() { return CWinThread::ExitInstance(); }

void CRecordThread::OpenWaveIn()
{
    m_lastOpenAttempt = NowMilliseconds();
    m_waveFormat = TalkPcmFormat();
    m_lastResult = waveInOpen(&m_hWaveIn, WAVE_MAPPER, &m_waveFormat, 0, 0, CALLBACK_NULL);
    if (m_lastResult != MMSYSERR_NOERROR)
        return;
    if (m_pCaptureBlocks)
        return;
    m_lastResult = waveInReset(m_hWaveIn);
    if (m_lastResult == MMSYSERR_NOERROR)
        AllocateCaptureBlocks();
    waveInStart(m_hWaveIn);
}

void CRecordThread::AllocateCaptureBlocks()
{
    WAVEHDR *blocks = new (std::nothrow) WAVEHDR[kCaptureBlockCount];
    if (!blocks)
        return;
    for (int32_t i = 0; i < kCaptureBlockCount; ++i) {
        ClearWaveHeader(&blocks[i]);
        blocks[i].lpData = new (std::nothrow) char[kCaptureBlockBytes];
        if (!blocks[i].lpData) { // out of memory: no blocks, as if the device were missing
            waveInReset(m_hWaveIn);
            for (int32_t j = 0; j < i; ++j) {
                waveInUnprepareHeader(m_hWaveIn, &blocks[j], kHeaderSize);
                delete[] blocks[j].lpData;
            }
            delete[] blocks;
            return;
        }
        blocks[i].dwBufferLength = kCaptureBlockBytes;
        blocks[i].dwUser = reinterpret_cast<uintptr_t>(this);
        waveInPrepareHeader(m_hWaveIn, &blocks[i], kHeaderSize);
        AddBuffer(m_hWaveIn, &blocks[i], kHeaderSize);
    }
    m_pCaptureBlocks = blocks;
    m_capturing.store(true, std::memory_order_release);
}

// A device that could not be opened (or reset) is tried again, so that a microphone plugged in
// later is used without restarting the host.
void CRecordThread::RetryOpenWaveIn()
{
    if (NowMilliseconds() - m_lastOpenAttempt < kDeviceRetryIntervalMs)
        return;
    if (m_hWaveIn) { // opened, but the reset failed: start over
        waveInReset(m_hWaveIn);
        waveInClose(m_hWaveIn);
        m_hWaveIn = nullptr;
    }
    OpenWaveIn();
}

void CRecordThread::CloseWaveIn()
{
    m_capturing.store(false, std::memory_order_release);
    if (m_hWaveIn)
        waveInReset(m_hWaveIn); // returns every queued block
    if (m_pCaptureBlocks) {
        for (int32_t i = 0; i < kCaptureBlockCount; ++i) {
            if (m_hWaveIn)
                waveInUnprepareHeader(m_hWaveIn, &m_pCaptureBlocks[i], kHeaderSize);
            delete[] m_pCaptureBlocks[i].lpData;
        }
        delete[] m_pCaptureBlocks;
        m_pCaptureBlocks = nullptr;
    }
    if (m_hWaveIn)
        waveInClose(m_hWaveIn);
    m_hWaveIn = nullptr;
}

MMRESULT CRecordThread::AddBuffer(HWAVEIN device, WAVEHDR *header, uint32_t headerSize)
{
    return waveInAddBuffer(device, header, headerSize);
}

void CRecordThread::EncodeBlock(const WAVEHDR &block, int16_t *pcm, uint8_t *packet)
{
    // A short block is encoded as 160 samples all the same; what it lacks is silence.
    uint32_t bytes = std::min(block.dwBytesRecorded, kCaptureBlockBytes);
    std::memcpy(pcm, block.lpData, bytes);
    std::memset(reinterpret_cast<uint8_t *>(pcm) + bytes, 0, kCaptureBlockBytes - bytes);
    HI_VOICE_EncodeFrame(&m_encoder, pcm, packet + kTalkHeaderBytes, kSamplesPerPacket);
}

void CRecordThread::RecordLoop()
{
    alignas(int16_t) uint8_t pcmBytes[kLoopBufferBytes] = {};
    uint8_t packet[kLoopBufferBytes] = {};
    int16_t *pcm = reinterpret_cast<int16_t *>(pcmBytes);
    packet[0] = kTalkHeaderByte0;
    packet[1] = kTalkHeaderByte1;

    while (!IsStopRequested()) {
        if (!m_pCaptureBlocks)
            RetryOpenWaveIn();
        if (!m_pCaptureBlocks) {
            Sleep(kTalkOffSleepMs);
            continue;
        }
        if (m_nTalkFlag.load(std::memory_order_acquire) != 1) {
            RecycleFinishedBlocks();
            Sleep(kTalkOffSleepMs);
            continue;
        }
        WAVEHDR *block = &m_pCaptureBlocks[m_nCaptureBlock];
        if (!IsWaveHeaderDone(block)) {
            Sleep(kBlockWaitSleepMs);
            continue;
        }
        EncodeBlock(*block, pcm, packet);
        int32_t payloadBytes = 2 * packet[kFrameLengthOffset];
        CountCapturedPacket(
            m_outgoing.Append(packet, payloadBytes + kTalkHeaderBytes + kVoiceFrameHeaderBytes));
        AddBuffer(m_hWaveIn, block, kHeaderSize);
        m_nCaptureBlock = (m_nCaptureBlock + 1) % kCaptureBlockCount;
        Sleep(kAfterBlockSleepMs);
    }
}

// Audio captured while talk is off is private: each block that has finished is given back to the
// device unread, so that the first packet after StartTalk carries live audio (a block finished
// since the last talk-off pass, 20 ms at most), never audio held from long before.
// At most one round of the blocks per pass, so an unpaced device cannot keep the loop here.
void CRecordThread::RecycleFinishedBlocks()
{
    for (int32_t n = 0; n < kCaptureBlockCount; ++n) {
        WAVEHDR *block = &m_pCaptureBlocks[m_nCaptureBlock];
        if (!IsWaveHeaderDone(block))
            return;
        AddBuffer(m_hWaveIn, block, kHeaderSize);
        m_nCaptureBlock = (m_nCaptureBlock + 1) % kCaptureBlockCount;
    }
}

void CRecordThread::FreeRings()
{
    m_outgoing.Free();
    m_incoming.Free();
}

} // namespace orvo::talk
