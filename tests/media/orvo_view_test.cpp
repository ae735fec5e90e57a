// orvo-view, headless (SDL's dummy video driver, software renderer): generated I420 files in,
// PPM snapshots of the window out.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "platform/display/pixel_colour.h"

namespace {

constexpr int kColourTolerance = 4;

struct Yuv {
    uint8_t y, u, v;
};
constexpr Yuv kRed{81, 90, 240};
constexpr Yuv kGreen{145, 54, 34};
constexpr Yuv kBlue{41, 240, 110};

struct Image {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    uint32_t At(uint32_t x, uint32_t y) const
    {
        const uint8_t *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    }
};

class OrvoViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        input = testing::TempDir() + "orvo_view_" + name + ".yuv";
        snapshot = testing::TempDir() + "orvo_view_" + name + ".ppm";
        std::remove(snapshot.c_str());
    }
    void TearDown() override
    {
        std::remove(input.c_str());
        std::remove(snapshot.c_str());
    }

    // Pictures whose left half has one colour and right half another.
    void WriteFile(uint32_t width, uint32_t height, const std::vector<std::pair<Yuv, Yuv>> &pictures)
    {
        std::ofstream out(input, std::ios::binary);
        for (const auto &[left, right] : pictures) {
            std::vector<uint8_t> data;
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t x = 0; x < width; ++x) data.push_back(x < width / 2 ? left.y : right.y);
            for (int plane = 0; plane < 2; ++plane)
                for (uint32_t y = 0; y < height / 2; ++y)
                    for (uint32_t x = 0; x < width / 2; ++x) {
                        const Yuv &c = x < width / 4 ? left : right;
                        data.push_back(plane == 0 ? c.u : c.v);
                    }
            out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
        }
    }

    int RunView(const std::string &arguments)
    {
        const std::string command = "SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy} SDL_RENDER_DRIVER=software '" +
                                    std::string(ORVO_VIEW_PATH) + "' " + arguments + " >/dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool ReadSnapshot(Image *image)
    {
        std::ifstream in(snapshot, std::ios::binary);
        std::string magic;
        int maximum = 0;
        in >> magic >> image->width >> image->height >> maximum;
        in.get();
        if (!in || magic != "P6" || maximum != 255) {
            return false;
        }
        image->rgb.resize(static_cast<size_t>(image->width) * image->height * 3);
        in.read(reinterpret_cast<char *>(image->rgb.data()), static_cast<std::streamsize>(image->rgb.size()));
        return static_cast<bool>(in);
    }

    std::string input;
    std::string snapshot;
};

testing::AssertionResult Near(uint32_t actual, const Yuv &colour)
{
    const uint32_t expected = orvo::platform::YuvToRgb(colour.y, colour.u, colour.v);
    for (int shift : {16, 8, 0}) {
        if (std::abs(static_cast<int>(actual >> shift & 0xFF) - static_cast<int>(expected >> shift & 0xFF)) >
            kColourTolerance) {
            return testing::AssertionFailure() << std::hex << "0x" << actual << " is not near 0x" << expected;
        }
    }
    return testing::AssertionSuccess();
}

TEST_F(OrvoViewTest, CentredPictureInALargerWindow)
{
    WriteFile(64, 32, {{kRed, kGreen}});
    ASSERT_EQ(RunView("--size 64x32 --window 128x96 --fps 0 --snapshot '" + snapshot + "' '" + input + "'"), 0);
    Image image;
    ASSERT_TRUE(ReadSnapshot(&image));
    ASSERT_EQ(image.width, 128u);
    ASSERT_EQ(image.height, 96u);
    // 64 x 32 centred in 128 x 96: from (32, 32).
    EXPECT_TRUE(Near(image.At(33, 33), kRed));
    EXPECT_TRUE(Near(image.At(63, 63), kRed));
    EXPECT_TRUE(Near(image.At(64, 32), kGreen));
    EXPECT_TRUE(Near(image.At(95, 63), kGreen));
    EXPECT_EQ(image.At(31, 40), 0u);
    EXPECT_EQ(image.At(64, 64), 0u);
}

TEST_F(OrvoViewTest, StretchedLastPictureFillsTheWindow)
{
    WriteFile(32, 16, {{kRed, kGreen}, {kGreen, kRed}, {kBlue, kGreen}});
    ASSERT_EQ(RunView("--size 32x16 --window 100x60 --fps 200 --stretch --snapshot '" + snapshot + "' '" +
                      input + "'"),
              0);
    Image image;
    ASSERT_TRUE(ReadSnapshot(&image));
    ASSERT_EQ(image.width, 100u);
    EXPECT_TRUE(Near(image.At(0, 0), kBlue)) << "the last picture is what stays";
    EXPECT_TRUE(Near(image.At(49, 59), kBlue));
    EXPECT_TRUE(Near(image.At(51, 0), kGreen));
    EXPECT_TRUE(Near(image.At(99, 59), kGreen));
}

TEST_F(OrvoViewTest, RefusesWhatItCannotShow)
{
    WriteFile(16, 16, {{kRed, kRed}});
    EXPECT_EQ(RunView("--size 15x16 '" + input + "' 2>/dev/null"), 1) << "odd width";
    EXPECT_EQ(RunView("--size 16x16 2>/dev/null"), 1) << "no input";
    EXPECT_EQ(RunView("--size 64x64 '" + input + "' 2>/dev/null"), 2) << "less than one picture";
    EXPECT_EQ(RunView("--size 16x16 /nonexistent/file.yuv 2>/dev/null"), 2);
}

} // namespace
