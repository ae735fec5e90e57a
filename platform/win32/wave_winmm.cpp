// The real sound back end on Windows: the system's wave devices through winmm.
//
// The devices are opened with WAVE_MAPPER (or the device whose name was selected) and CALLBACK_NULL:
// no callback, window or event is registered, so completion is seen only through each system
// block's WHDR_DONE flag. A pump thread per device polls those flags in block order:
//   capture:  a finished system block is handed to the stream (WaveInStream::Deliver) and queued
//             again; the stream fills the caller's blocks in order;
//   playback: what the stream has queued (WaveOutStream::Read) is copied into the next free system
//             block and written; the stream marks the caller's blocks done as they are read.
// The platform headers come before <windows.h> and <mmsystem.h>, whose macros would otherwise rewrite
// their constants; the system's own types are named with a leading :: below.
#include "platform/win32/wave_winmm.h"
#include "platform/thread.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/win32/module_pin.h"

namespace orvo::platform {
namespace {

constexpr DWORD kBlockSamples = 160;      // 20 ms at 8000 samples per second
constexpr DWORD kBlockBytes = kBlockSamples * sizeof(int16_t);
constexpr size_t kBlockCount = 10;        // 200 ms queued on the device
constexpr DWORD kPollMilliseconds = 5;    // while the next system block is not done
constexpr auto kDataWait = std::chrono::milliseconds(20);
constexpr DWORD kDrainMilliseconds = 1000; // longer than the ten queued blocks play
constexpr UINT kHeaderSize = sizeof(::WAVEHDR);
constexpr uint64_t kMicrosecondsPerSecond = 1000000;

::WAVEFORMATEX ToSystemFormat(const WAVEFORMATEX &format)
{
    ::WAVEFORMATEX system{};
    system.wFormatTag = format.wFormatTag;
    system.nChannels = format.nChannels;
    system.nSamplesPerSec = format.nSamplesPerSec;
    system.nAvgBytesPerSec = format.nAvgBytesPerSec;
    system.nBlockAlign = format.nBlockAlign;
    system.wBitsPerSample = format.wBitsPerSample;
    system.cbSize = 0;
    return system;
}

// The driver sets WHDR_DONE on its own thread; an interlocked read sees it with full ordering, so the
// block's data is complete when the flag is seen.
bool IsSystemBlockDone(::WAVEHDR &block)
{
    auto *flags = reinterpret_cast<volatile LONG *>(&block.dwFlags);
    return (static_cast<DWORD>(InterlockedCompareExchange(flags, 0, 0)) & WHDR_DONE) != 0;
}

// Device id for a selection: the system default for an empty name, else the device of that name.
template <typename Caps, typename GetCount, typename GetCaps>
bool FindDevice(const std::string &name, GetCount count, GetCaps caps, UINT *device)
{
    if (name.empty()) {
        *device = WAVE_MAPPER;
        return true;
    }
    const UINT devices = count();
    for (UINT id = 0; id < devices; ++id) {
        Caps description{};
        if (caps(id, &description, sizeof(description)) == MMSYSERR_NOERROR &&
            name == description.szPname) {
            *device = id;
            return true;
        }
    }
    return false;
}

// Ten system blocks with their buffers, allocated once per device.
struct SystemBlocks {
    ::WAVEHDR headers[kBlockCount]{};
    int16_t samples[kBlockCount][kBlockSamples]{};
    bool prepared = false;

    SystemBlocks()
    {
        for (size_t i = 0; i < kBlockCount; ++i) {
            headers[i].lpData = reinterpret_cast<LPSTR>(samples[i]);
            headers[i].dwBufferLength = kBlockBytes;
        }
    }
};

class WinmmCapture final : public CaptureBackend {
public:
    WinmmCapture(::HWAVEIN device, uint32_t samplesPerSecond)
        : m_device(device), m_samplesPerSecond(samplesPerSecond), m_blocks(new SystemBlocks)
    {
    }

    ~WinmmCapture() override
    {
        Stop();
        if (m_blocks->prepared) {
            for (::WAVEHDR &header : m_blocks->headers)
                ::waveInUnprepareHeader(m_device, &header, kHeaderSize);
        }
        ::waveInClose(m_device);
    }

    void Start(WaveInStream &stream) override
    {
        if (m_pump.joinable())
            return;
        win32::PinThisModule();
        if (!m_blocks->prepared) {
            for (::WAVEHDR &header : m_blocks->headers)
                ::waveInPrepareHeader(m_device, &header, kHeaderSize);
            m_blocks->prepared = true;
        }
        for (::WAVEHDR &header : m_blocks->headers)
            ::waveInAddBuffer(m_device, &header, kHeaderSize);
        m_stop.store(false, std::memory_order_relaxed);
        ::waveInStart(m_device);
        m_pump = std::thread(&WinmmCapture::Pump, this, &stream);
    }

    void Stop() override
    {
        if (!m_pump.joinable())
            return;
        m_stop.store(true, std::memory_order_release);
        m_pump.join();
        // Returns every queued system block; they stay prepared for the next Start.
        ::waveInReset(m_device);
    }

private:
    // Hands the finished blocks to the stream in the order they were queued. A device cannot
    // capture faster than real time; one that returns blocks early (an unpaced driver) is held to
    // it, so the pump never spins.
    void Pump(WaveInStream *stream)
    {
        SetCurrentThreadName("orvo-winmm-in");
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        uint64_t delivered = 0;
        size_t next = 0;
        while (!m_stop.load(std::memory_order_acquire)) {
            ::WAVEHDR &header = m_blocks->headers[next];
            if (!IsSystemBlockDone(header)) {
                ::Sleep(kPollMilliseconds);
                continue;
            }
            const size_t count = header.dwBytesRecorded / sizeof(int16_t);
            stream->Deliver(reinterpret_cast<const int16_t *>(header.lpData), count);
            delivered += count;
            ::waveInAddBuffer(m_device, &header, kHeaderSize);
            next = (next + 1) % kBlockCount;
            const Clock::time_point due =
                start + std::chrono::microseconds(delivered * kMicrosecondsPerSecond /
                                                  m_samplesPerSecond);
            while (Clock::now() < due && !m_stop.load(std::memory_order_acquire))
                ::Sleep(kPollMilliseconds);
        }
    }

    ::HWAVEIN m_device;
    uint32_t m_samplesPerSecond;
    std::unique_ptr<SystemBlocks> m_blocks;
    std::atomic<bool> m_stop{false};
    std::thread m_pump;
};

class WinmmPlayback final : public PlaybackBackend {
public:
    explicit WinmmPlayback(::HWAVEOUT device) : m_device(device), m_blocks(new SystemBlocks)
    {
        for (::WAVEHDR &header : m_blocks->headers) {
            ::waveOutPrepareHeader(m_device, &header, kHeaderSize);
            // A prepared block that was never written counts as free.
            header.dwFlags |= WHDR_DONE;
        }
        m_blocks->prepared = true;
    }

    ~WinmmPlayback() override
    {
        Stop();
        for (::WAVEHDR &header : m_blocks->headers)
            ::waveOutUnprepareHeader(m_device, &header, kHeaderSize);
        ::waveOutClose(m_device);
    }

    void Start(WaveOutStream &stream) override
    {
        if (m_pump.joinable())
            return;
        win32::PinThisModule();
        m_stop.store(false, std::memory_order_relaxed);
        m_pump = std::thread(&WinmmPlayback::Pump, this, &stream);
    }

    // Closing: what was already handed to the device plays out (the stream has marked those blocks
    // done), within the time the queued blocks last; then the device is reset.
    void Stop() override
    {
        if (!m_pump.joinable())
            return;
        m_stop.store(true, std::memory_order_release);
        m_pump.join();
        for (DWORD waited = 0; waited < kDrainMilliseconds && !AllBlocksDone();
             waited += kPollMilliseconds)
            ::Sleep(kPollMilliseconds);
        ::waveOutReset(m_device);
    }

    // waveOutReset of the stream: what the device still holds is dropped too.
    void OnReset() override { ::waveOutReset(m_device); }

private:
    bool AllBlocksDone()
    {
        for (::WAVEHDR &header : m_blocks->headers) {
            if (!IsSystemBlockDone(header))
                return false;
        }
        return true;
    }

    // Writes what the stream holds into the system blocks, in order, as they come back free.
    void Pump(WaveOutStream *stream)
    {
        SetCurrentThreadName("orvo-winmm-out");
        size_t next = 0;
        while (!m_stop.load(std::memory_order_acquire)) {
            ::WAVEHDR &header = m_blocks->headers[next];
            if (!IsSystemBlockDone(header)) {
                ::Sleep(kPollMilliseconds);
                continue;
            }
            if (!stream->WaitForData(kDataWait))
                continue;
            const size_t count =
                stream->Read(reinterpret_cast<int16_t *>(header.lpData), kBlockSamples);
            if (count == 0)
                continue;
            header.dwBufferLength = static_cast<DWORD>(count * sizeof(int16_t));
            ::waveOutWrite(m_device, &header, kHeaderSize);
            next = (next + 1) % kBlockCount;
        }
    }

    ::HWAVEOUT m_device;
    std::unique_ptr<SystemBlocks> m_blocks;
    std::atomic<bool> m_stop{false};
    std::thread m_pump;
};

} // namespace

std::unique_ptr<CaptureBackend> OpenWinmmCapture(const std::string &name, const WAVEFORMATEX &format,
                                                 MMRESULT *result)
{
    if (format.nSamplesPerSec == 0) {
        *result = WAVERR_BADFORMAT;
        return nullptr;
    }
    UINT device = 0;
    if (!FindDevice<::WAVEINCAPSA>(name, ::waveInGetNumDevs, ::waveInGetDevCapsA, &device)) {
        *result = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    const ::WAVEFORMATEX system = ToSystemFormat(format);
    ::HWAVEIN handle = nullptr;
    *result = ::waveInOpen(&handle, device, &system, 0, 0, CALLBACK_NULL);
    if (*result != MMSYSERR_NOERROR)
        return nullptr;
    return std::make_unique<WinmmCapture>(handle, format.nSamplesPerSec);
}

std::unique_ptr<PlaybackBackend> OpenWinmmPlayback(const std::string &name,
                                                   const WAVEFORMATEX &format, MMRESULT *result)
{
    UINT device = 0;
    if (!FindDevice<::WAVEOUTCAPSA>(name, ::waveOutGetNumDevs, ::waveOutGetDevCapsA, &device)) {
        *result = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    const ::WAVEFORMATEX system = ToSystemFormat(format);
    ::HWAVEOUT handle = nullptr;
    *result = ::waveOutOpen(&handle, device, &system, 0, 0, CALLBACK_NULL);
    if (*result != MMSYSERR_NOERROR)
        return nullptr;
    return std::make_unique<WinmmPlayback>(handle);
}

} // namespace orvo::platform
