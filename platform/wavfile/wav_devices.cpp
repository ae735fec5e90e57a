// WAV file capture and playback devices, each with a thread paced on the steady clock.
#include "platform/wavfile/wav_devices.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/thread.h"
#include "platform/wavfile/wav_file.h"

namespace orvo::platform {
namespace {

constexpr auto kPeriod = std::chrono::milliseconds(20);
constexpr size_t kPeriodSamples = 160; // 20 ms at 8000 Hz

// Runs `step` once per period on its own thread, on absolute deadlines, until stopped.
class PacedThread {
public:
    ~PacedThread() { Stop(); }
    template <typename Step> void Start(const char *name, Step step)
    {
        Stop();
        m_stop = false;
        m_thread = std::thread([this, name, step] {
            SetCurrentThreadName(name);
            auto deadline = std::chrono::steady_clock::now();
            std::unique_lock<std::mutex> lock(m_mutex);
            while (!m_stop) {
                deadline += kPeriod;
                if (m_wake.wait_until(lock, deadline, [this] { return m_stop; }))
                    break;
                lock.unlock();
                step();
                lock.lock();
            }
        });
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
            m_wake.notify_all();
        }
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
};

class WavFileCapture final : public CaptureBackend {
public:
    WavStatus Open(const std::string &path) { return m_reader.Open(path); }
    const WavFormat &Format() const { return m_reader.Format(); }
    ~WavFileCapture() override { m_pacer.Stop(); }
    void Start(WaveInStream &stream) override
    {
        m_pacer.Start("orvo-wav-in", [this, &stream] {
            int16_t samples[kPeriodSamples] = {};
            size_t got = m_reader.Read(samples, kPeriodSamples); // silence past the end
            (void)got;
            stream.Deliver(samples, kPeriodSamples);
        });
    }
    void Stop() override { m_pacer.Stop(); }

private:
    WavReader m_reader;
    PacedThread m_pacer;
};

class WavFilePlayback final : public PlaybackBackend {
public:
    bool Open(const std::string &path, const WAVEFORMATEX &format)
    {
        return m_writer.Open(path, format.nSamplesPerSec, format.nChannels);
    }
    ~WavFilePlayback() override
    {
        m_pacer.Stop();
        std::lock_guard<std::mutex> lock(m_fileMutex);
        m_writer.Close();
    }
    void Start(WaveOutStream &stream) override
    {
        m_pacer.Start("orvo-wav-out", [this, &stream] {
            int16_t samples[kPeriodSamples];
            size_t got = stream.Read(samples, kPeriodSamples);
            if (got) {
                std::lock_guard<std::mutex> lock(m_fileMutex);
                // The header's sizes follow every period, so the file is a complete WAV at any
                // moment: also when the process ends without a teardown (on Windows the library
                // stays loaded until then).
                if (m_writer.Write(samples, got))
                    m_writer.Finalize();
            }
        });
    }
    void Stop() override { m_pacer.Stop(); }
    void OnReset() override
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        m_writer.Finalize();
    }

private:
    WavWriter m_writer;
    std::mutex m_fileMutex;
    PacedThread m_pacer;
};

} // namespace

std::unique_ptr<CaptureBackend> OpenWavFileCapture(const std::string &path,
                                                   const WAVEFORMATEX &format, MMRESULT *result)
{
    auto device = std::make_unique<WavFileCapture>();
    WavStatus status = device->Open(path);
    if (status == WavStatus::CannotOpen) {
        *result = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    const WavFormat &file = device->Format();
    if (status != WavStatus::Ok || file.channels != format.nChannels ||
        file.sampleRate != format.nSamplesPerSec || file.bitsPerSample != format.wBitsPerSample) {
        *result = WAVERR_BADFORMAT;
        return nullptr;
    }
    *result = MMSYSERR_NOERROR;
    return device;
}

std::unique_ptr<PlaybackBackend> OpenWavFilePlayback(const std::string &path,
                                                     const WAVEFORMATEX &format, MMRESULT *result)
{
    auto device = std::make_unique<WavFilePlayback>();
    if (!device->Open(path, format)) {
        *result = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    *result = MMSYSERR_NOERROR;
    return device;
}

bool IsWavFileName(const std::string &name, std::string *path)
{
    constexpr size_t kPrefixLength = sizeof(kWavFilePrefix) - 1;
    if (name.compare(0, kPrefixLength, kWavFilePrefix) != 0)
        return false;
    *path = name.substr(kPrefixLength);
    return true;
}

} // namespace orvo::platform
