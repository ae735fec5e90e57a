// The .ovf voice frame file: a 24-byte header followed by the codec's frames as
// HI_VOICE_EncodeFrame writes them. All fields are little-endian.
//
//   offset size field
//   0      4    magic          "OVF1"
//   4      2    version        1
//   6      2    header_bytes   24 (where the first frame starts)
//   8      2    codec_type     VOICE_* number (1-7, 35-39)
//   10     2    block_samples  samples handed to the encoder per frame, 1..481
//   12     4    frame_count    number of frames
//   16     4    sample_count   samples of the source; the last block was padded with zeros, so
//                              frame_count = ceil(sample_count / block_samples)
//   20     2    sample_rate    8000
//   22     2    reserved       0
//   24     ...  frames         frame_count frames of 4 + 2 x length bytes each, all of the
//                              length that block_samples gives for the codec type
//
// Every frame has marker 0x0100 (bytes 00 01), that length and reserved 0; ADPCM frames carry a
// step index of 0..88 and a zero byte in their block header. The reader checks all of it and
// names the byte offset of the first thing wrong, so a damaged file is refused whole.
#ifndef ORVO_TOOL_OVF_FILE_H
#define ORVO_TOOL_OVF_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::tool {

constexpr char kOvfMagic[4] = {'O', 'V', 'F', '1'};
constexpr uint16_t kOvfVersion = 1;
constexpr size_t kOvfHeaderBytes = 24;

struct OvfHeader {
    int16_t codec_type = 0;
    uint16_t block_samples = 0;
    uint32_t frame_count = 0;
    uint32_t sample_count = 0;
};

struct OvfFile {
    OvfHeader header;
    size_t frame_bytes = 0;     // bytes of every frame, 4 + 2 x length
    std::vector<uint8_t> frames; // frame_count x frame_bytes bytes, back to back

    const uint8_t *Frame(size_t index) const { return frames.data() + index * frame_bytes; }
};

struct OvfError {
    uint64_t offset = 0; // byte offset of the first missing or wrong byte
    std::string message; // "byte offset N: ..."
};

// The header plus frames as bytes. The caller supplies a consistent OvfFile (as the encoder
// pipeline builds it).
std::vector<uint8_t> SerializeOvf(const OvfFile &file);

// Checks and parses a whole .ovf file. On failure `error` names the offset and the problem and
// `file` is untouched.
bool ParseOvf(const uint8_t *data, size_t size, OvfFile *file, OvfError *error);

} // namespace orvo::tool

#endif
