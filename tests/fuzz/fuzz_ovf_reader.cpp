// libFuzzer target for the tools' file readers: the .ovf frame file reader and, on the same
// bytes, the WAV reader. A frame file the reader accepts must decode frame by frame; besides the
// raw bytes, every input also becomes a well-formed file (type, block and frame payloads taken
// from the bytes) that the reader must accept, so the codec sees arbitrary payloads of all types.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "orvo_tool/codec_types.h"
#include "orvo_tool/ovf_file.h"
#include "orvo_tool/wav_file.h"
#include "orvoaudio/voice.h"

namespace {

using namespace orvo::tool;

constexpr size_t kMaxSynthesizedFrames = 8;

void DecodeAll(const OvfFile &file)
{
    const BlockPlan plan = PlanBlock(*FindCodecType(file.header.codec_type), file.header.block_samples);
    VoiceCodecState state;
    if (HI_VOICE_DecReset(&state, file.header.codec_type) != 0) return;
    for (size_t k = 0; k < file.header.frame_count; ++k) {
        // Exactly the frame's bytes, so a sanitizer sees any read beyond it.
        std::vector<uint8_t> frame(file.Frame(k), file.Frame(k) + file.frame_bytes);
        int16_t samples[HI_VOICE_MAX_SAMPLES];
        int16_t count = -1;
        if (HI_VOICE_DecodeFrame(&state, frame.data(), samples, &count) != 0 || count != plan.carried) std::abort();
    }
}

void CheckOvf(const uint8_t *data, size_t size)
{
    OvfFile file;
    OvfError error;
    if (!ParseOvf(data, size, &file, &error)) {
        if (error.offset > size || error.message.empty()) std::abort();
        return;
    }
    if (SerializeOvf(file) != std::vector<uint8_t>(data, data + size)) std::abort();
    DecodeAll(file);
}

// Bytes 0-2 choose type and block, the rest fills frame payloads.
void CheckSynthesized(const uint8_t *data, size_t size)
{
    constexpr size_t kChoiceBytes = 3;
    if (size < kChoiceBytes) return;
    const std::vector<CodecTypeInfo> &types = AllCodecTypes();
    const CodecTypeInfo &type = types[data[0] % types.size()];
    const int block = 1 + (data[1] | data[2] << 8) % kMaxBlockSamples;
    const BlockPlan plan = PlanBlock(type, block);
    if (!plan.usable) return;
    const size_t payload = static_cast<size_t>(2 * plan.words);
    const size_t frames = std::min(kMaxSynthesizedFrames, (size - kChoiceBytes) / payload);
    OvfFile file;
    file.header = {type.number, static_cast<uint16_t>(block), static_cast<uint32_t>(frames),
                   static_cast<uint32_t>(frames * static_cast<size_t>(block))};
    file.frame_bytes = static_cast<size_t>(plan.frame_bytes);
    const uint8_t *next = data + kChoiceBytes;
    for (size_t k = 0; k < frames; ++k, next += payload) {
        const size_t start = file.frames.size();
        file.frames.insert(file.frames.end(), {0x00, 0x01, static_cast<uint8_t>(plan.words), 0x00});
        file.frames.insert(file.frames.end(), next, next + payload);
        if (type.family == CodecFamily::Adpcm) { // a valid block header: step index 0..88, zero byte
            file.frames[start + 6] %= 89;
            file.frames[start + 7] = 0;
        }
    }
    const std::vector<uint8_t> bytes = SerializeOvf(file);
    OvfFile parsed;
    OvfError error;
    if (!ParseOvf(bytes.data(), bytes.size(), &parsed, &error)) std::abort();
    DecodeAll(parsed);
}

void CheckWav(const uint8_t *data, size_t size)
{
    std::vector<int16_t> samples;
    std::string error;
    if (!orvo::tool::ParseVoiceWav(data, size, &samples, &error)) {
        if (error.empty()) std::abort();
        return;
    }
    const std::vector<uint8_t> canonical = orvo::tool::SerializeVoiceWav(samples);
    std::vector<int16_t> again;
    if (!orvo::tool::ParseVoiceWav(canonical.data(), canonical.size(), &again, &error) || again != samples)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CheckOvf(data, size);
    CheckSynthesized(data, size);
    CheckWav(data, size);
    return 0;
}
