// What the wave calls of both directions share: the open-argument checks, the handle-then-header
// order of the block calls, closing, and the guard that turns a failure inside a back end into a
// result.
#ifndef ORVO_PLATFORM_CORE_WAVE_CALLS_H
#define ORVO_PLATFORM_CORE_WAVE_CALLS_H

#include <new>

#include "platform/wave_stream.h"

namespace orvo::platform {
// Record the moments CaptureStartMicros() and PlaybackStartMicros() report (stream_times.cpp).
void NoteCaptureStart();
void NotePlaybackStart(); // also starts the count of starved reads afresh
void NotePlaybackStarved();
void NotePlaybackSamples(size_t samples);
} // namespace orvo::platform

namespace orvo::platform::wave_calls {

// Back ends start threads and allocate: a failure there becomes a result, never an exception.
template <typename Call> MMRESULT Guarded(Call call)
{
    try {
        return call();
    } catch (const std::bad_alloc &) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

// Both directions open the selected device, for polling only, in the talk PCM format.
inline MMRESULT CheckOpenArguments(const void *handle, uint32_t deviceId, const WAVEFORMATEX *format,
                                   uintptr_t callback, uintptr_t instance, uint32_t openFlags)
{
    if (!handle || !format)
        return MMSYSERR_INVALPARAM;
    if (openFlags != CALLBACK_NULL || callback != 0 || instance != 0)
        return MMSYSERR_INVALFLAG;
    if (deviceId != WAVE_MAPPER && deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    if (!IsSupportedFormat(*format))
        return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

// A call on one block: the handle is checked first, then the header.
template <typename Stream>
MMRESULT OnBlock(Stream *stream, WAVEHDR *header, uint32_t headerSize, MMRESULT (Stream::*call)(WAVEHDR *))
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    return header && headerSize >= sizeof(WAVEHDR) ? (stream->*call)(header) : MMSYSERR_INVALPARAM;
}

// A call on the device as a whole.
template <typename Stream> MMRESULT OnStream(Stream *stream, MMRESULT (Stream::*call)())
{
    return Guarded([&]() -> MMRESULT { return stream ? (stream->*call)() : MMSYSERR_INVALHANDLE; });
}

// Closing is refused while blocks are queued; the handle is unmarked before it is freed, so that a
// stale copy of it is refused rather than used.
template <typename Device, typename Stream> MMRESULT CloseDevice(Device *handle, Stream *stream)
{
    return Guarded([&]() -> MMRESULT {
        if (!stream)
            return MMSYSERR_INVALHANDLE;
        const MMRESULT result = stream->PrepareClose();
        if (result != MMSYSERR_NOERROR)
            return result;
        handle->magic = 0;
        delete handle;
        return MMSYSERR_NOERROR;
    });
}

} // namespace orvo::platform::wave_calls

#endif // ORVO_PLATFORM_CORE_WAVE_CALLS_H
