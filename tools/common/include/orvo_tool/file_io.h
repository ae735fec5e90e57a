// Whole-file reads, and output writes that never leave a partial file behind.
#ifndef ORVO_TOOL_FILE_IO_H
#define ORVO_TOOL_FILE_IO_H

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::tool {

// Reads a regular file whole. On failure `error` says why ("cannot open x.wav: No such file...").
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *data, std::string *error);

// Writes `data` as the output `path`:
// - a new name or a regular file (also one reached through symbolic links): the data goes to a new
//   temporary file in the file's own directory, which is renamed over the file only when
//   everything is written, so the file either gets the whole content or stays as it was (a link
//   stays a link to it). The temporary file is removed on any failure.
// - anything else (a device such as /dev/null or /dev/stdout, a FIFO, a console): written through
//   in place, never replaced; a failed write there is reported like any other.
// A directory is refused.
bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &data, std::string *error);

// True when both paths exist and name one file (links followed): an output that is an input.
bool IsSameFile(const std::string &a, const std::string &b);

// True when `path` names the file that standard output writes to (/dev/stdout, or the file it is
// redirected to): a tool writing its output there keeps its messages off standard output.
bool IsStandardOutputFile(const std::string &path);

} // namespace orvo::tool

#endif
