// Minimal RIFF/WAVE reading and writing of 16-bit PCM, for the wav:PATH devices.
//
// A path that is not a regular file (a FIFO, a character device) is a stream: it is opened without
// blocking (a FIFO that nobody has opened at the other end must never hold up the caller), the
// header is awaited for at most kStreamHeaderWaitMs, and afterwards reads and writes take and give
// only what the stream can move at once; what it cannot take is dropped, like a sound card does.
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

// How long opening a stream waits for its WAV header to arrive.
constexpr int kStreamHeaderWaitMs = 200;

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
    // Reads up to `count` samples; returns how many were read (fewer at the end of the data, and
    // for a stream fewer when no more have arrived yet).
    size_t Read(int16_t *samples, size_t count);
    void Close();
    bool IsStream() const { return m_streamFd >= 0; }

private:
    WavStatus ParseHeader();
    bool ReadHeaderBytes(unsigned char *out, size_t count);
    bool SkipHeaderBytes(uint64_t count);

    std::FILE *m_file = nullptr; // a regular file
    int m_streamFd = -1;         // a stream, non-blocking
    int64_t m_headerDeadline = 0; // steady-clock ms by which a stream's header must have arrived
    bool m_headerTimedOut = false;
    bool m_haveCarry = false;     // a stream's odd byte, the first half of the next sample
    unsigned char m_carry = 0;
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
    bool IsStream() const { return m_streamFd >= 0; }

private:
    bool WriteStream(const unsigned char *bytes, size_t count);
    void WriteHeader(unsigned char *header, uint32_t dataBytes) const;

    std::FILE *m_file = nullptr; // a regular file
    int m_streamFd = -1;         // a stream, non-blocking; its header is written once, sizes open
    bool m_havePending = false;  // the second byte of a sample that a full stream cut in two
    unsigned char m_pending = 0;
    uint32_t m_sampleRate = 0;
    uint16_t m_channels = 0;
    uint64_t m_dataBytes = 0;
};

} // namespace orvo::platform

#endif // ORVO_PLATFORM_WAV_FILE_H
