// Minimal RIFF/WAVE reading and writing of 16-bit PCM, for the wav:PATH devices.
#ifndef ORVO_PLATFORM_WAV_FILE_H
#define ORVO_PLATFORM_WAV_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace orvo::platform {

struct WavFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 0;
};

enum class WavStatus { Ok, CannotOpen, NotWav, Truncated };

// Reads 16-bit samples from the data chunk of a WAV file.
class WavReader {
public:
    WavReader() = default;
    ~WavReader();
    WavReader(const WavReader &) = delete;
    WavReader &operator=(const WavReader &) = delete;

    WavStatus Open(const std::string &path);
    const WavFormat &Format() const { return m_format; }
    uint64_t SampleCount() const { return m_dataBytes / sizeof(int16_t); }
    // Reads up to `count` samples; returns how many were read (fewer at the end of the data).
    size_t Read(int16_t *samples, size_t count);
    void Close();

private:
    std::FILE *m_file = nullptr;
    WavFormat m_format;
    uint64_t m_dataBytes = 0;
    uint64_t m_dataRead = 0;
};

// Writes a 16-bit PCM WAV; the header's sizes are brought up to date by Finalize() and Close().
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    bool Open(const std::string &path, uint32_t sampleRate, uint16_t channels);
    bool Write(const int16_t *samples, size_t count);
    // Writes the current sizes into the header and flushes, so the file is complete as it stands.
    bool Finalize();
    bool Close();
    uint64_t SamplesWritten() const { return m_dataBytes / sizeof(int16_t); }

private:
    std::FILE *m_file = nullptr;
    uint32_t m_sampleRate = 0;
    uint16_t m_channels = 0;
    uint64_t m_dataBytes = 0;
};

} // namespace orvo::platform

#endif // ORVO_PLATFORM_WAV_FILE_H
