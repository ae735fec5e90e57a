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

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char **environ;

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

std::string ReadText(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(OrvoViewTest, BytesAfterTheLastWholePictureAreReported)
{
    WriteFile(16, 16, {{kRed, kGreen}});
    {
        std::ofstream out(input, std::ios::binary | std::ios::app);
        out << std::string(100, '\x10'); // a --size that does not fit, or a file cut short
    }
    const std::string log = snapshot + ".log";
    ASSERT_EQ(RunView("--size 16x16 --fps 0 --snapshot '" + snapshot + "' '" + input + "' 2>'" + log + "'"), 0);
    const std::string text = ReadText(log);
    EXPECT_NE(text.find("not a whole number of 16x16 pictures"), std::string::npos) << text;
    EXPECT_NE(text.find("the last 100 bytes are not shown"), std::string::npos) << text;
    Image image;
    EXPECT_TRUE(ReadSnapshot(&image)) << "the whole picture is still shown";
    std::remove(log.c_str());

    // A file that fits gets no warning.
    WriteFile(16, 16, {{kRed, kGreen}, {kGreen, kRed}});
    ASSERT_EQ(RunView("--size 16x16 --fps 0 '" + input + "' 2>'" + log + "'"), 0);
    EXPECT_EQ(ReadText(log), "");
    std::remove(log.c_str());
}

TEST_F(OrvoViewTest, RateOutsideItsRangeIsRefused)
{
    WriteFile(16, 16, {{kRed, kRed}});
    struct Case {
        const char *fps;
        int status;
    };
    // 1e-300 once overflowed the picture time (undefined behaviour), 1e-6 slept for days.
    const Case cases[] = {{"1e-300", 1}, {"1e-6", 1},  {"0.001", 1}, {"-1", 1}, {"1001", 1},
                          {"nan", 1},    {"inf", 1},   {"0", 0},     {"0.01", 0}, {"1000", 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(RunView(std::string("--size 16x16 --fps ") + c.fps + " '" + input + "' 2>/dev/null"), c.status)
            << "--fps " << c.fps;
    }
}

// Whether the process has a handler for SIGTERM (SDL installs one that turns it into a quit event).
bool CatchesSigterm(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 7, "SigCgt:") == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (SIGTERM - 1) & 1) != 0;
        }
    }
    return false;
}

TEST_F(OrvoViewTest, SlowRateStillEndsOnSigterm)
{
    WriteFile(16, 16, {{kRed, kRed}, {kGreen, kGreen}, {kBlue, kBlue}}); // 100 s per picture
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_RENDER_DRIVER", "software", 1);
    std::vector<std::string> args = {ORVO_VIEW_PATH, "--size", "16x16", "--fps", "0.01", input};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Bounded waits that only guard against a hang; the assertions are about how it ended.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!CatchesSigterm(pid) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(CatchesSigterm(pid));
    kill(pid, SIGTERM);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "orvo-view ignored SIGTERM";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(OrvoViewTest, SnapshotThatCannotBeWrittenHasItsOwnStatus)
{
    WriteFile(16, 16, {{kRed, kRed}});
    EXPECT_EQ(RunView("--size 16x16 --fps 0 --snapshot /nonexistent/dir/x.ppm '" + input + "' 2>/dev/null"), 4);
    EXPECT_EQ(RunView("--size 16x16 --fps 0 --snapshot /dev/full '" + input + "' 2>/dev/null"), 4);
}

TEST_F(OrvoViewTest, NoDisplayIsAnErrorUnlessAHeadlessDriverIsAskedFor)
{
    WriteFile(16, 16, {{kRed, kRed}});
    const std::string log = snapshot + ".log";
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER XDG_RUNTIME_DIR=/nonexistent '" +
                                std::string(ORVO_VIEW_PATH) + "' --size 16x16 --fps 0 '" + input +
                                "' >/dev/null 2>'" + log + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_NE(ReadText(log).find("no display"), std::string::npos) << ReadText(log);
    std::remove(log.c_str());
}

} // namespace
