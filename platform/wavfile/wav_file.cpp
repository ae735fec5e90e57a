// RIFF/WAVE: "RIFF" size "WAVE", then chunks; "fmt " gives the format, "data" the samples.
#include "platform/wavfile/wav_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#if !defined(_WIN32)
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orvo::platform {
namespace {

constexpr uint16_t kPcmTag = 1;
constexpr uint16_t kExtensibleTag = 0xFFFE;
constexpr uint16_t kBitsPerSample = 16;
constexpr size_t kFmtMinimum = 16;
constexpr size_t kHeaderBytes = 44;
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFu - (kHeaderBytes - 8);
constexpr uint32_t kStreamDataSize = 0xFFFFFFFFu; // a stream's sizes are unknown: "until the end"
#if !defined(_WIN32)
constexpr int kStreamPollSliceMs = 10;
constexpr mode_t kNewFileMode = 0666; // as fopen creates files: the umask decides

int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
#endif

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

#if !defined(_WIN32)
// Opens `path` without blocking (a FIFO with nobody at the other end would block an ordinary
// open). A regular file comes back as a blocking FILE in *file; anything else as a non-blocking
// descriptor in *stream. False when it cannot be opened.
bool OpenWithoutBlocking(const std::string &path, int flags, const char *mode, std::FILE **file, int *stream)
{
    int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, kNewFileMode);
    if (fd < 0)
        return false;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *stream = fd;
        return true;
    }
    bool ok = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
    if (ok && (flags & O_WRONLY))
        ok = ftruncate(fd, 0) == 0;
    *file = ok ? fdopen(fd, mode) : nullptr;
    if (!*file) {
        ::close(fd);
        return false;
    }
    return true;
}
#endif

} // namespace

WavReader::~WavReader() { Close(); }

void WavReader::Close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
#if !defined(_WIN32)
    if (m_streamFd >= 0)
        ::close(m_streamFd);
#endif
    m_streamFd = -1;
    m_haveCarry = false;
}

WavStatus WavReader::Open(const std::string &path)
{
    Close();
#if defined(_WIN32)
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file)
        return WavStatus::CannotOpen;
#else
    if (!OpenWithoutBlocking(path, O_RDONLY, "rb", &m_file, &m_streamFd))
        return WavStatus::CannotOpen;
    m_headerDeadline = SteadyMilliseconds() + kStreamHeaderWaitMs;
#endif
    WavStatus status = ParseHeader();
    if (status != WavStatus::Ok)
        Close();
    return status;
}

// Reads exactly `count` header bytes: from a file as usual, from a stream as they arrive until
// the header deadline (a FIFO without a writer reads as empty until one comes).
bool WavReader::ReadHeaderBytes(unsigned char *out, size_t count)
{
    if (m_file)
        return std::fread(out, 1, count, m_file) == count;
#if defined(_WIN32)
    (void)out;
    return false;
#else
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(m_streamFd, out + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        int64_t left = m_headerDeadline - SteadyMilliseconds();
        if (left <= 0) {
            m_headerTimedOut = true;
            return false;
        }
        // Empty now (or no writer yet): wait a little, never past the deadline.
        pollfd waitFor{m_streamFd, POLLIN, 0};
        if (::poll(&waitFor, 1, static_cast<int>(std::min<int64_t>(left, kStreamPollSliceMs))) > 0 &&
            (waitFor.revents & POLLIN) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(kStreamPollSliceMs)); // hung up
    }
    return true;
#endif
}

bool WavReader::SkipHeaderBytes(uint64_t count)
{
    if (m_file)
        return count <= static_cast<uint64_t>(0x7FFFFFFF) &&
               std::fseek(m_file, static_cast<long>(count), SEEK_CUR) == 0;
    unsigned char scratch[256];
    while (count > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, sizeof scratch));
        if (!ReadHeaderBytes(scratch, n))
            return false;
        count -= n;
    }
    return true;
}

WavStatus WavReader::ParseHeader()
{
    m_headerTimedOut = false;
    // A stream that did not send its header in time is missing rather than wrong: the device
    // reports it as absent and the capture thread tries again later.
    auto failed = [this](WavStatus status) { return m_headerTimedOut ? WavStatus::CannotOpen : status; };
    unsigned char riff[12];
    if (!ReadHeaderBytes(riff, sizeof riff))
        return failed(WavStatus::NotWav);
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return WavStatus::NotWav;
    bool haveFormat = false;
    for (;;) {
        unsigned char chunk[8];
        if (!ReadHeaderBytes(chunk, sizeof chunk))
            return failed(haveFormat ? WavStatus::Truncated : WavStatus::NotWav);
        uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[kFmtMinimum];
            if (size < kFmtMinimum)
                return WavStatus::NotWav;
            if (!ReadHeaderBytes(fmt, sizeof fmt))
                return failed(WavStatus::NotWav);
            m_format.formatTag = Le16(fmt);
            m_format.channels = Le16(fmt + 2);
            m_format.sampleRate = Le32(fmt + 4);
            m_format.bitsPerSample = Le16(fmt + 14);
            if (m_format.formatTag == kExtensibleTag)
                m_format.formatTag = kPcmTag; // sub-format checked by the bits and rate alone
            haveFormat = true;
            size -= kFmtMinimum;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat || m_format.formatTag != kPcmTag || m_format.bitsPerSample != kBitsPerSample)
                return WavStatus::NotWav;
            // A stream's writer cannot know the size: 0 or the largest value mean "to the end".
            m_dataBytes = IsStream() && (size == 0 || size == kStreamDataSize) ? UINT64_MAX : size;
            m_dataRead = 0;
            return WavStatus::Ok;
        }
        // Chunks are padded to an even size.
        if (!SkipHeaderBytes(static_cast<uint64_t>(size) + (size & 1)))
            return failed(WavStatus::Truncated);
    }
}

size_t WavReader::Read(int16_t *samples, size_t count)
{
    if (!m_file && m_streamFd < 0)
        return 0;
    uint64_t left = (m_dataBytes - m_dataRead) / sizeof(int16_t);
    if (count > left)
        count = static_cast<size_t>(left);
    unsigned char bytes[512];
    size_t done = 0;
    while (done < count) {
        size_t n = std::min(count - done, sizeof bytes / sizeof(int16_t));
        size_t got = 0;
        if (m_file) {
            got = std::fread(bytes, sizeof(int16_t), n, m_file);
        } else {
#if !defined(_WIN32)
            // Only what has arrived: a stream that has nothing now gives nothing now.
            size_t have = m_haveCarry ? 1 : 0;
            bytes[0] = m_carry;
            ssize_t r;
            do {
                r = ::read(m_streamFd, bytes + have, 2 * n - have);
            } while (r < 0 && errno == EINTR);
            size_t total = have + (r > 0 ? static_cast<size_t>(r) : 0);
            got = total / 2;
            m_haveCarry = (total & 1) != 0;
            if (m_haveCarry)
                m_carry = bytes[total - 1];
#endif
        }
        for (size_t i = 0; i < got; ++i)
            samples[done + i] = static_cast<int16_t>(Le16(bytes + 2 * i));
        done += got;
        m_dataRead += got * sizeof(int16_t);
        if (got < n)
            break; // the file is shorter than its header says, or the stream has no more yet
    }
    return done;
}

WavWriter::~WavWriter() { Close(); }

bool WavWriter::Open(const std::string &path, uint32_t sampleRate, uint16_t channels)
{
    Close();
    m_sampleRate = sampleRate;
    m_channels = channels;
    m_dataBytes = 0;
    m_havePending = false;
#if defined(_WIN32)
    m_file = std::fopen(path.c_str(), "wb");
#else
    // A FIFO that nobody reads fails here at once (ENXIO) instead of blocking.
    if (!OpenWithoutBlocking(path, O_WRONLY | O_CREAT, "wb", &m_file, &m_streamFd))
        return false;
#endif
    if (m_streamFd >= 0) {
        unsigned char header[kHeaderBytes];
        WriteHeader(header, kStreamDataSize);
        if (!WriteStream(header, sizeof header) || m_havePending) {
            Close();
            return false;
        }
        return true;
    }
    if (!m_file)
        return false;
    return Finalize();
}

bool WavWriter::Write(const int16_t *samples, size_t count)
{
    if (!m_file && m_streamFd < 0)
        return false;
    unsigned char bytes[512];
    size_t done = 0;
    while (done < count) {
        size_t n = std::min(count - done, sizeof bytes / sizeof(int16_t));
        if (m_file && m_dataBytes + n * sizeof(int16_t) > kMaxDataBytes)
            return false; // a RIFF file cannot grow beyond 4 GiB
        for (size_t i = 0; i < n; ++i)
            Put16(bytes + 2 * i, static_cast<uint16_t>(samples[done + i]));
        if (m_file) {
            if (std::fwrite(bytes, sizeof(int16_t), n, m_file) != n)
                return false;
        } else if (!WriteStream(bytes, n * sizeof(int16_t))) {
            return false;
        }
        m_dataBytes += n * sizeof(int16_t);
        done += n;
    }
    return true;
}

// Gives a stream what it takes now; the rest is dropped, except the second byte of a sample cut in
// two, which goes first next time so the samples stay aligned. False once the reader has gone.
bool WavWriter::WriteStream(const unsigned char *bytes, size_t count)
{
#if defined(_WIN32)
    (void)bytes;
    (void)count;
    return false;
#else
    // A reader that has gone raises SIGPIPE, which would end the host: blocked here, and the
    // pending one taken back, so that only the EPIPE result remains.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    bool ok = true;
    auto put = [&](const unsigned char *data, size_t length) -> size_t {
        ssize_t n;
        do {
            n = ::write(m_streamFd, data, length);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && errno == EPIPE) {
            const timespec now{0, 0};
            sigtimedwait(&pipeSignal, nullptr, &now);
            ok = false;
        }
        return n > 0 ? static_cast<size_t>(n) : 0;
    };
    if (m_havePending) {
        if (put(&m_pending, 1) == 1)
            m_havePending = false;
    }
    if (!m_havePending && ok) {
        size_t written = put(bytes, count);
        if (written < count && (written & 1)) {
            m_pending = bytes[written];
            m_havePending = true;
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
#endif
}

void WavWriter::WriteHeader(unsigned char *header, uint32_t dataBytes) const
{
    const uint16_t align = static_cast<uint16_t>(m_channels * sizeof(int16_t));
    std::memcpy(header, "RIFF", 4);
    Put32(header + 4, dataBytes == kStreamDataSize ? kStreamDataSize
                                                   : static_cast<uint32_t>(kHeaderBytes - 8 + dataBytes));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    Put32(header + 16, kFmtMinimum);
    Put16(header + 20, kPcmTag);
    Put16(header + 22, m_channels);
    Put32(header + 24, m_sampleRate);
    Put32(header + 28, m_sampleRate * align);
    Put16(header + 32, align);
    Put16(header + 34, kBitsPerSample);
    std::memcpy(header + 36, "data", 4);
    Put32(header + 40, dataBytes);
}

bool WavWriter::Finalize()
{
    if (m_streamFd >= 0)
        return true; // a stream's header went out once, with its sizes left open
    if (!m_file)
        return false;
    unsigned char header[kHeaderBytes];
    WriteHeader(header, static_cast<uint32_t>(m_dataBytes));
    long end = static_cast<long>(kHeaderBytes + m_dataBytes);
    bool ok = std::fseek(m_file, 0, SEEK_SET) == 0 &&
              std::fwrite(header, 1, sizeof header, m_file) == sizeof header &&
              std::fseek(m_file, end, SEEK_SET) == 0 && std::fflush(m_file) == 0;
    return ok;
}

bool WavWriter::Close()
{
#if !defined(_WIN32)
    if (m_streamFd >= 0) {
        bool closed = ::close(m_streamFd) == 0;
        m_streamFd = -1;
        return closed;
    }
#endif
    if (!m_file)
        return true;
    bool ok = Finalize();
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    return ok;
}

} // namespace orvo::platform
