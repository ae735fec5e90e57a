#include <gtest/gtest.h>

#include <functional>

#include "orvo_tool/wav_file.h"
#include "wav_builder.h"

namespace orvo::tool {
namespace {

using testing::BuildRiff;
using testing::BuildWav;
using testing::FmtBody;
using testing::WavSpec;

std::string ParseError(const std::vector<uint8_t> &bytes)
{
    std::vector<int16_t> samples = {42};
    std::string error;
    EXPECT_FALSE(ParseVoiceWav(bytes.data(), bytes.size(), &samples, &error));
    EXPECT_EQ(samples, std::vector<int16_t>{42}) << "samples touched on failure";
    return error;
}

WavSpec With(const std::function<void(WavSpec &)> &change)
{
    WavSpec layout;
    change(layout);
    return layout;
}

struct RefusalCase {
    const char *name;
    std::vector<uint8_t> file;
    std::vector<std::string> expected; // fragments the message must hold
};

TEST(WavFile, RefusesWhatIsNotVoicePcmWithAPreciseMessage)
{
    const std::string need = "need 16-bit integer PCM, 1 channel, 8000 Hz";
    const std::vector<uint8_t> valid = BuildWav(WavSpec{});
    std::vector<uint8_t> stray = BuildRiff({{"fmt ", FmtBody(WavSpec{})}, {"data", {0, 0}}});
    stray.insert(stray.end(), {'J', 'U', 'N', 'K'}); // 4 bytes: less than a chunk header
    stray[4] += 4;
    std::vector<uint8_t> riff_short = valid;
    riff_short[4] = 2;
    riff_short[5] = riff_short[6] = riff_short[7] = 0;

    const std::vector<RefusalCase> cases = {
        {"empty", {}, {"empty"}},
        {"shorter than the RIFF header", {'R', 'I', 'F', 'F', 0}, {"byte offset 5", "12-byte RIFF header"}},
        {"big-endian", BuildRiff({}, -1, "RIFX"), {"byte offset 0", "RIFX", "little-endian"}},
        {"RF64", BuildRiff({}, -1, "RF64"), {"RF64"}},
        {"not RIFF", BuildRiff({}, -1, "OggS"), {"byte offset 0", "not a RIFF WAV file", "'OggS'"}},
        {"binary magic", BuildRiff({}, -1, std::string("\x01\x02\xFF\x00", 4)), {"'\\x01\\x02\\xFF\\x00'"}},
        {"not WAVE", BuildRiff({}, -1, "RIFF", "AVI "), {"byte offset 8", "'AVI '", "need 'WAVE'"}},
        {"RIFF size beyond the file", BuildRiff({{"fmt ", FmtBody(WavSpec{})}}, 1000),
         {"byte offset 4", "1008 bytes", "has only 36", "truncated"}},
        {"RIFF size too small", riff_short, {"byte offset 4", "too small"}},
        {"stereo", BuildWav(With([](WavSpec &s) { s.channels = 2; })),
         {"found 16-bit integer PCM, 2 channels, 8000 Hz", need}},
        {"44.1 kHz", BuildWav(With([](WavSpec &s) { s.sample_rate = 44100; })),
         {"found 16-bit integer PCM, 1 channel, 44100 Hz", need}},
        {"8-bit", BuildWav(With([](WavSpec &s) { s.bits = 8; })), {"found 8-bit integer PCM", need}},
        {"24-bit", BuildWav(With([](WavSpec &s) { s.bits = 24; })), {"found 24-bit integer PCM", need}},
        {"float", BuildWav(With([](WavSpec &s) { s.format_tag = 3; s.bits = 32; })),
         {"found 32-bit IEEE float, 1 channel, 8000 Hz", need}},
        {"A-law", BuildWav(With([](WavSpec &s) { s.format_tag = 6; s.bits = 8; })), {"found 8-bit A-law"}},
        {"mu-law", BuildWav(With([](WavSpec &s) { s.format_tag = 7; s.bits = 8; })), {"found 8-bit mu-law"}},
        {"unknown tag", BuildWav(With([](WavSpec &s) { s.format_tag = 0x55; })), {"format tag 0x0055"}},
        {"extensible", BuildWav(With([](WavSpec &s) { s.format_tag = 0xFFFE; s.fmt_size = 40; })),
         {"found 16-bit extensible format (sub-format integer PCM), 1 channel, 8000 Hz", need}},
        {"block align", BuildWav(With([](WavSpec &s) { s.block_align = 4; })),
         {"byte offset 12", "block align 4", "need 2 and 16000"}},
        {"byte rate", BuildWav(With([](WavSpec &s) { s.byte_rate = 8000; })), {"byte rate 8000"}},
        {"fmt too short", BuildRiff({{"fmt ", std::vector<uint8_t>(14)}, {"data", {0, 0}}}),
         {"byte offset 12", "'fmt ' chunk of 14 bytes, need at least 16"}},
        {"data before fmt", BuildRiff({{"data", {0, 0}}, {"fmt ", FmtBody(WavSpec{})}}),
         {"byte offset 12", "'data' chunk before the 'fmt ' chunk"}},
        {"no data", BuildRiff({{"fmt ", FmtBody(WavSpec{})}}), {"no 'data' chunk"}},
        {"no fmt", BuildRiff({{"LIST", {1, 2, 3, 4}}}), {"no 'fmt ' chunk; need a WAV file (16-bit integer PCM"}},
        {"two fmt", BuildRiff({{"fmt ", FmtBody(WavSpec{})}, {"fmt ", FmtBody(WavSpec{})}}),
         {"byte offset 36", "second 'fmt ' chunk", "first is at byte offset 12"}},
        {"two data", BuildRiff({{"fmt ", FmtBody(WavSpec{})}, {"data", {0, 0}}, {"data", {0, 0}}}),
         {"byte offset 46", "second 'data' chunk"}},
        {"odd data", BuildRiff({{"fmt ", FmtBody(WavSpec{})}, {"data", {1, 2, 3}}}),
         {"byte offset 36", "3 bytes is not a whole number of 16-bit samples"}},
        {"chunk beyond the file", BuildRiff({{"fmt ", FmtBody(WavSpec{})}, {"data", {0, 0}, 400}}),
         {"byte offset 36", "'data' claims 400 bytes, but only 2 remain", "truncated"}},
        {"huge chunk size", BuildRiff({{"fmt ", FmtBody(WavSpec{})}, {"data", {0, 0}, 0xFFFFFFFF}}),
         {"claims 4294967295 bytes"}},
        {"torn chunk header", stray, {"byte offset 46", "chunk header truncated (4 bytes left"}},
    };
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string error = ParseError(c.file);
        for (const std::string &fragment : c.expected)
            EXPECT_NE(error.find(fragment), std::string::npos) << "message: " << error << "\nmissing: " << fragment;
    }
}

TEST(WavFile, AcceptsVoicePcmAroundOtherChunks)
{
    const std::vector<int16_t> expected = {1, 32767, -32768};
    const WavSpec layout;
    struct AcceptCase {
        const char *name;
        std::vector<uint8_t> file;
    };
    std::vector<uint8_t> trailing = BuildWav(layout);
    trailing.insert(trailing.end(), {9, 9, 9}); // bytes after the RIFF form are not ours
    const std::vector<AcceptCase> cases = {
        {"canonical", BuildWav(layout)},
        {"odd chunks padded", BuildRiff({{"LIST", {1, 2, 3}}, {"fmt ", FmtBody(layout)}, {"junk", {7}}, {"data", layout.data}})},
        {"unpadded odd last chunk", BuildRiff({{"fmt ", FmtBody(layout)}, {"data", layout.data}, {"note", {1}}}, -1, "RIFF",
                                              "WAVE", false)},
        {"longer fmt", BuildWav(With([](WavSpec &s) { s.fmt_size = 18; }))},
        {"trailing bytes", trailing},
    };
    for (const AcceptCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int16_t> samples;
        std::string error;
        EXPECT_TRUE(ParseVoiceWav(c.file.data(), c.file.size(), &samples, &error)) << error;
        EXPECT_EQ(samples, expected);
    }
}

TEST(WavFile, WrittenFilesReadBackAndEveryTruncationIsRefused)
{
    std::vector<int16_t> samples;
    for (int v = -32768; v <= 32767; v += 257) samples.push_back(static_cast<int16_t>(v));
    samples.push_back(32767);
    const std::vector<uint8_t> file = SerializeVoiceWav(samples);
    ASSERT_EQ(file.size(), 44 + 2 * samples.size());
    std::vector<int16_t> read;
    std::string error;
    ASSERT_TRUE(ParseVoiceWav(file.data(), file.size(), &read, &error)) << error;
    EXPECT_EQ(read, samples);

    const std::vector<uint8_t> empty_wav = SerializeVoiceWav(nullptr, 0);
    ASSERT_TRUE(ParseVoiceWav(empty_wav.data(), empty_wav.size(), &read, &error)) << error;
    EXPECT_TRUE(read.empty());

    for (size_t size = 0; size < 60; ++size) {
        // Copied into a buffer of exactly `size` bytes so a sanitizer sees any read past it.
        const std::vector<uint8_t> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(ParseVoiceWav(prefix.data(), prefix.size(), &read, &error)) << "size " << size;
    }
}

} // namespace
} // namespace orvo::tool
