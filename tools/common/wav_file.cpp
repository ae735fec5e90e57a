#include "orvo_tool/wav_file.h"

#include <cstdio>
#include <cstring>

#include "orvo_tool/byte_order.h"
#include "orvo_tool/codec_types.h"

namespace orvo::tool {
namespace {

constexpr size_t kRiffHeaderBytes = 12; // "RIFF", size, "WAVE"
constexpr size_t kChunkHeaderBytes = 8; // id, size
constexpr size_t kFmtMinBytes = 16;     // PCMWAVEFORMAT
constexpr size_t kExtensibleSubFormatOffset = 24;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatALaw = 6;
constexpr uint16_t kFormatMuLaw = 7;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint16_t kVoiceChannels = 1;
constexpr uint16_t kVoiceBits = 16;
constexpr uint16_t kVoiceBlockAlign = kVoiceChannels * kVoiceBits / 8;
constexpr uint32_t kVoiceByteRate = kSampleRate * kVoiceBlockAlign;
constexpr const char *kNeeded = "16-bit integer PCM, 1 channel, 8000 Hz";

std::string Quote4(const uint8_t *p)
{
    std::string text = "'";
    for (int i = 0; i < 4; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F) {
            text += static_cast<char>(p[i]);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", p[i]);
            text += hex;
        }
    }
    return text + "'";
}

bool Fail(std::string *error, size_t offset, const std::string &message)
{
    if (error) *error = "byte offset " + std::to_string(offset) + ": " + message;
    return false;
}

bool Fail(std::string *error, const std::string &message)
{
    if (error) *error = message;
    return false;
}

std::string FormatTagName(uint16_t tag)
{
    switch (tag) {
    case kFormatPcm: return "integer PCM";
    case kFormatFloat: return "IEEE float";
    case kFormatALaw: return "A-law";
    case kFormatMuLaw: return "mu-law";
    case kFormatExtensible: return "extensible format";
    default: {
        char hex[32];
        std::snprintf(hex, sizeof hex, "format tag 0x%04X", tag);
        return hex;
    }
    }
}

} // namespace

std::string DescribeWavFormat(const WavFormat &format)
{
    std::string text = std::to_string(format.bits_per_sample) + "-bit " + FormatTagName(format.format_tag);
    if (format.format_tag == kFormatExtensible)
        text += " (sub-format " + FormatTagName(format.sub_format_tag) + ")";
    text += ", " + std::to_string(format.channels) + (format.channels == 1 ? " channel, " : " channels, ");
    return text + std::to_string(format.sample_rate) + " Hz";
}

bool ParseVoiceWav(const uint8_t *data, size_t size, std::vector<int16_t> *samples, std::string *error)
{
    if (size == 0) return Fail(error, "the file is empty; need a WAV file (" + std::string(kNeeded) + ")");
    if (size < kRiffHeaderBytes)
        return Fail(error, size, "the file ends after " + std::to_string(size) +
                                     " bytes, inside the 12-byte RIFF header");
    if (std::string(reinterpret_cast<const char *>(data), 4) != "RIFF") {
        const std::string found = Quote4(data);
        if (found == "'RIFX'") return Fail(error, 0, "big-endian RIFX file; need a little-endian RIFF WAV file");
        if (found == "'RF64'") return Fail(error, 0, "RF64 file; need a plain RIFF WAV file");
        return Fail(error, 0, "not a RIFF WAV file (starts with " + found + ", need 'RIFF')");
    }
    const uint32_t riff_size = ReadLe32(data + 4);
    if (static_cast<uint64_t>(riff_size) + kChunkHeaderBytes > size)
        return Fail(error, 4, "the RIFF header says the file holds " + std::to_string(riff_size + 8ull) +
                                  " bytes, but it has only " + std::to_string(size) + " (truncated file)");
    if (riff_size < 4) return Fail(error, 4, "RIFF size " + std::to_string(riff_size) + " is too small for a WAVE form");
    if (std::string(reinterpret_cast<const char *>(data + 8), 4) != "WAVE")
        return Fail(error, 8, "RIFF form type is " + Quote4(data + 8) + ", need 'WAVE'");

    const size_t riff_end = kChunkHeaderBytes + riff_size;
    WavFormat format;
    bool have_format = false;
    size_t fmt_offset = 0;
    const uint8_t *pcm = nullptr;
    size_t pcm_bytes = 0;
    size_t data_offset = 0;
    size_t pos = kRiffHeaderBytes;
    while (pos < riff_end) {
        if (riff_end - pos < kChunkHeaderBytes)
            return Fail(error, pos, "chunk header truncated (" + std::to_string(riff_end - pos) +
                                        " bytes left, a chunk header needs 8)");
        const std::string id(reinterpret_cast<const char *>(data + pos), 4);
        const uint32_t chunk_size = ReadLe32(data + pos + 4);
        const size_t body = pos + kChunkHeaderBytes;
        if (chunk_size > riff_end - body)
            return Fail(error, pos, "chunk " + Quote4(data + pos) + " claims " + std::to_string(chunk_size) +
                                        " bytes, but only " + std::to_string(riff_end - body) +
                                        " remain (truncated file)");
        if (id == "fmt ") {
            if (have_format)
                return Fail(error, pos, "a second 'fmt ' chunk (the first is at byte offset " +
                                            std::to_string(fmt_offset) + ")");
            if (chunk_size < kFmtMinBytes)
                return Fail(error, pos, "'fmt ' chunk of " + std::to_string(chunk_size) +
                                            " bytes, need at least 16");
            const uint8_t *f = data + body;
            format.format_tag = ReadLe16(f);
            format.channels = ReadLe16(f + 2);
            format.sample_rate = ReadLe32(f + 4);
            format.byte_rate = ReadLe32(f + 8);
            format.block_align = ReadLe16(f + 12);
            format.bits_per_sample = ReadLe16(f + 14);
            if (format.format_tag == kFormatExtensible && chunk_size >= kExtensibleSubFormatOffset + 2)
                format.sub_format_tag = ReadLe16(f + kExtensibleSubFormatOffset);
            have_format = true;
            fmt_offset = pos;
        } else if (id == "data") {
            if (!have_format) return Fail(error, pos, "'data' chunk before the 'fmt ' chunk");
            if (pcm) return Fail(error, pos, "a second 'data' chunk (the first is at byte offset " +
                                                 std::to_string(data_offset) + ")");
            pcm = data + body;
            pcm_bytes = chunk_size;
            data_offset = pos;
        }
        // Chunks are padded to an even size; a missing pad byte after the last chunk is tolerated.
        pos = body + chunk_size + (chunk_size & 1u);
    }
    if (!have_format) return Fail(error, "no 'fmt ' chunk; need a WAV file (" + std::string(kNeeded) + ")");

    const bool voice_format = format.format_tag == kFormatPcm && format.channels == kVoiceChannels &&
                              format.sample_rate == static_cast<uint32_t>(kSampleRate) &&
                              format.bits_per_sample == kVoiceBits;
    if (!voice_format)
        return Fail(error, "found " + DescribeWavFormat(format) + "; need " + kNeeded);
    if (format.block_align != kVoiceBlockAlign || format.byte_rate != kVoiceByteRate)
        return Fail(error, fmt_offset, "inconsistent 'fmt ' chunk: block align " +
                                           std::to_string(format.block_align) + " and byte rate " +
                                           std::to_string(format.byte_rate) + ", need " +
                                           std::to_string(kVoiceBlockAlign) + " and " +
                                           std::to_string(kVoiceByteRate) + " for " + kNeeded);
    if (!pcm) return Fail(error, "no 'data' chunk");
    if (pcm_bytes % kVoiceBlockAlign != 0)
        return Fail(error, data_offset, "'data' chunk of " + std::to_string(pcm_bytes) +
                                            " bytes is not a whole number of 16-bit samples");

    std::vector<int16_t> out(pcm_bytes / kVoiceBlockAlign);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(ReadLe16(pcm + 2 * i));
    if (samples) *samples = std::move(out);
    return true;
}

std::vector<uint8_t> SerializeVoiceWav(const int16_t *samples, size_t count)
{
    constexpr uint32_t kFmtBytes = 16;
    constexpr size_t kHeaderBytes = kRiffHeaderBytes + kChunkHeaderBytes + kFmtBytes + kChunkHeaderBytes;
    const uint32_t data_bytes = static_cast<uint32_t>(count * kVoiceBlockAlign);
    std::vector<uint8_t> out(kHeaderBytes + data_bytes);
    uint8_t *p = out.data();
    auto tag = [&p](const char *id) {
        std::memcpy(p, id, 4);
        p += 4;
    };
    auto le16 = [&p](uint16_t v) {
        WriteLe16(p, v);
        p += 2;
    };
    auto le32 = [&p](uint32_t v) {
        WriteLe32(p, v);
        p += 4;
    };
    tag("RIFF");
    le32(static_cast<uint32_t>(kHeaderBytes - kChunkHeaderBytes) + data_bytes);
    tag("WAVE");
    tag("fmt ");
    le32(kFmtBytes);
    le16(kFormatPcm);
    le16(kVoiceChannels);
    le32(kSampleRate);
    le32(kVoiceByteRate);
    le16(kVoiceBlockAlign);
    le16(kVoiceBits);
    tag("data");
    le32(data_bytes);
    for (size_t i = 0; i < count; ++i) le16(static_cast<uint16_t>(samples[i]));
    return out;
}

} // namespace orvo::tool
