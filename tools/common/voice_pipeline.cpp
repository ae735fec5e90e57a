#include "orvo_tool/voice_pipeline.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "orvoaudio/voice.h"
#include "orvo_tool/wav_file.h"

namespace orvo::tool {
namespace {

constexpr uint8_t kUnwrittenByte = 0xA5; // fills frame buffers so a short write would show
constexpr size_t kLengthByte = 2;

// Carried samples of frame `index` that stand for source samples.
size_t SamplesFromFrame(size_t index, size_t block, size_t carried, size_t sample_count)
{
    const size_t start = index * block;
    return start >= sample_count ? 0 : std::min(carried, sample_count - start);
}

} // namespace

std::string DescribeCodecStatus(int32_t status)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(status));
    return std::string(hex) + " (" + HI_VOICE_StatusText(status) + ")";
}

bool EncodeToOvf(const CodecTypeInfo &type, int block, const std::vector<int16_t> &pcm, OvfFile *out,
                 std::string *error)
{
    const BlockPlan plan = PlanBlock(type, block);
    if (!plan.usable) {
        *error = plan.problem;
        return false;
    }
    if (pcm.size() > kMaxWavSamples) {
        *error = "more samples than a frame file holds";
        return false;
    }
    VoiceCodecState state;
    int32_t status = HI_VOICE_EncReset(&state, type.number);
    if (status != 0) {
        *error = "HI_VOICE_EncReset(" + std::string(type.name) + ") failed: " + DescribeCodecStatus(status);
        return false;
    }
    const size_t block_size = static_cast<size_t>(block);
    const size_t frame_count = (pcm.size() + block_size - 1) / block_size;
    OvfFile file;
    file.header.codec_type = type.number;
    file.header.block_samples = static_cast<uint16_t>(block);
    file.header.frame_count = static_cast<uint32_t>(frame_count);
    file.header.sample_count = static_cast<uint32_t>(pcm.size());
    file.frame_bytes = static_cast<size_t>(plan.frame_bytes);
    file.frames.reserve(frame_count * file.frame_bytes);

    std::array<int16_t, HI_VOICE_MAX_SAMPLES> samples{};
    std::array<uint8_t, kMaxFrameBytes> frame{};
    for (size_t index = 0; index < frame_count; ++index) {
        const size_t start = index * block_size;
        const size_t take = std::min(block_size, pcm.size() - start);
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(start), take, samples.begin());
        std::fill(samples.begin() + static_cast<std::ptrdiff_t>(take), samples.end(), 0);
        frame.fill(kUnwrittenByte);
        status = HI_VOICE_EncodeFrame(&state, samples.data(), frame.data(), static_cast<int16_t>(block));
        if (status != 0) {
            *error = "HI_VOICE_EncodeFrame failed on frame " + std::to_string(index) + ": " +
                     DescribeCodecStatus(status);
            return false;
        }
        if (frame[kLengthByte] != plan.words) {
            *error = "the encoder wrote frame " + std::to_string(index) + " with length " +
                     std::to_string(frame[kLengthByte]) + " words, expected " + std::to_string(plan.words);
            return false;
        }
        file.frames.insert(file.frames.end(), frame.begin(), frame.begin() + plan.frame_bytes);
    }
    *out = std::move(file);
    return true;
}

bool DecodeOvf(const OvfFile &file, std::vector<int16_t> *pcm, std::string *error)
{
    const CodecTypeInfo *type = FindCodecType(file.header.codec_type);
    const BlockPlan plan = type ? PlanBlock(*type, file.header.block_samples) : BlockPlan{};
    if (!plan.usable || file.frame_bytes != static_cast<size_t>(plan.frame_bytes) ||
        file.frames.size() != file.frame_bytes * file.header.frame_count) {
        *error = "inconsistent frame file";
        return false;
    }
    VoiceCodecState state;
    int32_t status = HI_VOICE_DecReset(&state, type->number);
    if (status != 0) {
        *error = "HI_VOICE_DecReset(" + std::string(type->name) + ") failed: " + DescribeCodecStatus(status);
        return false;
    }
    std::vector<int16_t> out;
    out.reserve(file.header.sample_count);
    // Decoding re-orders MSB-first payloads in place, so every frame is decoded from a copy.
    std::array<uint8_t, kMaxFrameBytes> frame{};
    std::array<int16_t, HI_VOICE_MAX_SAMPLES> samples{};
    for (size_t index = 0; index < file.header.frame_count; ++index) {
        std::copy_n(file.Frame(index), file.frame_bytes, frame.begin());
        int16_t count = 0;
        status = HI_VOICE_DecodeFrame(&state, frame.data(), samples.data(), &count);
        const uint64_t offset = kOvfHeaderBytes + index * file.frame_bytes;
        if (status != 0) {
            *error = "frame " + std::to_string(index) + " at byte offset " + std::to_string(offset) +
                     ": HI_VOICE_DecodeFrame failed: " + DescribeCodecStatus(status);
            return false;
        }
        if (count != plan.carried) {
            *error = "frame " + std::to_string(index) + " at byte offset " + std::to_string(offset) + " decoded to " +
                     std::to_string(count) + " samples, expected " + std::to_string(plan.carried);
            return false;
        }
        const size_t keep = SamplesFromFrame(index, file.header.block_samples, static_cast<size_t>(plan.carried),
                                             file.header.sample_count);
        out.insert(out.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(keep));
    }
    *pcm = std::move(out);
    return true;
}

std::vector<int16_t> CarriedSourceSamples(const std::vector<int16_t> &pcm, const CodecTypeInfo &type, int block)
{
    const BlockPlan plan = PlanBlock(type, block);
    std::vector<int16_t> out;
    if (!plan.usable) return out;
    const size_t block_size = static_cast<size_t>(block);
    const size_t frames = (pcm.size() + block_size - 1) / block_size;
    for (size_t index = 0; index < frames; ++index) {
        const size_t start = index * block_size;
        const size_t keep = SamplesFromFrame(index, block_size, static_cast<size_t>(plan.carried), pcm.size());
        out.insert(out.end(), pcm.begin() + static_cast<std::ptrdiff_t>(start),
                   pcm.begin() + static_cast<std::ptrdiff_t>(start + keep));
    }
    return out;
}

} // namespace orvo::tool
