// WAV (RIFF/WAVE) files of voice audio: 8000 Hz, one channel, 16-bit PCM, little-endian.
//
// The reader walks the RIFF chunks, checks every size against the file and refuses any other
// format with a message that names what it found and what is needed.
#ifndef ORVO_TOOL_WAV_FILE_H
#define ORVO_TOOL_WAV_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::tool {

// The "fmt " chunk as found in a file.
struct WavFormat {
    uint16_t format_tag = 0; // 1 integer PCM, 3 IEEE float, 0xFFFE extensible, ...
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint32_t byte_rate = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
    uint16_t sub_format_tag = 0; // first two bytes of the extensible sub-format GUID, else 0
};

// The most samples a WAV file can hold: its RIFF size field is 32 bits and counts 36 header bytes.
constexpr uint64_t kMaxWavSamples = (0xFFFFFFFFull - 36) / 2;

// "16-bit PCM, 2 channels, 44100 Hz" and the like.
std::string DescribeWavFormat(const WavFormat &format);

// Parses a whole WAV file held in memory. On success `samples` holds the data chunk; otherwise
// `error` says what is wrong (with the byte offset where it applies) and `samples` is untouched.
bool ParseVoiceWav(const uint8_t *data, size_t size, std::vector<int16_t> *samples, std::string *error);

// A canonical 44-byte-header WAV file of 8000 Hz mono 16-bit PCM holding `samples`.
std::vector<uint8_t> SerializeVoiceWav(const int16_t *samples, size_t count);
inline std::vector<uint8_t> SerializeVoiceWav(const std::vector<int16_t> &samples)
{
    return SerializeVoiceWav(samples.data(), samples.size());
}

} // namespace orvo::tool

#endif
