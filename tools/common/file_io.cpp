#include "orvo_tool/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orvo::tool {
namespace {

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr int kMaxTempAttempts = 100;

std::string SystemError(const std::string &what, const std::string &path, int err)
{
    return what + " " + path + ": " + std::strerror(err);
}

// Writes all bytes, retrying short writes and interruptions.
bool WriteAll(int fd, const uint8_t *data, size_t size, int *err)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// "dir/.name.tmp-<pid>-<n>": in the target's directory so the rename stays on one file system.
std::string TempPathFor(const std::string &path, int attempt)
{
    static std::atomic<unsigned> counter{0};
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1) + static_cast<unsigned>(attempt));
}

} // namespace

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *data, std::string *error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = SystemError("cannot open", path, errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int err = errno;
        ::close(fd);
        *error = SystemError("cannot read", path, err);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        *error = "cannot read " + path + (S_ISDIR(info.st_mode) ? ": it is a directory" : ": not a regular file");
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            *error = SystemError("cannot read", path, err);
            return false;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    *data = std::move(bytes);
    return true;
}

bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &data, std::string *error)
{
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < kMaxTempAttempts && fd < 0; ++attempt) {
        temp = TempPathFor(path, attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *error = SystemError("cannot create a file next to", path, errno);
        return false;
    }
    int err = 0;
    bool ok = WriteAll(fd, data.data(), data.size(), &err);
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        *error = SystemError("cannot write", path, err);
    }
    return ok;
}

} // namespace orvo::tool
