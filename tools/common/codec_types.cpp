#include "orvo_tool/codec_types.h"

#include <cctype>
#include <charconv>

#include "orvoaudio/voice.h"

namespace orvo::tool {
namespace {

constexpr int kDecodedSampleStep = 80; // G.711 and G.726 frames decode to multiples of 80 samples
constexpr int kAdpcmHeaderWords = 2;   // AdpcmBlockHeader
constexpr int kAdpcmMaxWords = 122;
constexpr int kBitsPerWord = 16;

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string WholeBlockHint(const CodecTypeInfo &type)
{
    switch (type.family) {
    case CodecFamily::Adpcm:
        return type.number == VOICE_ADPCM_IMA ? "4k + 1 samples, e.g. 161" : "multiples of 4, e.g. 160";
    default:
        return "80, 160, 240, 320, 400 or 480";
    }
}

} // namespace

const std::vector<CodecTypeInfo> &AllCodecTypes()
{
    static const std::vector<CodecTypeInfo> types = {
        {VOICE_G711_A, "g711a", "VOICE_G711_A", "G.711 A-law", CodecFamily::G711, 8, 64000},
        {VOICE_G711_U, "g711u", "VOICE_G711_U", "G.711 mu-law", CodecFamily::G711, 8, 64000},
        {VOICE_ADPCM_DVI4, "dvi4", "VOICE_ADPCM_DVI4",
         "IMA ADPCM, header holds the predictor, high nibble first", CodecFamily::Adpcm, 4, 32000},
        {VOICE_ADPCM_IMA, "ima", "VOICE_ADPCM_IMA",
         "IMA ADPCM, header holds the first sample, low nibble first", CodecFamily::Adpcm, 4, 32000},
        {VOICE_G726_16K, "g726-16", "VOICE_G726_16K", "G.726 16 kbit/s, LSB first", CodecFamily::G726, 2, 16000},
        {VOICE_G726_24K, "g726-24", "VOICE_G726_24K", "G.726 24 kbit/s, LSB first", CodecFamily::G726, 3, 24000},
        {VOICE_G726_32K, "g726-32", "VOICE_G726_32K", "G.726 32 kbit/s, LSB first", CodecFamily::G726, 4, 32000},
        {VOICE_G726_40K, "g726-40", "VOICE_G726_40K", "G.726 40 kbit/s, LSB first", CodecFamily::G726, 5, 40000},
        {VOICE_G726_16K_MSB, "g726-16-msb", "VOICE_G726_16K_MSB", "G.726 16 kbit/s, MSB first",
         CodecFamily::G726, 2, 16000},
        {VOICE_G726_24K_MSB, "g726-24-msb", "VOICE_G726_24K_MSB", "G.726 24 kbit/s, MSB first",
         CodecFamily::G726, 3, 24000},
        {VOICE_G726_32K_MSB, "g726-32-msb", "VOICE_G726_32K_MSB", "G.726 32 kbit/s, MSB first",
         CodecFamily::G726, 4, 32000},
        {VOICE_G726_40K_MSB, "g726-40-msb", "VOICE_G726_40K_MSB", "G.726 40 kbit/s, MSB first",
         CodecFamily::G726, 5, 40000},
    };
    return types;
}

const CodecTypeInfo *FindCodecType(int number)
{
    for (const CodecTypeInfo &type : AllCodecTypes())
        if (type.number == number) return &type;
    return nullptr;
}

const CodecTypeInfo *ParseCodecType(std::string_view text)
{
    for (const CodecTypeInfo &type : AllCodecTypes())
        if (EqualsIgnoreCase(text, type.name) || EqualsIgnoreCase(text, type.constant)) return &type;
    int number = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, number);
    if (text.empty() || ec != std::errc() || ptr != end) return nullptr;
    return FindCodecType(number);
}

std::string CodecTypeNames()
{
    std::string names;
    for (const CodecTypeInfo &type : AllCodecTypes()) {
        if (!names.empty()) names += ", ";
        names += type.name;
    }
    return names;
}

int FrameWordsForBlock(const CodecTypeInfo &type, int block)
{
    switch (type.family) {
    case CodecFamily::G711:
        return block / 2;
    case CodecFamily::Adpcm:
        return type.number == VOICE_ADPCM_IMA ? (block - 1) / 4 + kAdpcmHeaderWords
                                               : block / 4 + kAdpcmHeaderWords;
    case CodecFamily::G726:
        return block * type.bits_per_code / kBitsPerWord;
    }
    return 0;
}

int DecodedSamplesForWords(const CodecTypeInfo &type, int words)
{
    switch (type.family) {
    case CodecFamily::G711:
        return 2 * words;
    case CodecFamily::Adpcm:
        return type.number == VOICE_ADPCM_IMA ? 4 * words - 7 : 4 * (words - kAdpcmHeaderWords);
    case CodecFamily::G726:
        return kBitsPerWord * words / type.bits_per_code;
    }
    return 0;
}

bool DecoderAcceptsWords(const CodecTypeInfo &type, int words)
{
    if (words <= 0) return false;
    if (type.family == CodecFamily::Adpcm)
        // A length of 1 holds half a block header; the decoder refuses it.
        return words >= kAdpcmHeaderWords && words <= kAdpcmMaxWords;
    const int samples = DecodedSamplesForWords(type, words);
    return samples <= kMaxBlockSamples && samples % kDecodedSampleStep == 0;
}

int DefaultBlockFor(const CodecTypeInfo &type)
{
    return type.number == VOICE_ADPCM_IMA ? kDefaultImaBlockSamples : kDefaultBlockSamples;
}

BlockPlan PlanBlock(const CodecTypeInfo &type, int block)
{
    BlockPlan plan;
    plan.block = block;
    if (block < 1 || block > kMaxBlockSamples) {
        plan.problem = "a block of " + std::to_string(block) + " samples is outside 1.." +
                       std::to_string(kMaxBlockSamples);
        return plan;
    }
    plan.words = FrameWordsForBlock(type, block);
    plan.frame_bytes = FrameBytesForWords(plan.words);
    const std::string what = std::string(type.name) + " frames of " + std::to_string(block) +
                             " samples (length " + std::to_string(plan.words) + " words)";
    if (!DecoderAcceptsWords(type, plan.words)) {
        plan.problem = what + " are refused by the decoder; use blocks of " + WholeBlockHint(type) +
                       " samples";
        return plan;
    }
    plan.carried = DecodedSamplesForWords(type, plan.words);
    if (plan.carried <= 0) {
        plan.problem = what + " carry no samples; use blocks of " + WholeBlockHint(type) + " samples";
        return plan;
    }
    plan.usable = true;
    if (plan.carried < block) {
        plan.warning = what + " carry only their first " + std::to_string(plan.carried) +
                       " samples; the rest of each block is lost";
        // G.726 codes an even count and its coder state runs on in both directions, so samples
        // coded but not carried put the decoder out of step with the encoder.
        const int coded = block & ~1;
        if (type.family == CodecFamily::G726 && coded > plan.carried)
            plan.warning += ", and the encoder codes " + std::to_string(coded - plan.carried) +
                            " of them each frame that the decoder never sees, so the two drift apart";
        plan.warning += " (whole blocks: " + WholeBlockHint(type) + ")";
    }
    return plan;
}

} // namespace orvo::tool
