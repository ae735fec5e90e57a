// The twelve codec types as the tools name them, with their frame size rules.
#ifndef ORVO_TOOL_CODEC_TYPES_H
#define ORVO_TOOL_CODEC_TYPES_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::tool {

enum class CodecFamily { G711, Adpcm, G726 };

struct CodecTypeInfo {
    int16_t number;          // VOICE_* value
    const char *name;        // tool name, e.g. "g726-32-msb"
    const char *constant;    // header constant, e.g. "VOICE_G726_32K_MSB"
    const char *description; // one line for listings
    CodecFamily family;
    int bits_per_code;
    int bit_rate;            // nominal payload bit rate at 8000 samples/s, bits per second
};

constexpr int kSampleRate = 8000;
constexpr int kMaxBlockSamples = 481;     // HI_VOICE_MAX_SAMPLES
constexpr int kFrameHeaderBytes = 4;      // VoiceFrameHeader
constexpr int kMaxFrameBytes = 484;       // G.711 with 480 or 481 samples
constexpr int kDefaultBlockSamples = 160; // 20 ms, as the talk service codes
// Type 35 carries 4k + 1 samples per frame; 161 is the whole-block size next to 20 ms.
constexpr int kDefaultImaBlockSamples = 161;

// All twelve types in listing order (by family, then rate).
const std::vector<CodecTypeInfo> &AllCodecTypes();
const CodecTypeInfo *FindCodecType(int number);
// Accepts a tool name ("g711u"), a header constant ("VOICE_G711_U") or a number ("2"), case-insensitive.
const CodecTypeInfo *ParseCodecType(std::string_view text);
std::string CodecTypeNames(); // "g711a, g711u, ..." for messages

// Frame size rules of the codec: payload words written for `block` samples, whether the decoder
// accepts a frame of `words`, and how many samples such a frame decodes to.
int FrameWordsForBlock(const CodecTypeInfo &type, int block);
bool DecoderAcceptsWords(const CodecTypeInfo &type, int words);
int DecodedSamplesForWords(const CodecTypeInfo &type, int words);
inline int FrameBytesForWords(int words) { return kFrameHeaderBytes + 2 * words; }

int DefaultBlockFor(const CodecTypeInfo &type);

// What a block size means for a type: frame size, samples carried per frame, and whether the
// decoder takes such frames at all (with the reason and the usable sizes when it does not).
struct BlockPlan {
    int block = 0;
    int words = 0;
    int frame_bytes = 0;
    int carried = 0;     // samples each frame decodes to (the first `carried` of its block)
    bool usable = false; // the decoder accepts the frames and they carry at least one sample
    std::string problem; // why not usable
    std::string warning; // usable, but frames drop samples of their block
};
BlockPlan PlanBlock(const CodecTypeInfo &type, int block);

} // namespace orvo::tool

#endif
