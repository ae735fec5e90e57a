#include "orvo_tool/ovf_file.h"

#include <cstdio>
#include <cstring>

#include "orvo_tool/byte_order.h"
#include "orvo_tool/codec_types.h"
#include "orvo_tool/wav_file.h"

namespace orvo::tool {
namespace {

// Header field offsets.
constexpr size_t kVersionAt = 4;
constexpr size_t kHeaderBytesAt = 6;
constexpr size_t kCodecTypeAt = 8;
constexpr size_t kBlockAt = 10;
constexpr size_t kFrameCountAt = 12;
constexpr size_t kSampleCountAt = 16;
constexpr size_t kSampleRateAt = 20;
constexpr size_t kReservedAt = 22;

// Frame field offsets, from the start of a frame.
constexpr size_t kMarkerAt = 0;
constexpr size_t kLengthAt = 2;
constexpr size_t kFrameReservedAt = 3;
constexpr size_t kAdpcmStepIndexAt = 6;
constexpr size_t kAdpcmZeroAt = 7;
constexpr uint16_t kVoiceMarker = 0x0100;
constexpr int kAdpcmMaxStepIndex = 88;

bool Fail(OvfError *error, uint64_t offset, const std::string &message)
{
    if (error) {
        error->offset = offset;
        error->message = "byte offset " + std::to_string(offset) + ": " + message;
    }
    return false;
}

std::string Hex16(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

} // namespace

std::vector<uint8_t> SerializeOvf(const OvfFile &file)
{
    std::vector<uint8_t> out(kOvfHeaderBytes + file.frames.size());
    uint8_t *p = out.data();
    std::memcpy(p, kOvfMagic, sizeof kOvfMagic);
    WriteLe16(p + kVersionAt, kOvfVersion);
    WriteLe16(p + kHeaderBytesAt, static_cast<uint16_t>(kOvfHeaderBytes));
    WriteLe16(p + kCodecTypeAt, static_cast<uint16_t>(file.header.codec_type));
    WriteLe16(p + kBlockAt, file.header.block_samples);
    WriteLe32(p + kFrameCountAt, file.header.frame_count);
    WriteLe32(p + kSampleCountAt, file.header.sample_count);
    WriteLe16(p + kSampleRateAt, static_cast<uint16_t>(kSampleRate));
    WriteLe16(p + kReservedAt, 0);
    if (!file.frames.empty()) std::memcpy(p + kOvfHeaderBytes, file.frames.data(), file.frames.size());
    return out;
}

bool ParseOvf(const uint8_t *data, size_t size, OvfFile *file, OvfError *error)
{
    if (size == 0) return Fail(error, 0, "the file is empty; need an .ovf file");
    if (size < sizeof kOvfMagic || std::memcmp(data, kOvfMagic, sizeof kOvfMagic) != 0) {
        if (size >= sizeof kOvfMagic || std::memcmp(data, kOvfMagic, size) != 0)
            return Fail(error, 0, "not an .ovf file (no \"OVF1\" magic)");
    }
    if (size < kOvfHeaderBytes)
        return Fail(error, size, "the file ends after " + std::to_string(size) + " bytes, inside the " +
                                     std::to_string(kOvfHeaderBytes) + "-byte header");
    const uint16_t version = ReadLe16(data + kVersionAt);
    if (version != kOvfVersion)
        return Fail(error, kVersionAt, "version " + std::to_string(version) + " is not supported (this reader takes " +
                                           std::to_string(kOvfVersion) + ")");
    const uint16_t header_bytes = ReadLe16(data + kHeaderBytesAt);
    if (header_bytes != kOvfHeaderBytes)
        return Fail(error, kHeaderBytesAt, "header size " + std::to_string(header_bytes) + ", need " +
                                               std::to_string(kOvfHeaderBytes));
    OvfHeader header;
    header.codec_type = static_cast<int16_t>(ReadLe16(data + kCodecTypeAt));
    const CodecTypeInfo *type = FindCodecType(header.codec_type);
    if (!type)
        return Fail(error, kCodecTypeAt, "unknown codec type " + std::to_string(header.codec_type) +
                                             " (known: 1-7, 35-39)");
    header.block_samples = ReadLe16(data + kBlockAt);
    const BlockPlan plan = PlanBlock(*type, header.block_samples);
    if (!plan.usable) return Fail(error, kBlockAt, plan.problem);
    header.frame_count = ReadLe32(data + kFrameCountAt);
    header.sample_count = ReadLe32(data + kSampleCountAt);
    if (header.sample_count > kMaxWavSamples)
        return Fail(error, kSampleCountAt, "sample count " + std::to_string(header.sample_count) +
                                               " is more than a WAV file holds");
    const uint64_t frames_needed =
        (static_cast<uint64_t>(header.sample_count) + header.block_samples - 1) / header.block_samples;
    if (header.frame_count != frames_needed)
        return Fail(error, kFrameCountAt, "frame count " + std::to_string(header.frame_count) + " does not match " +
                                              std::to_string(header.sample_count) + " samples in blocks of " +
                                              std::to_string(header.block_samples) + " (" +
                                              std::to_string(frames_needed) + " frames)");
    const uint16_t rate = ReadLe16(data + kSampleRateAt);
    if (rate != kSampleRate)
        return Fail(error, kSampleRateAt, "sample rate " + std::to_string(rate) + " Hz, need 8000");
    const uint16_t reserved = ReadLe16(data + kReservedAt);
    if (reserved != 0) return Fail(error, kReservedAt, "reserved field is " + Hex16(reserved) + ", need 0");

    const size_t frame_bytes = static_cast<size_t>(plan.frame_bytes);
    size_t pos = kOvfHeaderBytes;
    for (uint32_t index = 0; index < header.frame_count; ++index) {
        const std::string frame = "frame " + std::to_string(index) + " of " + std::to_string(header.frame_count);
        if (size - pos < frame_bytes)
            return Fail(error, size, "the file ends inside " + frame + ", which starts at byte offset " +
                                         std::to_string(pos) + " and needs " + std::to_string(frame_bytes) +
                                         " bytes (truncated file)");
        const uint8_t *f = data + pos;
        const uint16_t marker = ReadLe16(f + kMarkerAt);
        if (marker != kVoiceMarker)
            return Fail(error, pos + kMarkerAt, frame + ": marker " + Hex16(marker) + ", need " + Hex16(kVoiceMarker));
        if (f[kLengthAt] != plan.words)
            return Fail(error, pos + kLengthAt, frame + ": length " + std::to_string(f[kLengthAt]) + " words, need " +
                                                    std::to_string(plan.words) + " for " + type->name +
                                                    " blocks of " + std::to_string(header.block_samples) + " samples");
        if (f[kFrameReservedAt] != 0)
            return Fail(error, pos + kFrameReservedAt, frame + ": reserved byte " + std::to_string(f[kFrameReservedAt]) +
                                                           ", need 0");
        if (type->family == CodecFamily::Adpcm) {
            if (f[kAdpcmStepIndexAt] > kAdpcmMaxStepIndex)
                return Fail(error, pos + kAdpcmStepIndexAt, frame + ": ADPCM step index " +
                                                                std::to_string(f[kAdpcmStepIndexAt]) +
                                                                " is above 88");
            if (f[kAdpcmZeroAt] != 0)
                return Fail(error, pos + kAdpcmZeroAt, frame + ": ADPCM header byte 3 is " +
                                                           std::to_string(f[kAdpcmZeroAt]) + ", need 0");
        }
        pos += frame_bytes;
    }
    if (pos != size)
        return Fail(error, pos, std::to_string(size - pos) + " bytes after the last frame");

    if (file) {
        file->header = header;
        file->frame_bytes = frame_bytes;
        file->frames.assign(data + kOvfHeaderBytes, data + size);
    }
    return true;
}

} // namespace orvo::tool
