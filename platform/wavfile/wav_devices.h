// The wav:PATH devices: capture reads a WAV file and playback writes one, both paced in real time
// (one 20 ms period at a time, on the system's steady clock) like a sound card.
#ifndef ORVO_PLATFORM_WAV_DEVICES_H
#define ORVO_PLATFORM_WAV_DEVICES_H

#include <memory>
#include <string>

#include "platform/wave_stream.h"

namespace orvo::platform {

// True for a device name of the form "wav:PATH", with PATH stored in `path`.
bool IsWavFileName(const std::string &name, std::string *path);

// Capture: the file must be 16-bit PCM, mono, 8000 Hz (else WAVERR_BADFORMAT); a missing or
// unreadable file gives MMSYSERR_BADDEVICEID. After the end of the file the device captures silence.
std::unique_ptr<CaptureBackend> OpenWavFileCapture(const std::string &path,
                                                   const WAVEFORMATEX &format, MMRESULT *result);
// Playback: creates (truncates) the file; every played block is appended as it is played (gaps in
// which nothing was queued are not written). The header is brought up to date on reset and close.
std::unique_ptr<PlaybackBackend> OpenWavFilePlayback(const std::string &path,
                                                     const WAVEFORMATEX &format, MMRESULT *result);

} // namespace orvo::platform

#endif // ORVO_PLATFORM_WAV_DEVICES_H
