#include <gtest/gtest.h>

#include <set>

#include "orvo_tool/codec_types.h"
#include "orvoaudio/voice.h"

namespace orvo::tool {
namespace {

TEST(CodecTypes, NamesConstantsAndNumbersSelectTheSameType)
{
    const std::vector<std::pair<std::string, int>> accepted = {
        {"g711a", 1}, {"G711U", 2}, {"dvi4", 3}, {"ima", 35}, {"g726-16", 4}, {"g726-24", 5}, {"g726-32", 6},
        {"g726-40", 7}, {"g726-16-msb", 36}, {"g726-24-msb", 37}, {"g726-32-msb", 38}, {"G726-40-MSB", 39},
        {"VOICE_G711_U", 2}, {"voice_adpcm_ima", 35}, {"VOICE_G726_32K_MSB", 38}, {"6", 6}, {"39", 39}, {"035", 35},
    };
    for (const auto &[text, number] : accepted) {
        const CodecTypeInfo *type = ParseCodecType(text);
        ASSERT_NE(type, nullptr) << text;
        EXPECT_EQ(type->number, number) << text;
    }
    for (const char *text : {"", "0", "8", "34", "40", "-1", "g726", "g711", "6 ", " 6", "6k", "adpcm", "65542"})
        EXPECT_EQ(ParseCodecType(text), nullptr) << "'" << text << "'";

    std::set<int> numbers;
    for (const CodecTypeInfo &type : AllCodecTypes()) numbers.insert(type.number);
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 35, 36, 37, 38, 39}));
}

TEST(CodecTypes, FrameSizeRulesMatchTheCodecTable)
{
    struct Row {
        int type, block, words, carried;
        bool usable;
    };
    const std::vector<Row> rows = {
        {VOICE_G711_A, 160, 80, 160, true},     {VOICE_G711_U, 481, 240, 480, true},
        {VOICE_G711_U, 100, 50, 0, false},      {VOICE_G711_U, 81, 40, 80, true},
        {VOICE_G711_U, 1, 0, 0, false},         {VOICE_ADPCM_DVI4, 160, 42, 160, true},
        {VOICE_ADPCM_DVI4, 162, 42, 160, true}, {VOICE_ADPCM_DVI4, 3, 2, 0, false},
        {VOICE_ADPCM_DVI4, 481, 122, 480, true}, {VOICE_ADPCM_IMA, 161, 42, 161, true},
        {VOICE_ADPCM_IMA, 160, 41, 157, true},  {VOICE_ADPCM_IMA, 1, 2, 1, true},
        {VOICE_ADPCM_IMA, 481, 122, 481, true}, {VOICE_G726_16K, 160, 20, 160, true},
        {VOICE_G726_24K, 80, 15, 80, true},     {VOICE_G726_24K_MSB, 85, 15, 80, true},
        {VOICE_G726_24K, 86, 16, 0, false},     {VOICE_G726_32K, 160, 40, 160, true},
        {VOICE_G726_40K, 480, 150, 480, true},  {VOICE_G726_40K_MSB, 481, 150, 480, true},
        {VOICE_G726_32K_MSB, 0, 0, 0, false},   {VOICE_G726_32K, 482, 0, 0, false},
    };
    for (const Row &row : rows) {
        const CodecTypeInfo &type = *FindCodecType(row.type);
        SCOPED_TRACE(std::string(type.name) + " block " + std::to_string(row.block));
        const BlockPlan plan = PlanBlock(type, row.block);
        EXPECT_EQ(plan.words, row.words);
        EXPECT_EQ(plan.usable, row.usable) << plan.problem;
        if (row.usable) {
            EXPECT_EQ(plan.carried, row.carried);
            EXPECT_EQ(plan.frame_bytes, 4 + 2 * row.words);
            EXPECT_EQ(plan.warning.empty(), row.carried == row.block) << plan.warning;
        } else {
            EXPECT_FALSE(plan.problem.empty());
        }
    }
}

TEST(CodecTypes, DecoderAcceptsExactlyTheListedLengths)
{
    const std::vector<std::pair<int, std::set<int>>> accepted = {
        {VOICE_G711_A, {40, 80, 120, 160, 200, 240}}, {VOICE_G726_16K, {10, 20, 30, 40, 50, 60}},
        {VOICE_G726_24K, {15, 30, 45, 60, 75, 90}},   {VOICE_G726_32K_MSB, {20, 40, 60, 80, 100, 120}},
        {VOICE_G726_40K, {25, 50, 75, 100, 125, 150}},
    };
    for (const auto &[number, lengths] : accepted) {
        const CodecTypeInfo &type = *FindCodecType(number);
        for (int words = 0; words <= 255; ++words)
            EXPECT_EQ(DecoderAcceptsWords(type, words), lengths.count(words) == 1) << type.name << " " << words;
    }
    for (int number : {VOICE_ADPCM_DVI4, VOICE_ADPCM_IMA}) {
        const CodecTypeInfo &type = *FindCodecType(number);
        for (int words = 0; words <= 255; ++words)
            EXPECT_EQ(DecoderAcceptsWords(type, words), words >= 2 && words <= 122) << type.name << " " << words;
    }
}

TEST(CodecTypes, DefaultBlocksCarryWholeTwentyMillisecondBlocks)
{
    for (const CodecTypeInfo &type : AllCodecTypes()) {
        const BlockPlan plan = PlanBlock(type, DefaultBlockFor(type));
        EXPECT_TRUE(plan.usable) << type.name;
        EXPECT_EQ(plan.carried, plan.block) << type.name;
        EXPECT_TRUE(plan.warning.empty()) << type.name;
    }
}

} // namespace
} // namespace orvo::tool
