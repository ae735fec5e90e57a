// Wave input: argument checks, the queue of blocks and its flags; the back end only captures.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/core/wave_calls.h"
#include "platform/wave_stream.h"

namespace orvo::platform {

using namespace wave_calls;

namespace {
constexpr uint32_t kBytesPerSample = sizeof(int16_t);
constexpr uint32_t kHandleMagic = 0x4F525749; // marks a live input handle
} // namespace

struct WaveInDevice {
    uint32_t magic = kHandleMagic;
    WaveInStream stream;
    explicit WaveInDevice(std::unique_ptr<CaptureBackend> backend) : stream(std::move(backend)) {}
};

void ClearWaveHeader(WAVEHDR *header)
{
    header->lpData = nullptr;
    header->dwBufferLength = 0;
    header->dwBytesRecorded = 0;
    header->dwUser = 0;
    header->dwFlags.store(0, std::memory_order_relaxed);
    header->dwLoops = 0;
    header->lpNext = nullptr;
    header->reserved = 0;
}

WAVEFORMATEX TalkPcmFormat()
{
    constexpr uint16_t kChannels = 1;
    constexpr uint32_t kSampleRate = 8000;
    constexpr uint16_t kBits = 16;
    constexpr uint16_t kAlign = kChannels * kBits / 8;
    return WAVEFORMATEX{WAVE_FORMAT_PCM, kChannels, kSampleRate, kSampleRate * kAlign, kAlign, kBits, 0};
}

bool IsSupportedFormat(const WAVEFORMATEX &format)
{
    const WAVEFORMATEX want = TalkPcmFormat();
    return format.wFormatTag == want.wFormatTag && format.nChannels == want.nChannels &&
           format.nSamplesPerSec == want.nSamplesPerSec &&
           format.nAvgBytesPerSec == want.nAvgBytesPerSec && format.nBlockAlign == want.nBlockAlign &&
           format.wBitsPerSample == want.wBitsPerSample;
}

WaveInStream::WaveInStream(std::unique_ptr<CaptureBackend> backend) : m_backend(std::move(backend)) {}

WaveInStream::~WaveInStream()
{
    if (m_backendRunning)
        m_backend->Stop();
}

MMRESULT WaveInStream::Prepare(WAVEHDR *header)
{
    if (!header->lpData)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    uint32_t flags = header->dwFlags.load(std::memory_order_relaxed);
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags.store(flags | WHDR_PREPARED, std::memory_order_relaxed);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::Unprepare(WAVEHDR *header)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint32_t flags = header->dwFlags.load(std::memory_order_relaxed);
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags.store(flags & ~WHDR_PREPARED, std::memory_order_relaxed);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::AddBuffer(WAVEHDR *header)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint32_t flags = header->dwFlags.load(std::memory_order_relaxed);
    if (!(flags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (!header->lpData || header->dwBufferLength < kBytesPerSample)
        return MMSYSERR_INVALPARAM;
    header->dwBytesRecorded = 0;
    header->lpNext = nullptr;
    header->dwFlags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE, std::memory_order_relaxed);
    if (m_tail)
        m_tail->lpNext = header;
    else
        m_head = header;
    m_tail = header;
    m_queued.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::Start()
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    bool startBackend = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = true;
        startBackend = !m_backendRunning;
        m_backendRunning = true;
        m_queued.notify_all();
    }
    if (startBackend) {
        NoteCaptureStart();
        m_backend->Start(*this);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::Stop()
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    bool stopBackend = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = false;
        stopBackend = m_backendRunning;
        m_backendRunning = false;
    }
    if (stopBackend)
        m_backend->Stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_head && m_head->dwBytesRecorded > 0)
        CompleteHeadLocked();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::Reset()
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    MMRESULT refused = m_backend->CheckReset();
    if (refused != MMSYSERR_NOERROR)
        return refused;
    bool stopBackend = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = false;
        stopBackend = m_backendRunning;
        m_backendRunning = false;
    }
    if (stopBackend)
        m_backend->Stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    while (m_head)
        CompleteHeadLocked();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::PrepareClose()
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_head)
            return WAVERR_STILLPLAYING;
        m_started = false;
        if (!m_backendRunning)
            return MMSYSERR_NOERROR;
        m_backendRunning = false;
    }
    m_backend->Stop();
    return MMSYSERR_NOERROR;
}

void WaveInStream::CompleteHeadLocked()
{
    WAVEHDR *block = m_head;
    m_head = block->lpNext;
    if (!m_head)
        m_tail = nullptr;
    block->lpNext = nullptr;
    uint32_t flags = block->dwFlags.load(std::memory_order_relaxed);
    // Release: the samples and dwBytesRecorded are visible to whoever sees the done flag.
    block->dwFlags.store((flags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
}

size_t WaveInStream::Deliver(const int16_t *samples, size_t count, uint64_t *blocksDone)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_started)
        return 0;
    size_t stored = 0;
    while (stored < count && m_head) {
        WAVEHDR *block = m_head;
        uint32_t capacity = block->dwBufferLength / kBytesPerSample * kBytesPerSample;
        size_t room = (capacity - block->dwBytesRecorded) / kBytesPerSample;
        size_t n = std::min(room, count - stored);
        std::memcpy(block->lpData + block->dwBytesRecorded, samples + stored, n * kBytesPerSample);
        block->dwBytesRecorded += static_cast<uint32_t>(n * kBytesPerSample);
        stored += n;
        if (block->dwBytesRecorded >= capacity) {
            CompleteHeadLocked();
            if (blocksDone)
                ++*blocksDone;
        }
    }
    return stored;
}

int64_t WaveInStream::HeadBytesRecorded()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_head ? static_cast<int64_t>(m_head->dwBytesRecorded) : -1;
}

void WaveInStream::CompleteHeadBlock()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_head)
        CompleteHeadLocked();
}

bool WaveInStream::WaitForQueuedBlock(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_queued.wait_for(lock, timeout, [this] { return m_started && m_head != nullptr; });
}

size_t WaveInStream::QueuedRoom()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_started)
        return 0;
    size_t room = 0;
    for (const WAVEHDR *block = m_head; block; block = block->lpNext)
        room += (block->dwBufferLength - block->dwBytesRecorded) / kBytesPerSample;
    return room;
}

bool WaveInStream::HasQueuedBlock()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started && m_head != nullptr;
}

namespace {

WaveInStream *StreamOf(HWAVEIN handle)
{
    return handle && handle->magic == kHandleMagic ? &handle->stream : nullptr;
}

} // namespace

MMRESULT waveInOpen(HWAVEIN *handle, uint32_t deviceId, const WAVEFORMATEX *format,
                    uintptr_t callback, uintptr_t instance, uint32_t openFlags)
{
    return Guarded([&]() -> MMRESULT {
        MMRESULT result = CheckOpenArguments(handle, deviceId, format, callback, instance, openFlags);
        if (result != MMSYSERR_NOERROR)
            return result;
        result = MMSYSERR_ERROR;
        std::unique_ptr<CaptureBackend> backend =
            OpenCaptureBackend(SelectedWaveDevice(WaveDirection::Capture), *format, &result);
        if (!backend)
            return result == MMSYSERR_NOERROR ? MMSYSERR_ERROR : result;
        WaveInDevice *device = new (std::nothrow) WaveInDevice(std::move(backend));
        if (!device)
            return MMSYSERR_NOMEM;
        *handle = device;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveInClose(HWAVEIN handle)
{
    return CloseDevice(handle, StreamOf(handle));
}

MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize)
{
    return OnBlock(StreamOf(handle), header, headerSize, &WaveInStream::Prepare);
}

MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize)
{
    return OnBlock(StreamOf(handle), header, headerSize, &WaveInStream::Unprepare);
}

MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize)
{
    return OnBlock(StreamOf(handle), header, headerSize, &WaveInStream::AddBuffer);
}

MMRESULT waveInStart(HWAVEIN handle)
{
    return OnStream(StreamOf(handle), &WaveInStream::Start);
}

MMRESULT waveInStop(HWAVEIN handle)
{
    return OnStream(StreamOf(handle), &WaveInStream::Stop);
}

MMRESULT waveInReset(HWAVEIN handle)
{
    return OnStream(StreamOf(handle), &WaveInStream::Reset);
}

} // namespace orvo::platform
