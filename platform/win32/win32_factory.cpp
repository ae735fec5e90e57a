// Which Windows back end serves a device name: "wav:PATH" a WAV file, anything else winmm.
#include "platform/wavfile/wav_devices.h"
#include "platform/win32/wave_winmm.h"

namespace orvo::platform {

std::unique_ptr<CaptureBackend> OpenCaptureBackend(const std::string &name,
                                                   const WAVEFORMATEX &format, MMRESULT *result)
{
    std::string path;
    if (IsWavFileName(name, &path))
        return OpenWavFileCapture(path, format, result);
    return OpenWinmmCapture(name, format, result);
}

std::unique_ptr<PlaybackBackend> OpenPlaybackBackend(const std::string &name,
                                                     const WAVEFORMATEX &format, MMRESULT *result)
{
    std::string path;
    if (IsWavFileName(name, &path))
        return OpenWavFilePlayback(path, format, result);
    return OpenWinmmPlayback(name, format, result);
}

void ReleaseWaveDeviceCaches() {} // winmm keeps nothing of ours

} // namespace orvo::platform
