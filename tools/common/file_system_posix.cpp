// The file-system layer on POSIX systems.
#include "file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvo::tool::filesystem {
namespace {

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file

int Fd(FileHandle file) { return static_cast<int>(file.value); }

ErrorCode LastError() { return static_cast<ErrorCode>(errno); }

bool SameInode(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

} // namespace

std::string ErrorText(ErrorCode code) { return std::strerror(static_cast<int>(code)); }

bool InspectPath(const std::string &path, PathInfo *info, ErrorCode *error)
{
    info->kind = PathKind::kMissing;
    info->target = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        *error = LastError();
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        info->kind = PathKind::kDirectory;
    } else if (S_ISREG(st.st_mode)) {
        info->kind = PathKind::kRegular;
        char *resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved) {
            *error = LastError();
            return false;
        }
        info->target = resolved;
        std::free(resolved);
    } else {
        info->kind = PathKind::kOther;
    }
    return true;
}

bool OpenFile(const std::string &path, OpenMode mode, FileHandle *file, ErrorCode *error)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case OpenMode::kRead: flags |= O_RDONLY; break;
    case OpenMode::kCreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
    case OpenMode::kWriteExisting: flags |= O_WRONLY | O_NOCTTY; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, kNewFileMode);
    } while (fd < 0 && errno == EINTR); // opening a FIFO waits for its reader
    if (fd < 0) {
        *error = LastError();
        return false;
    }
    file->value = fd;
    return true;
}

bool IsRegularFile(FileHandle file, bool *is_directory, ErrorCode *error)
{
    struct stat st {};
    if (::fstat(Fd(file), &st) != 0) {
        *error = LastError();
        return false;
    }
    *is_directory = S_ISDIR(st.st_mode);
    return S_ISREG(st.st_mode);
}

bool ReadSome(FileHandle file, uint8_t *data, size_t size, size_t *got, ErrorCode *error)
{
    for (;;) {
        const ssize_t n = ::read(Fd(file), data, size);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            return true;
        }
        if (errno != EINTR) {
            *error = LastError();
            return false;
        }
    }
}

bool WriteAll(FileHandle file, const uint8_t *data, size_t size, ErrorCode *error)
{
    while (size > 0) {
        const ssize_t n = ::write(Fd(file), data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = LastError();
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CloseFile(FileHandle *file, ErrorCode *error)
{
    const int fd = Fd(*file);
    file->value = -1;
    if (::close(fd) != 0 && errno != EINTR) { // after EINTR the descriptor is gone all the same
        *error = LastError();
        return false;
    }
    return true;
}

bool RenameOver(const std::string &from, const std::string &to, ErrorCode *error)
{
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    *error = LastError();
    return false;
}

void RemoveFile(const std::string &path) { ::unlink(path.c_str()); }

bool SameFile(const std::string &a, const std::string &b)
{
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && SameInode(sa, sb);
}

bool IsStandardOutput(const std::string &path)
{
    struct stat out {}, st {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &st) == 0 && SameInode(out, st);
}

bool IsAlreadyExists(ErrorCode error) { return error == EEXIST; }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

std::string DirectoryOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace orvo::tool::filesystem
