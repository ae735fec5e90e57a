#include "orvo_tool/file_io.h"

#include <atomic>

#include "file_system.h"

namespace orvo::tool {
namespace {

namespace sys = filesystem;

constexpr int kMaxTempAttempts = 100;
constexpr size_t kReadChunk = 1 << 16;

std::string SystemError(const std::string &what, const std::string &path, sys::ErrorCode err)
{
    return what + " " + path + ": " + sys::ErrorText(err);
}

// "dir/.name.tmp-<pid>-<n>": in the target's directory so the rename stays on one file system.
std::string TempPathFor(const std::string &path, int attempt)
{
    static std::atomic<unsigned> counter{0};
    const std::string dir = sys::DirectoryOf(path);
    const std::string name = path.substr(dir.size());
    return dir + "." + name + ".tmp-" + std::to_string(sys::ProcessId()) + "-" +
           std::to_string(counter.fetch_add(1) + static_cast<unsigned>(attempt));
}

// Writes through to a device, FIFO or console in place.
bool WriteThrough(const std::string &path, const std::vector<uint8_t> &data, std::string *error)
{
    sys::FileHandle file;
    sys::ErrorCode err = 0;
    if (!sys::OpenFile(path, sys::OpenMode::kWriteExisting, &file, &err)) {
        *error = SystemError("cannot open", path, err);
        return false;
    }
    bool ok = sys::WriteAll(file, data.data(), data.size(), &err);
    sys::ErrorCode close_err = 0;
    if (!sys::CloseFile(&file, &close_err) && ok) {
        ok = false;
        err = close_err;
    }
    if (!ok) *error = SystemError("cannot write", path, err);
    return ok;
}

// Writes a complete new file beside `target` and renames it over `target`. Messages name `path`,
// the name the user gave.
bool ReplaceFile(const std::string &path, const std::string &target, const std::vector<uint8_t> &data,
                 std::string *error)
{
    std::string temp;
    sys::FileHandle file;
    sys::ErrorCode err = 0;
    for (int attempt = 0; attempt < kMaxTempAttempts && !file.IsOpen(); ++attempt) {
        temp = TempPathFor(target, attempt);
        if (!sys::OpenFile(temp, sys::OpenMode::kCreateNew, &file, &err) && !sys::IsAlreadyExists(err)) break;
    }
    if (!file.IsOpen()) {
        *error = SystemError("cannot create a file next to", path, err);
        return false;
    }
    bool ok = sys::WriteAll(file, data.data(), data.size(), &err);
    sys::ErrorCode close_err = 0;
    if (!sys::CloseFile(&file, &close_err) && ok) {
        ok = false;
        err = close_err;
    }
    if (ok && !sys::RenameOver(temp, target, &err)) ok = false;
    if (!ok) {
        sys::RemoveFile(temp);
        *error = SystemError("cannot write", path, err);
    }
    return ok;
}

} // namespace

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *data, std::string *error)
{
    sys::FileHandle file;
    sys::ErrorCode err = 0;
    if (!sys::OpenFile(path, sys::OpenMode::kRead, &file, &err)) {
        *error = SystemError("cannot open", path, err);
        return false;
    }
    bool is_directory = false;
    const bool regular = sys::IsRegularFile(file, &is_directory, &err);
    if (!regular) {
        sys::ErrorCode ignored = 0;
        sys::CloseFile(&file, &ignored);
        *error = is_directory ? "cannot read " + path + ": it is a directory"
                 : err        ? SystemError("cannot read", path, err)
                              : "cannot read " + path + ": not a regular file";
        return false;
    }
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> chunk(kReadChunk);
    for (;;) {
        size_t got = 0;
        if (!sys::ReadSome(file, chunk.data(), chunk.size(), &got, &err)) {
            sys::ErrorCode ignored = 0;
            sys::CloseFile(&file, &ignored);
            *error = SystemError("cannot read", path, err);
            return false;
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    }
    sys::CloseFile(&file, &err); // read only: nothing can be lost at close
    *data = std::move(bytes);
    return true;
}

bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &data, std::string *error)
{
    sys::PathInfo info;
    sys::ErrorCode err = 0;
    if (!sys::InspectPath(path, &info, &err)) {
        *error = SystemError("cannot write", path, err);
        return false;
    }
    switch (info.kind) {
    case sys::PathKind::kDirectory: *error = "cannot write " + path + ": it is a directory"; return false;
    case sys::PathKind::kOther: return WriteThrough(path, data, error);
    case sys::PathKind::kRegular: return ReplaceFile(path, info.target, data, error);
    case sys::PathKind::kMissing: break;
    }
    return ReplaceFile(path, path, data, error);
}

bool IsSameFile(const std::string &a, const std::string &b) { return sys::SameFile(a, b); }

bool IsStandardOutputFile(const std::string &path) { return sys::IsStandardOutput(path); }

} // namespace orvo::tool
