// RIFF/WAVE: "RIFF" size "WAVE", then chunks; "fmt " gives the format, "data" the samples.
#include "platform/wavfile/wav_file.h"

#include <algorithm>
#include <cstring>

namespace orvo::platform {
namespace {

constexpr uint16_t kPcmTag = 1;
constexpr uint16_t kExtensibleTag = 0xFFFE;
constexpr uint16_t kBitsPerSample = 16;
constexpr size_t kFmtMinimum = 16;
constexpr size_t kHeaderBytes = 44;
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFu - (kHeaderBytes - 8);

uint16_t Le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(unsigned char *p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

} // namespace

WavReader::~WavReader() { Close(); }

void WavReader::Close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

WavStatus WavReader::Open(const std::string &path)
{
    Close();
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file)
        return WavStatus::CannotOpen;
    unsigned char riff[12];
    if (std::fread(riff, 1, sizeof riff, m_file) != sizeof riff || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        Close();
        return WavStatus::NotWav;
    }
    bool haveFormat = false;
    for (;;) {
        unsigned char chunk[8];
        if (std::fread(chunk, 1, sizeof chunk, m_file) != sizeof chunk) {
            Close();
            return haveFormat ? WavStatus::Truncated : WavStatus::NotWav;
        }
        uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[kFmtMinimum];
            if (size < kFmtMinimum || std::fread(fmt, 1, sizeof fmt, m_file) != sizeof fmt) {
                Close();
                return WavStatus::NotWav;
            }
            m_format.formatTag = Le16(fmt);
            m_format.channels = Le16(fmt + 2);
            m_format.sampleRate = Le32(fmt + 4);
            m_format.bitsPerSample = Le16(fmt + 14);
            if (m_format.formatTag == kExtensibleTag)
                m_format.formatTag = kPcmTag; // sub-format checked by the bits and rate alone
            haveFormat = true;
            size -= kFmtMinimum;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat || m_format.formatTag != kPcmTag ||
                m_format.bitsPerSample != kBitsPerSample) {
                Close();
                return WavStatus::NotWav;
            }
            m_dataBytes = size;
            m_dataRead = 0;
            return WavStatus::Ok;
        }
        // Chunks are padded to an even size.
        if (std::fseek(m_file, static_cast<long>(size) + (size & 1), SEEK_CUR) != 0) {
            Close();
            return WavStatus::Truncated;
        }
    }
}

size_t WavReader::Read(int16_t *samples, size_t count)
{
    if (!m_file)
        return 0;
    uint64_t left = (m_dataBytes - m_dataRead) / sizeof(int16_t);
    if (count > left)
        count = static_cast<size_t>(left);
    unsigned char bytes[512];
    size_t done = 0;
    while (done < count) {
        size_t n = std::min(count - done, sizeof bytes / sizeof(int16_t));
        size_t got = std::fread(bytes, sizeof(int16_t), n, m_file);
        for (size_t i = 0; i < got; ++i)
            samples[done + i] = static_cast<int16_t>(Le16(bytes + 2 * i));
        done += got;
        m_dataRead += got * sizeof(int16_t);
        if (got < n)
            break; // the file is shorter than its header says
    }
    return done;
}

WavWriter::~WavWriter() { Close(); }

bool WavWriter::Open(const std::string &path, uint32_t sampleRate, uint16_t channels)
{
    Close();
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return false;
    m_sampleRate = sampleRate;
    m_channels = channels;
    m_dataBytes = 0;
    return Finalize();
}

bool WavWriter::Write(const int16_t *samples, size_t count)
{
    if (!m_file)
        return false;
    unsigned char bytes[512];
    size_t done = 0;
    while (done < count) {
        size_t n = std::min(count - done, sizeof bytes / sizeof(int16_t));
        if (m_dataBytes + n * sizeof(int16_t) > kMaxDataBytes)
            return false; // a RIFF file cannot grow beyond 4 GiB
        for (size_t i = 0; i < n; ++i)
            Put16(bytes + 2 * i, static_cast<uint16_t>(samples[done + i]));
        if (std::fwrite(bytes, sizeof(int16_t), n, m_file) != n)
            return false;
        m_dataBytes += n * sizeof(int16_t);
        done += n;
    }
    return true;
}

bool WavWriter::Finalize()
{
    if (!m_file)
        return false;
    unsigned char header[kHeaderBytes];
    const uint16_t align = static_cast<uint16_t>(m_channels * sizeof(int16_t));
    std::memcpy(header, "RIFF", 4);
    Put32(header + 4, static_cast<uint32_t>(kHeaderBytes - 8 + m_dataBytes));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    Put32(header + 16, kFmtMinimum);
    Put16(header + 20, kPcmTag);
    Put16(header + 22, m_channels);
    Put32(header + 24, m_sampleRate);
    Put32(header + 28, m_sampleRate * align);
    Put16(header + 32, align);
    Put16(header + 34, kBitsPerSample);
    std::memcpy(header + 36, "data", 4);
    Put32(header + 40, static_cast<uint32_t>(m_dataBytes));
    long end = static_cast<long>(kHeaderBytes + m_dataBytes);
    bool ok = std::fseek(m_file, 0, SEEK_SET) == 0 &&
              std::fwrite(header, 1, sizeof header, m_file) == sizeof header &&
              std::fseek(m_file, end, SEEK_SET) == 0 && std::fflush(m_file) == 0;
    return ok;
}

bool WavWriter::Close()
{
    if (!m_file)
        return true;
    bool ok = Finalize();
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    return ok;
}

} // namespace orvo::platform
