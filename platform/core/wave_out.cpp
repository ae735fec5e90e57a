// Wave output: argument checks, the queue of blocks and its flags; the back end only plays.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/core/wave_calls.h"
#include "platform/wave_stream.h"

namespace orvo::platform {

using namespace wave_calls;

namespace {
constexpr uint32_t kBytesPerSample = sizeof(int16_t);
constexpr uint32_t kHandleMagic = 0x4F52574F; // marks a live output handle
} // namespace

struct WaveOutDevice {
    uint32_t magic = kHandleMagic;
    WaveOutStream stream;
    explicit WaveOutDevice(std::unique_ptr<PlaybackBackend> backend) : stream(std::move(backend)) {}
};

WaveOutStream::WaveOutStream(std::unique_ptr<PlaybackBackend> backend) : m_backend(std::move(backend))
{
}

WaveOutStream::~WaveOutStream()
{
    if (m_backendRunning)
        m_backend->Stop();
}

void WaveOutStream::StartBackend()
{
    m_backendRunning = true;
    m_backend->Start(*this);
}

MMRESULT WaveOutStream::Prepare(WAVEHDR *header)
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

MMRESULT WaveOutStream::Unprepare(WAVEHDR *header)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint32_t flags = header->dwFlags.load(std::memory_order_relaxed);
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags.store(flags & ~WHDR_PREPARED, std::memory_order_relaxed);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Write(WAVEHDR *header)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint32_t flags = header->dwFlags.load(std::memory_order_relaxed);
    if (!(flags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->lpNext = nullptr;
    header->dwFlags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE, std::memory_order_relaxed);
    if (m_tail)
        m_tail->lpNext = header;
    else {
        m_head = header;
        m_headOffset = 0;
    }
    m_tail = header;
    m_backend->OnBlockQueued(*header);
    m_queued.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Pause()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_paused = true;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Restart()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_paused = false;
    m_queued.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Reset()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (m_head) {
            WAVEHDR *block = m_head;
            m_head = block->lpNext;
            block->lpNext = nullptr;
            uint32_t flags = block->dwFlags.load(std::memory_order_relaxed);
            block->dwFlags.store((flags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
        }
        m_tail = nullptr;
        m_headOffset = 0;
    }
    m_backend->OnReset();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::PrepareClose()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_head)
            return WAVERR_STILLPLAYING;
    }
    if (m_backendRunning) {
        m_backendRunning = false;
        m_backend->Stop();
    }
    m_backend->OnReset();
    return MMSYSERR_NOERROR;
}

size_t WaveOutStream::Read(int16_t *out, size_t maxSamples)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_paused)
        return 0;
    size_t copied = 0;
    while (m_head) {
        WAVEHDR *block = m_head;
        uint32_t length = block->dwBufferLength / kBytesPerSample * kBytesPerSample;
        size_t left = (length - std::min(length, m_headOffset)) / kBytesPerSample;
        size_t n = std::min(left, maxSamples - copied);
        std::memcpy(out + copied, block->lpData + m_headOffset, n * kBytesPerSample);
        copied += n;
        m_headOffset += static_cast<uint32_t>(n * kBytesPerSample);
        if (m_headOffset < length)
            break; // the caller's buffer is full
        m_backend->OnBlockPlayed(*block);
        m_head = block->lpNext;
        if (!m_head)
            m_tail = nullptr;
        m_headOffset = 0;
        block->lpNext = nullptr;
        uint32_t flags = block->dwFlags.load(std::memory_order_relaxed);
        block->dwFlags.store((flags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
        // Go on: an empty block next is finished at once, anything else stops at a full buffer.
    }
    if (copied > 0 && !m_played) {
        m_played = true;
        NotePlaybackStart();
    }
    NotePlaybackSamples(copied);
    // A gap begins where a read finds too little after one that was served in full.
    if (m_played && copied < maxSamples && m_lastReadFull)
        NotePlaybackStarved();
    m_lastReadFull = copied == maxSamples;
    return copied;
}

bool WaveOutStream::WaitForData(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_queued.wait_for(lock, timeout, [this] { return !m_paused && m_head != nullptr; });
}

namespace {

WaveOutStream *StreamOf(HWAVEOUT handle)
{
    return handle && handle->magic == kHandleMagic ? &handle->stream : nullptr;
}

} // namespace

MMRESULT waveOutOpen(HWAVEOUT *handle, uint32_t deviceId, const WAVEFORMATEX *format,
                     uintptr_t callback, uintptr_t instance, uint32_t openFlags)
{
    return Guarded([&]() -> MMRESULT {
        MMRESULT result = CheckOpenArguments(handle, deviceId, format, callback, instance, openFlags);
        if (result != MMSYSERR_NOERROR)
            return result;
        result = MMSYSERR_ERROR;
        std::unique_ptr<PlaybackBackend> backend =
            OpenPlaybackBackend(SelectedWaveDevice(WaveDirection::Playback), *format, &result);
        if (!backend)
            return result == MMSYSERR_NOERROR ? MMSYSERR_ERROR : result;
        std::unique_ptr<WaveOutDevice> device(new (std::nothrow) WaveOutDevice(std::move(backend)));
        if (!device)
            return MMSYSERR_NOMEM;
        device->stream.StartBackend();
        *handle = device.release();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveOutClose(HWAVEOUT handle)
{
    return CloseDevice(handle, StreamOf(handle));
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize)
{
    return OnBlock(StreamOf(handle), header, headerSize, &WaveOutStream::Prepare);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize)
{
    return OnBlock(StreamOf(handle), header, headerSize, &WaveOutStream::Unprepare);
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize)
{
    return OnBlock(StreamOf(handle), header, headerSize, &WaveOutStream::Write);
}

MMRESULT waveOutPause(HWAVEOUT handle)
{
    return OnStream(StreamOf(handle), &WaveOutStream::Pause);
}

MMRESULT waveOutRestart(HWAVEOUT handle)
{
    return OnStream(StreamOf(handle), &WaveOutStream::Restart);
}

MMRESULT waveOutReset(HWAVEOUT handle)
{
    return OnStream(StreamOf(handle), &WaveOutStream::Reset);
}

} // namespace orvo::platform
