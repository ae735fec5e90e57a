// ALSA devices. Each opened PCM runs non-blocking under a device thread that waits on the PCM with a
// short timeout, so stopping never hangs on a silent device.
//
// Capture reads from ALSA only while a block is queued: a real card overruns its own buffer while
// nothing is queued (the input of that time is dropped, and the overrun is recovered on the next
// read), while an unpaced device (a file) loses nothing.
#include "platform/alsa/alsa_devices.h"
#include "platform/no_destructor.h"
#include "platform/thread.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <mutex>
#include <thread>

namespace orvo::platform {
namespace {

constexpr const char kDefaultPcm[] = "default";
constexpr snd_pcm_uframes_t kPeriodFrames = 160;    // 20 ms
constexpr unsigned kBufferMicroseconds = 100000;    // 100 ms of device buffering
constexpr int kWaitMilliseconds = 20;               // longest wait before the stop flag is seen
constexpr auto kIdleWait = std::chrono::milliseconds(kWaitMilliseconds);

void QuietErrorHandler(const char *, int, const char *, int, const char *, ...) {}

void SilenceAlsa()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(QuietErrorHandler); });
}

// Our open PCMs, so that ALSA's global configuration is freed only while none uses it. Opening and
// closing hold the lock too: freeing the configuration must not meet an open in progress.
struct PcmCount {
    std::mutex mutex;
    int open = 0;
};

PcmCount &OpenPcms()
{
    static NoDestructor<PcmCount> count; // used at unload, during static destruction
    return count.get();
}

void ClosePcm(snd_pcm_t *pcm)
{
    PcmCount &count = OpenPcms();
    std::lock_guard<std::mutex> lock(count.mutex);
    snd_pcm_close(pcm);
    --count.open;
}

MMRESULT ResultOf(int error)
{
    switch (-error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return MMSYSERR_BADDEVICEID;
    case EBUSY:
        return MMSYSERR_ALLOCATED;
    case EINVAL:
        return WAVERR_BADFORMAT;
    case ENOMEM:
        return MMSYSERR_NOMEM;
    default:
        return MMSYSERR_ERROR;
    }
}

// Opens and configures a PCM; null with *result set on failure.
snd_pcm_t *OpenPcm(const std::string &name, snd_pcm_stream_t direction, const WAVEFORMATEX &format,
                   MMRESULT *result)
{
    SilenceAlsa();
    snd_pcm_t *pcm = nullptr;
    const char *pcmName = name.empty() ? kDefaultPcm : name.c_str();
    {
        PcmCount &count = OpenPcms();
        std::lock_guard<std::mutex> lock(count.mutex);
        int error = snd_pcm_open(&pcm, pcmName, direction, SND_PCM_NONBLOCK);
        if (error < 0) {
            *result = ResultOf(error);
            return nullptr;
        }
        ++count.open;
    }
    snd_pcm_hw_params_t *hw = nullptr;
    unsigned rate = format.nSamplesPerSec;
    snd_pcm_uframes_t period = kPeriodFrames;
    unsigned bufferTime = kBufferMicroseconds;
    int dir = 0;
    bool ok = snd_pcm_hw_params_malloc(&hw) == 0;
    ok = ok && snd_pcm_hw_params_any(pcm, hw) >= 0 &&
         snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) == 0 &&
         snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) == 0 &&
         snd_pcm_hw_params_set_channels(pcm, hw, format.nChannels) == 0 &&
         snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, &dir) == 0 && rate == format.nSamplesPerSec;
    if (ok) {
        // Period and buffer are wishes; the card may round them.
        snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferTime, &dir);
        ok = snd_pcm_hw_params(pcm, hw) == 0 && snd_pcm_prepare(pcm) == 0;
    }
    if (hw)
        snd_pcm_hw_params_free(hw);
    if (!ok) {
        ClosePcm(pcm);
        *result = WAVERR_BADFORMAT;
        return nullptr;
    }
    *result = MMSYSERR_NOERROR;
    return pcm;
}

// Brings a PCM back after an overrun, underrun or suspend; false if it stays broken.
bool Recover(snd_pcm_t *pcm, int error, bool capture)
{
    if (snd_pcm_recover(pcm, error, 1) < 0 && snd_pcm_prepare(pcm) < 0)
        return false;
    return !capture || snd_pcm_start(pcm) >= 0;
}

class AlsaCapture final : public CaptureBackend {
public:
    explicit AlsaCapture(snd_pcm_t *pcm) : m_pcm(pcm) {}
    ~AlsaCapture() override
    {
        Stop();
        ClosePcm(m_pcm);
    }
    void Start(WaveInStream &stream) override
    {
        Stop();
        m_stop.store(false, std::memory_order_relaxed);
        snd_pcm_prepare(m_pcm);
        snd_pcm_start(m_pcm);
        m_thread = std::thread([this, &stream] {
            SetCurrentThreadName("orvo-alsa-in");
            Loop(stream);
        });
    }
    void Stop() override
    {
        m_stop.store(true, std::memory_order_release);
        if (m_thread.joinable()) {
            m_thread.join();
            snd_pcm_drop(m_pcm);
        }
    }

private:
    void Loop(WaveInStream &stream)
    {
        int16_t samples[kPeriodFrames];
        while (!m_stop.load(std::memory_order_acquire)) {
            if (!stream.WaitForQueuedBlock(kIdleWait))
                continue;
            int ready = snd_pcm_wait(m_pcm, kWaitMilliseconds);
            if (ready < 0) {
                if (!Recover(m_pcm, ready, true))
                    std::this_thread::sleep_for(kIdleWait); // unplugged: keep trying slowly
                continue;
            }
            if (ready == 0)
                continue;
            // Never read more than the queued blocks take: an unpaced device then loses nothing.
            size_t room = std::min<size_t>(stream.QueuedRoom(), kPeriodFrames);
            if (room == 0)
                continue;
            snd_pcm_sframes_t got = snd_pcm_readi(m_pcm, samples, room);
            if (got == -EAGAIN)
                continue;
            if (got < 0) {
                if (!Recover(m_pcm, static_cast<int>(got), true))
                    std::this_thread::sleep_for(kIdleWait);
                continue;
            }
            stream.Deliver(samples, static_cast<size_t>(got));
        }
    }

    snd_pcm_t *m_pcm;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

class AlsaPlayback final : public PlaybackBackend {
public:
    explicit AlsaPlayback(snd_pcm_t *pcm) : m_pcm(pcm) {}
    ~AlsaPlayback() override
    {
        Stop();
        ClosePcm(m_pcm);
    }
    void Start(WaveOutStream &stream) override
    {
        Stop();
        m_stop.store(false, std::memory_order_relaxed);
        m_thread = std::thread([this, &stream] {
            SetCurrentThreadName("orvo-alsa-out");
            Loop(stream);
        });
    }
    void Stop() override
    {
        m_stop.store(true, std::memory_order_release);
        if (m_thread.joinable()) {
            m_thread.join();
            // Let the card play what it already holds (at most its buffer, 100 ms), then rearm.
            snd_pcm_nonblock(m_pcm, 0);
            snd_pcm_drain(m_pcm);
            snd_pcm_nonblock(m_pcm, 1);
            snd_pcm_prepare(m_pcm);
        }
    }

private:
    void Loop(WaveOutStream &stream)
    {
        int16_t samples[kPeriodFrames];
        while (!m_stop.load(std::memory_order_acquire)) {
            size_t count = stream.Read(samples, kPeriodFrames);
            if (count == 0) {
                stream.WaitForData(kIdleWait); // the card underruns meanwhile: silence
                continue;
            }
            size_t written = 0;
            while (written < count && !m_stop.load(std::memory_order_acquire)) {
                int ready = snd_pcm_wait(m_pcm, kWaitMilliseconds);
                if (ready < 0) {
                    if (!Recover(m_pcm, ready, false))
                        std::this_thread::sleep_for(kIdleWait);
                    continue;
                }
                if (ready == 0)
                    continue;
                snd_pcm_sframes_t n = snd_pcm_writei(m_pcm, samples + written, count - written);
                if (n == -EAGAIN)
                    continue;
                if (n < 0) {
                    if (!Recover(m_pcm, static_cast<int>(n), false))
                        break; // the card is gone: these samples are lost
                    continue;
                }
                written += static_cast<size_t>(n);
            }
        }
    }

    snd_pcm_t *m_pcm;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

} // namespace

void ReleaseAlsaCaches()
{
    PcmCount &count = OpenPcms();
    std::lock_guard<std::mutex> lock(count.mutex);
    if (count.open == 0)
        snd_config_update_free_global();
}

std::unique_ptr<CaptureBackend> OpenAlsaCapture(const std::string &name, const WAVEFORMATEX &format,
                                                MMRESULT *result)
{
    snd_pcm_t *pcm = OpenPcm(name, SND_PCM_STREAM_CAPTURE, format, result);
    if (!pcm)
        return nullptr;
    return std::make_unique<AlsaCapture>(pcm);
}

std::unique_ptr<PlaybackBackend> OpenAlsaPlayback(const std::string &name,
                                                  const WAVEFORMATEX &format, MMRESULT *result)
{
    snd_pcm_t *pcm = OpenPcm(name, SND_PCM_STREAM_PLAYBACK, format, result);
    if (!pcm)
        return nullptr;
    return std::make_unique<AlsaPlayback>(pcm);
}

} // namespace orvo::platform
