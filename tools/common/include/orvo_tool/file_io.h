// Whole-file reads, and writes that never leave a partial file behind.
#ifndef ORVO_TOOL_FILE_IO_H
#define ORVO_TOOL_FILE_IO_H

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::tool {

// Reads a regular file whole. On failure `error` says why ("cannot open x.wav: No such file...").
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *data, std::string *error);

// Writes `data` to a new temporary file in the target's directory and renames it over `path`
// only when everything is written, so `path` either gets the whole content or stays as it was.
// The temporary file is removed on any failure.
bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &data, std::string *error);

} // namespace orvo::tool

#endif
