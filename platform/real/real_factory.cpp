// Which real back end serves a device name: "wav:PATH" a WAV file, anything else ALSA.
#include <cstring>

#include "platform/alsa/alsa_devices.h"
#include "platform/wavfile/wav_devices.h"
#include "platform/wave_stream.h"

namespace orvo::platform {

std::unique_ptr<CaptureBackend> OpenCaptureBackend(const std::string &name,
                                                   const WAVEFORMATEX &format, MMRESULT *result)
{
    std::string path;
    if (IsWavFileName(name, &path))
        return OpenWavFileCapture(path, format, result);
    return OpenAlsaCapture(name, format, result);
}

std::unique_ptr<PlaybackBackend> OpenPlaybackBackend(const std::string &name,
                                                     const WAVEFORMATEX &format, MMRESULT *result)
{
    std::string path;
    if (IsWavFileName(name, &path))
        return OpenWavFilePlayback(path, format, result);
    return OpenAlsaPlayback(name, format, result);
}

void ReleaseWaveDeviceCaches() { ReleaseAlsaCaches(); }

} // namespace orvo::platform
