// The system's wave devices through winmm (see wave_winmm.cpp).
#ifndef ORVO_PLATFORM_WIN32_WAVE_WINMM_H
#define ORVO_PLATFORM_WIN32_WAVE_WINMM_H

#include <memory>
#include <string>

#include "platform/wave_stream.h"

namespace orvo::platform {

// `name` empty: the system default device (WAVE_MAPPER); otherwise the device whose product name
// is `name` (MMSYSERR_BADDEVICEID when there is none). Other failures are winmm's own results.
std::unique_ptr<CaptureBackend> OpenWinmmCapture(const std::string &name, const WAVEFORMATEX &format,
                                                 MMRESULT *result);
std::unique_ptr<PlaybackBackend> OpenWinmmPlayback(const std::string &name,
                                                   const WAVEFORMATEX &format, MMRESULT *result);

} // namespace orvo::platform

#endif // ORVO_PLATFORM_WIN32_WAVE_WINMM_H
