// The virtual capture and playback devices, driven by the virtual clock.
#include <deque>
#include <mutex>

#include "platform/no_destructor.h"
#include "platform/thread.h"
#include "platform/virtual/virtual_internal.h"
#include "platform/virtual/virtual_platform.h"
#include "platform/wave_stream.h"

namespace orvo::platform {
namespace virt {
namespace {

class VirtualCapture;
class VirtualPlayback;

// Lock order: pump -> stream (inside Deliver/Read) -> records.
struct Devices {
    std::mutex pump; // the open devices, their settings and the capture statistics
    SampleSource source;
    bool captureAvailable = true;
    bool captureResetFails = false;
    uint32_t cutAfterBytes = 0; // 0: no cut pending
    bool playbackAvailable = true;
    VirtualCapture *capture = nullptr;
    VirtualPlayback *playback = nullptr;
    CaptureStats captureStats;

    std::mutex records; // what the playback device played
    std::vector<PlayedBlock> played;
    std::deque<int64_t> queuedTimes; // waveOutWrite times of the blocks still queued
    PlaybackStats playbackStats;
};

Devices &GetDevices()
{
    static NoDestructor<Devices> devices; // used by devices that may outlive static destruction
    return devices.get();
}

class VirtualCapture final : public CaptureBackend {
public:
    ~VirtualCapture() override
    {
        Devices &devices = GetDevices();
        std::lock_guard<std::mutex> lock(devices.pump);
        devices.capture = nullptr;
        devices.captureStats.open = false;
        devices.captureStats.started = false;
    }
    void Start(WaveInStream &stream) override
    {
        Devices &devices = GetDevices();
        std::lock_guard<std::mutex> lock(devices.pump);
        m_stream = &stream;
        devices.captureStats.started = true;
    }
    void Stop() override
    {
        Devices &devices = GetDevices();
        std::lock_guard<std::mutex> lock(devices.pump);
        m_stream = nullptr;
        devices.captureStats.started = false;
    }
    MMRESULT CheckReset() override
    {
        Devices &devices = GetDevices();
        std::lock_guard<std::mutex> lock(devices.pump);
        return devices.captureResetFails ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    }
    // Under the pump lock.
    void Pump(Devices &devices, int64_t now)
    {
        if (!m_stream)
            return;
        for (int i = 0; i < kSamplesPerMillisecond; ++i) {
            int16_t sample = devices.source ? devices.source(m_nextIndex) : 0;
            ++m_nextIndex;
            uint64_t done = 0;
            size_t stored = m_stream->Deliver(&sample, 1, &done);
            CaptureStats &stats = devices.captureStats;
            ++stats.samplesCaptured;
            stats.samplesDropped += 1 - stored;
            if (stored && devices.cutAfterBytes &&
                m_stream->HeadBytesRecorded() >= static_cast<int64_t>(devices.cutAfterBytes)) {
                m_stream->CompleteHeadBlock();
                devices.cutAfterBytes = 0;
                ++done;
            }
            if (done) {
                stats.blocksCompleted += done;
                stats.lastBlockDoneAt = now;
            }
        }
    }

private:
    WaveInStream *m_stream = nullptr;
    uint64_t m_nextIndex = 0;
};

class VirtualPlayback final : public PlaybackBackend {
public:
    ~VirtualPlayback() override
    {
        Devices &devices = GetDevices();
        std::lock_guard<std::mutex> lock(devices.pump);
        devices.playback = nullptr;
        std::lock_guard<std::mutex> records(devices.records);
        devices.playbackStats.open = false;
        devices.queuedTimes.clear();
    }
    void Start(WaveOutStream &stream) override
    {
        std::lock_guard<std::mutex> lock(GetDevices().pump);
        m_stream = &stream;
    }
    void Stop() override
    {
        std::lock_guard<std::mutex> lock(GetDevices().pump);
        m_stream = nullptr;
    }
    void OnBlockQueued(const WAVEHDR &) override
    {
        Devices &devices = GetDevices();
        std::lock_guard<std::mutex> lock(devices.records);
        devices.queuedTimes.push_back(Now());
    }
    void OnBlockPlayed(const WAVEHDR &block) override
    {
        Devices &devices = GetDevices();
        std::lock_guard<std::mutex> lock(devices.records);
        PlayedBlock record;
        if (!devices.queuedTimes.empty()) {
            record.queuedAt = devices.queuedTimes.front();
            devices.queuedTimes.pop_front();
        }
        record.doneAt = Now();
        const int16_t *samples = reinterpret_cast<const int16_t *>(block.lpData);
        record.samples.assign(samples, samples + block.dwBufferLength / sizeof(int16_t));
        devices.played.push_back(std::move(record));
    }
    void OnReset() override
    {
        Devices &devices = GetDevices();
        std::lock_guard<std::mutex> lock(devices.records);
        devices.queuedTimes.clear();
    }
    // Under the pump lock.
    void Pump(Devices &devices)
    {
        if (!m_stream)
            return;
        int16_t samples[kSamplesPerMillisecond];
        size_t played = m_stream->Read(samples, kSamplesPerMillisecond);
        std::lock_guard<std::mutex> lock(devices.records);
        devices.playbackStats.samplesPlayed += played;
        devices.playbackStats.silentSamples += kSamplesPerMillisecond - played;
    }

private:
    WaveOutStream *m_stream = nullptr;
};

} // namespace

void PumpDevices(int64_t now)
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    if (devices.capture)
        devices.capture->Pump(devices, now);
    if (devices.playback)
        devices.playback->Pump(devices);
}

void SetCaptureSource(SampleSource source)
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    devices.source = std::move(source);
}

void SetCaptureAvailable(bool available)
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    devices.captureAvailable = available;
}

void SetCaptureResetFails(bool fails)
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    devices.captureResetFails = fails;
}

void CutNextCaptureBlock(uint32_t bytes)
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    devices.cutAfterBytes = bytes;
}

CaptureStats GetCaptureStats()
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    return devices.captureStats;
}

void SetPlaybackAvailable(bool available)
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    devices.playbackAvailable = available;
}

std::vector<PlayedBlock> PlayedBlocks()
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.records);
    return devices.played;
}

PlaybackStats GetPlaybackStats()
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.records);
    return devices.playbackStats;
}

void ResetDevices()
{
    Devices &devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    devices.source = nullptr;
    devices.captureAvailable = true;
    devices.captureResetFails = false;
    devices.cutAfterBytes = 0;
    devices.playbackAvailable = true;
    bool captureOpen = devices.capture != nullptr;
    devices.captureStats = CaptureStats{};
    devices.captureStats.open = captureOpen;
    std::lock_guard<std::mutex> records(devices.records);
    devices.played.clear();
    bool playbackOpen = devices.playback != nullptr;
    devices.playbackStats = PlaybackStats{};
    devices.playbackStats.open = playbackOpen;
}

} // namespace virt

std::unique_ptr<CaptureBackend> OpenCaptureBackend(const std::string &, const WAVEFORMATEX &,
                                                   MMRESULT *result)
{
    virt::Devices &devices = virt::GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    ++devices.captureStats.openAttempts;
    if (!devices.captureAvailable) {
        *result = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    if (devices.capture) {
        *result = MMSYSERR_ALLOCATED;
        return nullptr;
    }
    auto device = std::make_unique<virt::VirtualCapture>();
    devices.capture = device.get();
    ++devices.captureStats.opens;
    devices.captureStats.open = true;
    *result = MMSYSERR_NOERROR;
    return device;
}

std::unique_ptr<PlaybackBackend> OpenPlaybackBackend(const std::string &, const WAVEFORMATEX &,
                                                     MMRESULT *result)
{
    virt::Devices &devices = virt::GetDevices();
    std::lock_guard<std::mutex> lock(devices.pump);
    if (!devices.playbackAvailable) {
        *result = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    if (devices.playback) {
        *result = MMSYSERR_ALLOCATED;
        return nullptr;
    }
    auto device = std::make_unique<virt::VirtualPlayback>();
    devices.playback = device.get();
    {
        std::lock_guard<std::mutex> records(devices.records);
        ++devices.playbackStats.opens;
        devices.playbackStats.open = true;
    }
    *result = MMSYSERR_NOERROR;
    return device;
}

void ReleaseWaveDeviceCaches() {} // the virtual devices keep nothing between opens

} // namespace orvo::platform
