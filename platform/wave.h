// Sound input and output in blocks, with the semantics of the classic multimedia wave calls.
//
// A block is a WAVEHDR: the caller owns the header and its data buffer, prepares it once, then
// queues it (waveInAddBuffer / waveOutWrite). The device works through the queued blocks strictly in
// the order they were queued; when it has filled (input) or played (output) a block it stores the
// byte count in dwBytesRecorded (input) and sets WHDR_DONE in dwFlags with a release store. The caller
// sees completion only by polling the done flag (IsWaveHeaderDone: an acquire load), after which the
// block's data is the caller's again. No callbacks run.
//
// Input drops what it captures while no block is queued. Output plays silence while nothing is
// queued or while paused.
//
// The device opened is the one selected for its direction with SelectWaveDevice (default: the system
// default device). Formats: PCM, 16 bits, one channel, 8000 samples per second.
//
// Names and values follow the classic wave interface so that code written against it reads the same.
// Constants are plain constexpr values: a source file that also includes the system's <mmsystem.h>
// includes this header first.
#ifndef ORVO_PLATFORM_WAVE_H
#define ORVO_PLATFORM_WAVE_H

#include <atomic>
#include <cstdint>
#include <string>

namespace orvo::platform {

using MMRESULT = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;       // unspecified device failure
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2; // no such device / device missing
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;   // device busy
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33; // block (or device) still has queued blocks
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu; // "the selected device", like device 0
constexpr uint32_t CALLBACK_NULL = 0;         // the only notification mode: polling
constexpr uint16_t WAVE_FORMAT_PCM = 1;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;     // the device has finished with the block
constexpr uint32_t WHDR_PREPARED = 0x02; // prepared for the device
constexpr uint32_t WHDR_INQUEUE = 0x10;  // queued on the device

#pragma pack(push, 1)
// A sound format, 18 bytes in the classic layout.
struct WAVEFORMATEX {
    uint16_t wFormatTag;      // WAVE_FORMAT_PCM
    uint16_t nChannels;       // 1
    uint32_t nSamplesPerSec;  // 8000
    uint32_t nAvgBytesPerSec; // nSamplesPerSec * nBlockAlign
    uint16_t nBlockAlign;     // nChannels * wBitsPerSample / 8
    uint16_t wBitsPerSample;  // 16
    uint16_t cbSize;          // extra format bytes, 0 for PCM
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX has the classic 18-byte layout");

// One block of sound. dwFlags is written by the device thread, hence atomic; the other fields are
// the caller's while the block is not queued, and the device's (dwBytesRecorded) while it is.
struct WAVEHDR {
    char *lpData = nullptr;         // the caller's data buffer
    uint32_t dwBufferLength = 0;    // its length in bytes (output: bytes to play)
    uint32_t dwBytesRecorded = 0;   // input: bytes filled in when done
    uintptr_t dwUser = 0;           // the caller's word
    std::atomic<uint32_t> dwFlags{0};
    uint32_t dwLoops = 0;           // unused
    WAVEHDR *lpNext = nullptr;      // the device's queue link
    uintptr_t reserved = 0;
};

// Sets every field of a header to zero (WAVEHDR holds an atomic, so it is not memset).
void ClearWaveHeader(WAVEHDR *header);

inline bool IsWaveHeaderDone(const WAVEHDR *header)
{
    return (header->dwFlags.load(std::memory_order_acquire) & WHDR_DONE) != 0;
}

// The PCM format the talk service uses: 16-bit, mono, 8000 samples per second.
WAVEFORMATEX TalkPcmFormat();

struct WaveInDevice;
struct WaveOutDevice;
using HWAVEIN = WaveInDevice *;
using HWAVEOUT = WaveOutDevice *;

// Input. `deviceId` is WAVE_MAPPER or 0; `callback`/`instance` must be 0 and `openFlags`
// CALLBACK_NULL. The handle is stored only on success.
MMRESULT waveInOpen(HWAVEIN *handle, uint32_t deviceId, const WAVEFORMATEX *format,
                    uintptr_t callback, uintptr_t instance, uint32_t openFlags);
// Fails with WAVERR_STILLPLAYING while blocks are queued (waveInReset first).
MMRESULT waveInClose(HWAVEIN handle);
MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize);
MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize);
// Queues a prepared block: clears its done flag and bytes recorded.
MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize);
MMRESULT waveInStart(HWAVEIN handle);
// Stops capturing; the block being filled is returned done, empty ones stay queued.
MMRESULT waveInStop(HWAVEIN handle);
// Stops capturing and returns every queued block done (with what it holds so far).
MMRESULT waveInReset(HWAVEIN handle);

// Output. The device starts unpaused; blocks play as soon as they are written.
MMRESULT waveOutOpen(HWAVEOUT *handle, uint32_t deviceId, const WAVEFORMATEX *format,
                     uintptr_t callback, uintptr_t instance, uint32_t openFlags);
MMRESULT waveOutClose(HWAVEOUT handle);
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize);
MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize);
// Queues a prepared block for playing (dwBufferLength bytes; 0 is allowed): clears its done flag.
MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize);
MMRESULT waveOutPause(HWAVEOUT handle);
MMRESULT waveOutRestart(HWAVEOUT handle);
// Stops playing and returns every queued block done. The pause state is kept.
MMRESULT waveOutReset(HWAVEOUT handle);

// Device selection, per direction, used by the next open of that direction.
enum class WaveDirection : int32_t { Capture = 0, Playback = 1 };
// Null or "default": the system default device. "wav:PATH": a WAV file (input reads an 8000 Hz
// mono 16-bit WAV paced in real time; output writes one). Other names are the back end's device
// names (ALSA PCM names). False, selection unchanged, for an empty name, "wav:" without a path or a
// name longer than kMaxDeviceNameLength.
bool SelectWaveDevice(WaveDirection direction, const char *name);
// The current selection; empty for the system default.
std::string SelectedWaveDevice(WaveDirection direction);
constexpr size_t kMaxDeviceNameLength = 4096;

// Frees what the back ends keep process-wide between devices (ALSA's global configuration, about
// 100 kB that would otherwise be lost at each unload of the library). Does nothing while a device
// of the back end is open. Called by the talk service's teardown, after its devices are closed.
void ReleaseWaveDeviceCaches();
constexpr const char kWavFilePrefix[] = "wav:";

} // namespace orvo::platform

#endif // ORVO_PLATFORM_WAVE_H
