// The few file-system operations the tool helpers build on, one implementation per system
// (file_system_posix.cpp, file_system_win32.cpp, chosen by the build). Everything above this
// layer (file_io.cpp and the tools) is the same code on every system.
#ifndef ORVO_TOOL_FILE_SYSTEM_H
#define ORVO_TOOL_FILE_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo::tool::filesystem {

// A system error code (errno, or GetLastError on Windows); 0 is no error.
using ErrorCode = unsigned long;

// The system's text for an error code ("No such file or directory").
std::string ErrorText(ErrorCode code);

// What a path names, symbolic links followed.
enum class PathKind {
    kMissing,   // nothing there (or a link to nothing)
    kRegular,   // a regular file: replaced by renaming a complete new file over it
    kDirectory, // a directory: never an output
    kOther,     // a device, FIFO, socket, console...: written through in place
};

struct PathInfo {
    PathKind kind = PathKind::kMissing;
    // For kRegular: the file itself with every link resolved, the name a replacement is renamed
    // onto (so a link keeps pointing at its file). Otherwise the path as given.
    std::string target;
};

bool InspectPath(const std::string &path, PathInfo *info, ErrorCode *error);

// An open file; the value is an fd or a HANDLE, whichever the system uses.
struct FileHandle {
    intptr_t value = -1;
    bool IsOpen() const { return value != -1; }
};

enum class OpenMode {
    kRead,          // an existing file, for reading
    kCreateNew,     // a new file that must not exist yet, for writing
    kWriteExisting, // an existing file or device, for writing from its start (no truncation)
};

bool OpenFile(const std::string &path, OpenMode mode, FileHandle *file, ErrorCode *error);
// True when the open file is a regular file, and in `is_directory` whether it is a directory.
bool IsRegularFile(FileHandle file, bool *is_directory, ErrorCode *error);
// Reads up to `size` bytes; 0 in `got` at the end of the file.
bool ReadSome(FileHandle file, uint8_t *data, size_t size, size_t *got, ErrorCode *error);
// Writes every byte, retrying short writes and interruptions.
bool WriteAll(FileHandle file, const uint8_t *data, size_t size, ErrorCode *error);
// Closes the file; a failure here can be the first report of a failed write.
bool CloseFile(FileHandle *file, ErrorCode *error);

// Replaces `to` (a regular file or nothing) with `from` in one step.
bool RenameOver(const std::string &from, const std::string &to, ErrorCode *error);
void RemoveFile(const std::string &path);

// True when both paths exist and name the same file (links followed).
bool SameFile(const std::string &a, const std::string &b);
// True when `path` names the file that this process's standard output writes to.
bool IsStandardOutput(const std::string &path);

// True when the error says that a file of that name exists already.
bool IsAlreadyExists(ErrorCode error);

unsigned long ProcessId();

// The directory part of a path, with its trailing separator ("" for a bare name).
std::string DirectoryOf(const std::string &path);

} // namespace orvo::tool::filesystem

#endif
