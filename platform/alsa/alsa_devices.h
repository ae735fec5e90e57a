// ALSA capture and playback devices: 16-bit little-endian, mono, 8000 Hz, moved by a device thread.
#ifndef ORVO_PLATFORM_ALSA_DEVICES_H
#define ORVO_PLATFORM_ALSA_DEVICES_H

#include <memory>
#include <string>

#include "platform/wave_stream.h"

namespace orvo::platform {

// `name` is an ALSA PCM name; empty means "default". A device that cannot be opened or set to the
// format gives null and a wave result (MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED, WAVERR_BADFORMAT,
// MMSYSERR_ERROR). ALSA's own error printing is switched off: the library never prints.
std::unique_ptr<CaptureBackend> OpenAlsaCapture(const std::string &name, const WAVEFORMATEX &format,
                                                MMRESULT *result);
std::unique_ptr<PlaybackBackend> OpenAlsaPlayback(const std::string &name,
                                                  const WAVEFORMATEX &format, MMRESULT *result);

// Frees ALSA's global configuration (read at the first open) when none of our PCMs is open; the
// next open reads it again.
void ReleaseAlsaCaches();

} // namespace orvo::platform

#endif // ORVO_PLATFORM_ALSA_DEVICES_H
