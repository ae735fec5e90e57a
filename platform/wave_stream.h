// Inside the wave layer: the block queues that every back end shares, and the back-end interface.
//
// WaveInStream / WaveOutStream keep the queued blocks (linked through WAVEHDR::lpNext, so queueing
// allocates nothing), check every call and set the flags; a back end only moves samples:
//   capture:  the back end calls Deliver() with what it captured; the stream fills the queued blocks
//             in order and drops what finds no block;
//   playback: the back end calls Read() for what it is about to play; the stream copies from the
//             queued blocks in order and marks each block done once all of it has been read.
// Back-end calls (Start/Stop) are never made while a stream lock is held, so a back-end thread may
// call Deliver/Read at any time.
#ifndef ORVO_PLATFORM_WAVE_STREAM_H
#define ORVO_PLATFORM_WAVE_STREAM_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/wave.h"

namespace orvo::platform {

class WaveInStream;
class WaveOutStream;

class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;
    // Begin calling stream.Deliver() with captured samples.
    virtual void Start(WaveInStream &stream) = 0;
    // Stop capturing; no Deliver() call runs after this returns.
    virtual void Stop() = 0;
    // Asked before waveInReset does anything; a failure is returned by waveInReset unchanged.
    virtual MMRESULT CheckReset() { return MMSYSERR_NOERROR; }
};

class PlaybackBackend {
public:
    virtual ~PlaybackBackend() = default;
    // Begin calling stream.Read() and playing what it returns (silence when it returns less).
    virtual void Start(WaveOutStream &stream) = 0;
    // Stop playing; no Read() call runs after this returns.
    virtual void Stop() = 0;
    // Called under the stream lock when a block is queued, and when it has been read to its end.
    virtual void OnBlockQueued(const WAVEHDR &) {}
    virtual void OnBlockPlayed(const WAVEHDR &) {}
    // Called after waveOutReset returned the queued blocks (e.g. to make a file consistent).
    virtual void OnReset() {}
};

// Opens the back end for `name` (the selection; empty = system default). Null with the reason in
// *result when the device cannot be used. Each back-end set (real, virtual) defines these.
std::unique_ptr<CaptureBackend> OpenCaptureBackend(const std::string &name,
                                                   const WAVEFORMATEX &format, MMRESULT *result);
std::unique_ptr<PlaybackBackend> OpenPlaybackBackend(const std::string &name,
                                                     const WAVEFORMATEX &format, MMRESULT *result);

// True for the one format the devices take (see TalkPcmFormat).
bool IsSupportedFormat(const WAVEFORMATEX &format);

class WaveInStream {
public:
    explicit WaveInStream(std::unique_ptr<CaptureBackend> backend);
    ~WaveInStream();

    MMRESULT Prepare(WAVEHDR *header);
    MMRESULT Unprepare(WAVEHDR *header);
    MMRESULT AddBuffer(WAVEHDR *header);
    MMRESULT Start();
    MMRESULT Stop();
    MMRESULT Reset();
    // Stops the back end; fails with WAVERR_STILLPLAYING while blocks are queued.
    MMRESULT PrepareClose();

    // Back-end side. Stores samples in the queued blocks, in order; returns how many found room
    // (the rest are dropped) and adds the number of blocks it finished to *blocksDone.
    // Nothing is stored while the stream is not started.
    size_t Deliver(const int16_t *samples, size_t count, uint64_t *blocksDone = nullptr);
    // Bytes recorded so far in the block being filled, or -1 when none is queued.
    int64_t HeadBytesRecorded();
    // Returns the block being filled now as done, with the bytes it holds (a short block).
    void CompleteHeadBlock();
    // Waits until a block is queued and the stream started, or `timeout` passes.
    bool WaitForQueuedBlock(std::chrono::milliseconds timeout);
    bool HasQueuedBlock();
    // Samples that the queued blocks can still take (0 while not started).
    size_t QueuedRoom();

private:
    void CompleteHeadLocked();

    std::unique_ptr<CaptureBackend> m_backend;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    WAVEHDR *m_head = nullptr;
    WAVEHDR *m_tail = nullptr;
    bool m_started = false;
    bool m_backendRunning = false;
    std::mutex m_controlMutex; // serialises Start/Stop/Reset/Close of the back end
};

class WaveOutStream {
public:
    explicit WaveOutStream(std::unique_ptr<PlaybackBackend> backend);
    ~WaveOutStream();

    MMRESULT Prepare(WAVEHDR *header);
    MMRESULT Unprepare(WAVEHDR *header);
    MMRESULT Write(WAVEHDR *header);
    MMRESULT Pause();
    MMRESULT Restart();
    MMRESULT Reset();
    MMRESULT PrepareClose();
    // Starts the back end (done once, at open).
    void StartBackend();

    // Back-end side. Copies up to `maxSamples` queued samples into `out`, marking each block done
    // once read to its end (an empty block as soon as it is reached). 0 while paused.
    size_t Read(int16_t *out, size_t maxSamples);
    // Waits until something can be read, or `timeout` passes.
    bool WaitForData(std::chrono::milliseconds timeout);

private:
    std::unique_ptr<PlaybackBackend> m_backend;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    WAVEHDR *m_head = nullptr;
    WAVEHDR *m_tail = nullptr;
    uint32_t m_headOffset = 0; // bytes of the head block already read
    bool m_paused = false;
    bool m_played = false;       // a sample has been read
    bool m_lastReadFull = false; // the latest read found all it asked for
    bool m_backendRunning = false;
};

} // namespace orvo::platform

#endif // ORVO_PLATFORM_WAVE_STREAM_H
