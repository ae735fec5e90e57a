// The file-system layer on Windows (ANSI paths, as the tools' char arguments arrive).
#include "file_system.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace orvo::tool::filesystem {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kMaxTransfer = 1u << 30; // ReadFile and WriteFile take a DWORD count
constexpr char kDeviceNamespace[] = "\\\\.\\";

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file.value); }

ErrorCode LastError() { return static_cast<ErrorCode>(::GetLastError()); }

bool IsNotFound(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// Opens an existing file or directory without asking for access to its content, links followed.
HANDLE OpenForQuery(const std::string &path)
{
    return ::CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
}

bool FileIdentity(const std::string &path, BY_HANDLE_FILE_INFORMATION *info)
{
    const HANDLE h = OpenForQuery(path);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, info);
    ::CloseHandle(h);
    return ok;
}

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace

std::string ErrorText(ErrorCode code)
{
    char *text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char *>(&text), 0,
                                     nullptr);
    std::string message = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.' ||
                                message.back() == ' '))
        message.pop_back();
    return message;
}

bool InspectPath(const std::string &path, PathInfo *info, ErrorCode *error)
{
    info->kind = PathKind::kMissing;
    info->target = path;
    // Pipes, serial ports and the like: opening one to look at it would take an instance of it.
    if (path.compare(0, sizeof kDeviceNamespace - 1, kDeviceNamespace) == 0) {
        info->kind = PathKind::kOther;
        return true;
    }
    const HANDLE h = OpenForQuery(path);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (IsNotFound(code)) return true;
        *error = code;
        return false;
    }
    BY_HANDLE_FILE_INFORMATION file_info {};
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        info->kind = PathKind::kOther; // NUL, CON and other devices
    } else if (!::GetFileInformationByHandle(h, &file_info)) {
        *error = LastError();
        ::CloseHandle(h);
        return false;
    } else if (file_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        info->kind = PathKind::kDirectory;
    } else {
        info->kind = PathKind::kRegular;
        char resolved[MAX_PATH * 4];
        const DWORD n = ::GetFinalPathNameByHandleA(h, resolved, sizeof resolved, FILE_NAME_NORMALIZED);
        if (n > 0 && n < sizeof resolved) info->target.assign(resolved, n);
    }
    ::CloseHandle(h);
    return true;
}

bool OpenFile(const std::string &path, OpenMode mode, FileHandle *file, ErrorCode *error)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    switch (mode) {
    case OpenMode::kRead: // directories open too, so that the caller can name what it found
        h = ::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        break;
    case OpenMode::kCreateNew:
        h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
    case OpenMode::kWriteExisting:
        h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        *error = LastError();
        return false;
    }
    file->value = reinterpret_cast<intptr_t>(h);
    return true;
}

bool IsRegularFile(FileHandle file, bool *is_directory, ErrorCode *error)
{
    *is_directory = false;
    if (::GetFileType(Handle(file)) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info {};
    if (!::GetFileInformationByHandle(Handle(file), &info)) {
        *error = LastError();
        return false;
    }
    *is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return !*is_directory;
}

bool ReadSome(FileHandle file, uint8_t *data, size_t size, size_t *got, ErrorCode *error)
{
    DWORD n = 0;
    if (!::ReadFile(Handle(file), data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &n, nullptr)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_BROKEN_PIPE) { // the writing end of a pipe closed: its end of file
            *got = 0;
            return true;
        }
        *error = code;
        return false;
    }
    *got = n;
    return true;
}

bool WriteAll(FileHandle file, const uint8_t *data, size_t size, ErrorCode *error)
{
    while (size > 0) {
        DWORD n = 0;
        if (!::WriteFile(Handle(file), data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &n, nullptr)) {
            *error = LastError();
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool CloseFile(FileHandle *file, ErrorCode *error)
{
    const HANDLE h = Handle(*file);
    file->value = -1;
    if (!::CloseHandle(h)) {
        *error = LastError();
        return false;
    }
    return true;
}

bool RenameOver(const std::string &from, const std::string &to, ErrorCode *error)
{
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    *error = LastError();
    return false;
}

void RemoveFile(const std::string &path) { ::DeleteFileA(path.c_str()); }

bool SameFile(const std::string &a, const std::string &b)
{
    BY_HANDLE_FILE_INFORMATION ia {}, ib {};
    return FileIdentity(a, &ia) && FileIdentity(b, &ib) && SameIdentity(ia, ib);
}

bool IsStandardOutput(const std::string &path)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    BY_HANDLE_FILE_INFORMATION io {}, ip {};
    return out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) == FILE_TYPE_DISK &&
           ::GetFileInformationByHandle(out, &io) && FileIdentity(path, &ip) && SameIdentity(io, ip);
}

bool IsAlreadyExists(ErrorCode error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

unsigned long ProcessId() { return ::GetCurrentProcessId(); }

std::string DirectoryOf(const std::string &path)
{
    const size_t slash = path.find_last_of("/\\:");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace orvo::tool::filesystem
