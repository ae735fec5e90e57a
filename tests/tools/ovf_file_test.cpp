#include <gtest/gtest.h>

#include "orvo_tool/codec_types.h"
#include "orvo_tool/ovf_file.h"
#include "orvoaudio/voice.h"

namespace orvo::tool {
namespace {

// A well-formed file whose frames look as the encoder writes them (the payload is a pattern).
OvfFile MakeOvf(int16_t type_number, int block, uint32_t sample_count)
{
    const CodecTypeInfo &type = *FindCodecType(type_number);
    const BlockPlan plan = PlanBlock(type, block);
    EXPECT_TRUE(plan.usable) << plan.problem;
    OvfFile file;
    file.header.codec_type = type_number;
    file.header.block_samples = static_cast<uint16_t>(block);
    file.header.sample_count = sample_count;
    file.header.frame_count = (sample_count + static_cast<uint32_t>(block) - 1) / static_cast<uint32_t>(block);
    file.frame_bytes = static_cast<size_t>(plan.frame_bytes);
    for (uint32_t k = 0; k < file.header.frame_count; ++k) {
        std::vector<uint8_t> frame(file.frame_bytes);
        frame[1] = 0x01;
        frame[2] = static_cast<uint8_t>(plan.words);
        for (size_t i = 4; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + k);
        if (type.family == CodecFamily::Adpcm) {
            frame[6] = static_cast<uint8_t>(k % 89);
            frame[7] = 0;
        }
        file.frames.insert(file.frames.end(), frame.begin(), frame.end());
    }
    return file;
}

bool Parse(const std::vector<uint8_t> &bytes, OvfFile *file, OvfError *error)
{
    return ParseOvf(bytes.data(), bytes.size(), file, error);
}

TEST(OvfFile, EveryTypeRoundTripsWithTheDocumentedLayout)
{
    for (const CodecTypeInfo &type : AllCodecTypes()) {
        const int block = DefaultBlockFor(type);
        for (uint32_t samples : {0u, 1u, static_cast<uint32_t>(block), static_cast<uint32_t>(3 * block + 1)}) {
            SCOPED_TRACE(std::string(type.name) + " samples " + std::to_string(samples));
            const OvfFile file = MakeOvf(type.number, block, samples);
            const std::vector<uint8_t> bytes = SerializeOvf(file);
            ASSERT_EQ(bytes.size(), kOvfHeaderBytes + file.frames.size());
            const std::vector<uint8_t> header_start = {'O', 'V', 'F', '1', 1, 0, 24, 0,
                                                       static_cast<uint8_t>(type.number), 0,
                                                       static_cast<uint8_t>(block), static_cast<uint8_t>(block >> 8)};
            EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12), header_start);
            EXPECT_EQ(bytes[16] | bytes[17] << 8 | bytes[18] << 16 | bytes[19] << 24, static_cast<int>(samples));
            EXPECT_EQ(bytes[20] | bytes[21] << 8, 8000);

            OvfFile read;
            OvfError error;
            ASSERT_TRUE(Parse(bytes, &read, &error)) << error.message;
            EXPECT_EQ(read.header.codec_type, type.number);
            EXPECT_EQ(read.header.block_samples, block);
            EXPECT_EQ(read.header.frame_count, file.header.frame_count);
            EXPECT_EQ(read.header.sample_count, samples);
            EXPECT_EQ(read.frame_bytes, file.frame_bytes);
            EXPECT_EQ(read.frames, file.frames);
        }
    }
}

TEST(OvfFile, TruncationAtEveryOffsetNamesTheOffsetAndTheFrame)
{
    const OvfFile file = MakeOvf(VOICE_G711_U, 80, 240); // three frames of 84 bytes
    const std::vector<uint8_t> bytes = SerializeOvf(file);
    ASSERT_EQ(bytes.size(), 24u + 3 * 84);
    for (size_t size = 0; size < bytes.size(); ++size) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        OvfFile untouched;
        OvfError error;
        ASSERT_FALSE(Parse(prefix, &untouched, &error));
        EXPECT_TRUE(untouched.frames.empty());
        EXPECT_EQ(error.offset, size);
        EXPECT_EQ(error.message.rfind("byte offset " + std::to_string(size) + ": ", 0), 0u) << error.message;
        if (size >= kOvfHeaderBytes) {
            const size_t frame = (size - kOvfHeaderBytes) / 84;
            EXPECT_NE(error.message.find("inside frame " + std::to_string(frame) + " of 3, which starts at byte offset " +
                                         std::to_string(kOvfHeaderBytes + frame * 84)),
                      std::string::npos)
                << error.message;
        } else if (size > 0) {
            EXPECT_NE(error.message.find("inside the 24-byte header"), std::string::npos) << error.message;
        }
    }
}

struct Corruption {
    const char *name;
    int16_t type;
    size_t at;         // byte to overwrite
    std::vector<uint8_t> value;
    uint64_t offset;   // offset the error must name
    const char *expected;
};

TEST(OvfFile, CorruptFieldsAreRefusedAtTheirOffset)
{
    // G.711 blocks of 160: frames of 164 bytes from offset 24. DVI4 blocks of 160: 88 bytes.
    const std::vector<Corruption> cases = {
        {"magic", VOICE_G711_U, 0, {'R'}, 0, "not an .ovf file"},
        {"version", VOICE_G711_U, 4, {2}, 4, "version 2 is not supported"},
        {"header size", VOICE_G711_U, 6, {32}, 6, "header size 32, need 24"},
        {"codec type 0", VOICE_G711_U, 8, {0}, 8, "unknown codec type 0"},
        {"codec type 8", VOICE_G711_U, 8, {8}, 8, "unknown codec type 8"},
        {"codec type 40", VOICE_G711_U, 8, {40}, 8, "unknown codec type 40"},
        {"block 0", VOICE_G711_U, 10, {0, 0}, 10, "outside 1..481"},
        {"block 482", VOICE_G711_U, 10, {0xE2, 0x01}, 10, "outside 1..481"},
        {"undecodable block", VOICE_G711_U, 10, {100, 0}, 10, "refused by the decoder"},
        {"block with fewer samples", VOICE_ADPCM_DVI4, 10, {2, 0}, 10, "carry no samples"},
        {"frame count", VOICE_G711_U, 12, {3}, 12, "frame count 3 does not match 320 samples in blocks of 160 (2 frames)"},
        {"sample count", VOICE_G711_U, 16, {0x41, 0x01}, 12, "does not match 321 samples"},
        {"sample count beyond WAV", VOICE_G711_U, 16, {0xFF, 0xFF, 0xFF, 0xFF}, 16, "more than a WAV file holds"},
        {"sample rate", VOICE_G711_U, 20, {0x44, 0xAC}, 20, "sample rate 44100 Hz, need 8000"},
        {"reserved", VOICE_G711_U, 22, {1}, 22, "reserved field is 0x0001"},
        {"marker kind", VOICE_G711_U, 24 + 164 + 1, {0x02}, 24 + 164, "frame 1 of 2: marker 0x0200, need 0x0100"},
        {"marker low byte", VOICE_G711_U, 24, {0x80}, 24, "frame 0 of 2: marker 0x0180"},
        {"length", VOICE_G711_U, 24 + 2, {40}, 26, "frame 0 of 2: length 40 words, need 80 for g711u blocks of 160"},
        {"frame reserved", VOICE_G711_U, 24 + 164 + 3, {5}, 24 + 164 + 3, "frame 1 of 2: reserved byte 5"},
        {"ADPCM step index", VOICE_ADPCM_DVI4, 24 + 88 + 6, {89}, 24 + 88 + 6, "frame 1 of 2: ADPCM step index 89 is above 88"},
        {"ADPCM zero byte", VOICE_ADPCM_DVI4, 24 + 7, {1}, 24 + 7, "frame 0 of 2: ADPCM header byte 3 is 1"},
    };
    for (const Corruption &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = SerializeOvf(MakeOvf(c.type, 160, 320));
        std::copy(c.value.begin(), c.value.end(), bytes.begin() + static_cast<std::ptrdiff_t>(c.at));
        OvfError error;
        ASSERT_FALSE(Parse(bytes, nullptr, &error));
        EXPECT_EQ(error.offset, c.offset) << error.message;
        EXPECT_NE(error.message.find(c.expected), std::string::npos) << error.message;
    }
}

TEST(OvfFile, BytesAfterTheLastFrameAreRefused)
{
    std::vector<uint8_t> bytes = SerializeOvf(MakeOvf(VOICE_G726_32K, 160, 160));
    const size_t end = bytes.size();
    bytes.push_back(0);
    OvfError error;
    ASSERT_FALSE(Parse(bytes, nullptr, &error));
    EXPECT_EQ(error.offset, end);
    EXPECT_NE(error.message.find("1 bytes after the last frame"), std::string::npos) << error.message;
}

} // namespace
} // namespace orvo::tool
