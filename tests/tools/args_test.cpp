#include <gtest/gtest.h>

#include "orvo_tool/args.h"

namespace orvo::tool {
namespace {

const std::vector<OptionSpec> kSpecs = {{"type", true}, {"block", true}, {"quiet", false}};

TEST(Args, OptionsMixWithFilesInEitherForm)
{
    ParsedArgs parsed;
    std::string error;
    ASSERT_TRUE(ParseArgs({"in.wav", "--type", "g711u", "--block=80", "--quiet", "out.ovf", "--", "--odd-name"},
                          kSpecs, &parsed, &error))
        << error;
    EXPECT_EQ(parsed.positional, (std::vector<std::string>{"in.wav", "out.ovf", "--odd-name"}));
    EXPECT_EQ(parsed.Get("type"), "g711u");
    EXPECT_EQ(parsed.Get("block"), "80");
    EXPECT_TRUE(parsed.Has("quiet"));
    EXPECT_EQ(parsed.Get("seconds", "3"), "3");
    ASSERT_TRUE(ParseArgs({"-", "-5", "--type=", "x"}, kSpecs, &parsed, &error)) << error;
    EXPECT_EQ(parsed.positional, (std::vector<std::string>{"-", "-5", "x"}));
    EXPECT_EQ(parsed.Get("type", "unset"), "");
}

TEST(Args, MistakesAreNamed)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--type"}, "option --type needs a value"},
        {{"--type", "a", "--type", "b"}, "option --type given twice"},
        {{"--quiet=yes"}, "option --quiet takes no value"},
    };
    for (const auto &[args, expected] : cases) {
        ParsedArgs parsed;
        std::string error;
        EXPECT_FALSE(ParseArgs(args, kSpecs, &parsed, &error));
        EXPECT_EQ(error, expected);
    }
}

TEST(Args, NumbersAreWholeAndInRange)
{
    long value = 0;
    std::string error;
    EXPECT_TRUE(ParseIntArg("481", "--block", 1, 481, &value, &error));
    EXPECT_EQ(value, 481);
    for (const char *bad : {"", "0", "482", "12x", "1.5", " 5", "5 ", "99999999999999999999999"}) {
        EXPECT_FALSE(ParseIntArg(bad, "--block", 1, 481, &value, &error)) << bad;
        EXPECT_EQ(error, std::string("--block must be a whole number from 1 to 481, not '") + bad + "'");
    }
    double seconds = 0;
    EXPECT_TRUE(ParseNumberArg("2.5", "--seconds", 0.001, 3600, &seconds, &error));
    EXPECT_DOUBLE_EQ(seconds, 2.5);
    for (const char *bad : {"", "0", "-1", "inf", "nan", "1e9", "3s"})
        EXPECT_FALSE(ParseNumberArg(bad, "--seconds", 0.001, 3600, &seconds, &error)) << bad;
    EXPECT_EQ(error, "--seconds must be a number from 0.001 to 3600, not '3s'");
}

} // namespace
} // namespace orvo::tool
