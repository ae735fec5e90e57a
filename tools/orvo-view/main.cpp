// orvo-view: shows a raw I420 (planar YUV 4:2:0) file in a window through CDirectXDraw on the
// SDL2 display back end, picture by picture at a given rate, at its own size and centred or
// stretched to the window; optionally writes what reached the window after the last picture to
// a PPM file.
//
//   orvo-view --size 352x288 [--fps 25] [--stretch] [--window WxH] [--loop]
//             [--snapshot out.ppm] input.yuv
//
// Headless: SDL_VIDEODRIVER=dummy (or offscreen) with SDL_RENDER_DRIVER=software.
#include <SDL.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "media/HI_DIRECTX_Draw.h"
#include "platform/sdl/display_sdl.h"

namespace {

using orvo::media::CDirectXDraw;

constexpr int kExitUsage = 1;
constexpr int kExitInput = 2;
constexpr int kExitDisplay = 3;
constexpr int kExitSnapshot = 4; // the snapshot file cannot be written
constexpr uint32_t kMaxSide = 16384;
constexpr double kDefaultFps = 25.0;
constexpr double kMinFps = 0.01;   // one picture per 100 s
constexpr double kMaxFps = 1000.0;
constexpr uint32_t kMillisecondsPerSecond = 1000;
// Waiting for the next picture is done in slices this long, so that a close or SIGTERM (SDL turns
// it into a quit event) is seen at once even at a slow rate.
constexpr uint32_t kWaitSliceMs = 20;

struct Options {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t windowWidth = 0;
    uint32_t windowHeight = 0;
    double fps = kDefaultFps;
    bool stretch = false;
    bool loop = false;
    std::string snapshot;
    std::string input;
};

void Usage(std::FILE *out)
{
    std::fprintf(out,
                 "usage: orvo-view --size WxH [--fps N] [--stretch] [--window WxH] [--loop]\n"
                 "                 [--snapshot out.ppm] input.yuv\n"
                 "Shows a raw I420 file (W x H luma, then W/2 x H/2 U and V per picture).\n"
                 "  --size WxH       picture size; both even\n"
                 "  --fps N          pictures per second, 0.01 to 1000 (default 25; 0 = as fast as\n"
                 "                   possible)\n"
                 "  --stretch        scale to the window instead of centring at the own size\n"
                 "  --window WxH     window size (default: the picture size)\n"
                 "  --loop           start again after the last picture until the window closes\n"
                 "  --snapshot FILE  after the last picture, write the window's pixels as PPM\n"
                 "A file whose size is not a whole number of pictures is shown with a warning; the\n"
                 "bytes after the last whole picture are not shown. Without a display (SDL falls back\n"
                 "to its offscreen driver) it stops, unless SDL_VIDEODRIVER asks for that driver.\n"
                 "exit status: 0 success, 1 usage, 2 input file, 3 display, 4 snapshot not written\n");
}

bool ParseSize(const char *text, uint32_t *width, uint32_t *height)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long w = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != 'x') {
        return false;
    }
    const char *second = end + 1;
    const unsigned long h = std::strtoul(second, &end, 10);
    if (errno != 0 || end == second || *end != '\0' || w == 0 || h == 0 || w > kMaxSide ||
        h > kMaxSide) {
        return false;
    }
    *width = static_cast<uint32_t>(w);
    *height = static_cast<uint32_t>(h);
    return true;
}

bool ParseOptions(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--size" && hasValue) {
            if (!ParseSize(argv[++i], &options->width, &options->height)) {
                std::fprintf(stderr, "orvo-view: bad --size '%s'\n", argv[i]);
                return false;
            }
        } else if (arg == "--window" && hasValue) {
            if (!ParseSize(argv[++i], &options->windowWidth, &options->windowHeight)) {
                std::fprintf(stderr, "orvo-view: bad --window '%s'\n", argv[i]);
                return false;
            }
        } else if (arg == "--fps" && hasValue) {
            char *end = nullptr;
            options->fps = std::strtod(argv[++i], &end);
            const bool inRange = options->fps == 0.0 || (options->fps >= kMinFps && options->fps <= kMaxFps);
            if (end == argv[i] || *end != '\0' || !inRange) {
                std::fprintf(stderr, "orvo-view: bad --fps '%s'\n", argv[i]);
                return false;
            }
        } else if (arg == "--stretch") {
            options->stretch = true;
        } else if (arg == "--loop") {
            options->loop = true;
        } else if (arg == "--snapshot" && hasValue) {
            options->snapshot = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (!arg.empty() && arg[0] != '-' && options->input.empty()) {
            options->input = arg;
        } else {
            std::fprintf(stderr, "orvo-view: unexpected argument '%s'\n", arg.c_str());
            return false;
        }
    }
    if (options->width == 0 || options->input.empty()) {
        std::fprintf(stderr, "orvo-view: --size and an input file are needed\n");
        return false;
    }
    if (options->width % 2 != 0 || options->height % 2 != 0) {
        std::fprintf(stderr, "orvo-view: I420 pictures have even sides, not %ux%u\n",
                     options->width, options->height);
        return false;
    }
    if (options->windowWidth == 0) {
        options->windowWidth = options->width;
        options->windowHeight = options->height;
    }
    return true;
}

// BT.601 studio range to RGB 5-6-5, for displays that cannot blit YUV.
void ConvertToRgb565(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint32_t width,
                     uint32_t height, std::vector<uint16_t> *out)
{
    auto clamp = [](int value) { return value < 0 ? 0 : value > 255 ? 255 : value; };
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const size_t chroma = static_cast<size_t>(y / 2) * (width / 2) + x / 2;
            const int c = 298 * (luma[static_cast<size_t>(y) * width + x] - 16);
            const int d = u[chroma] - 128;
            const int e = v[chroma] - 128;
            const int red = clamp((c + 409 * e + 128) >> 8);
            const int green = clamp((c - 100 * d - 208 * e + 128) >> 8);
            const int blue = clamp((c + 516 * d + 128) >> 8);
            (*out)[static_cast<size_t>(y) * width + x] =
                static_cast<uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | blue >> 3);
        }
    }
}

bool QuitRequested();

// Whether `path` can be written, tried before the first picture so that a bad path is refused at
// once; the file is left as it was (created and removed again when it did not exist).
bool CanWriteSnapshot(const std::string &path)
{
    struct stat info {};
    const bool existed = stat(path.c_str(), &info) == 0;
    const bool ok = static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::app));
    if (ok && !existed) {
        std::remove(path.c_str());
    }
    return ok;
}

// Writes the window's pixels to `path` as PPM. Returns 0 or the exit status.
int WriteSnapshot(SDL_Window *window, const std::string &path)
{
    std::vector<uint32_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    if (!orvo::platform::SdlDisplayDriver::ReadWindowPixels(window, &pixels, &width, &height)) {
        std::fprintf(stderr, "orvo-view: cannot read the window back: %s\n", SDL_GetError());
        return kExitDisplay;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "P6\n" << width << " " << height << "\n255\n";
    std::vector<char> row(static_cast<size_t>(width) * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t pixel = pixels[static_cast<size_t>(y) * width + x];
            row[3 * x + 0] = static_cast<char>(pixel >> 16 & 0xFF);
            row[3 * x + 1] = static_cast<char>(pixel >> 8 & 0xFF);
            row[3 * x + 2] = static_cast<char>(pixel & 0xFF);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "orvo-view: cannot write '%s'\n", path.c_str());
        return kExitSnapshot;
    }
    return 0;
}

// Waits until `due` (SDL ticks) in short slices; false when a quit was asked for meanwhile.
bool WaitUntil(uint64_t due)
{
    for (uint64_t now = SDL_GetTicks64(); now < due; now = SDL_GetTicks64()) {
        if (QuitRequested())
            return false;
        SDL_Delay(static_cast<uint32_t>(std::min<uint64_t>(due - now, kWaitSliceMs)));
    }
    return true;
}

// Warns when the input is not a whole number of pictures (a --size that does not match the file,
// or a file cut short): what follows the last whole picture is never shown.
void WarnAboutLeftover(const std::string &path, uint64_t leftover, uint64_t pictureBytes, const Options &options)
{
    std::fprintf(stderr,
                 "orvo-view: warning: '%s' is not a whole number of %ux%u pictures (%llu bytes each): "
                 "the last %llu bytes are not shown; is --size right?\n",
                 path.c_str(), options.width, options.height, static_cast<unsigned long long>(pictureBytes),
                 static_cast<unsigned long long>(leftover));
}

bool QuitRequested()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT ||
            (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE)) {
            return true;
        }
    }
    return false;
}

int Run(const Options &options)
{
    std::ifstream input(options.input, std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "orvo-view: cannot open '%s'\n", options.input.c_str());
        return kExitInput;
    }
    const size_t lumaBytes = static_cast<size_t>(options.width) * options.height;
    const size_t chromaBytes = lumaBytes / 4;
    const size_t pictureBytes = lumaBytes + 2 * chromaBytes;
    std::vector<uint8_t> picture(pictureBytes);
    bool leftoverReported = false;
    struct stat info {};
    if (stat(options.input.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uint64_t>(info.st_size) % pictureBytes != 0 &&
        static_cast<uint64_t>(info.st_size) > pictureBytes) {
        WarnAboutLeftover(options.input, static_cast<uint64_t>(info.st_size) % pictureBytes, pictureBytes, options);
        leftoverReported = true;
    }
    if (!input.read(reinterpret_cast<char *>(picture.data()), static_cast<std::streamsize>(pictureBytes))) {
        std::fprintf(stderr, "orvo-view: '%s' holds less than one %ux%u picture\n",
                     options.input.c_str(), options.width, options.height);
        return kExitInput;
    }

    if (!options.snapshot.empty() && !CanWriteSnapshot(options.snapshot)) {
        std::fprintf(stderr, "orvo-view: cannot write the snapshot '%s': %s\n", options.snapshot.c_str(),
                     std::strerror(errno));
        return kExitSnapshot;
    }

    SDL_Window *window = SDL_CreateWindow("orvo-view", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          static_cast<int>(options.windowWidth),
                                          static_cast<int>(options.windowHeight), SDL_WINDOW_RESIZABLE);
    if (window == nullptr) {
        std::fprintf(stderr, "orvo-view: no window: %s\n", SDL_GetError());
        return kExitDisplay;
    }
    int result = 0;
    {
        orvo::platform::SdlDisplayDriver driver;
        CDirectXDraw draw(driver);
        int32_t kind = 0;
        const int32_t status = draw.Init(window, options.width, options.height, &kind);
        if (status != 0) {
            std::fprintf(stderr, "orvo-view: the renderer could not start (code %d)\n", status);
            result = kExitDisplay;
        } else {
            std::vector<uint16_t> rgb(kind == orvo::media::DRAW_FORMAT_RGB565 ? lumaBytes : 0);
            const int32_t stretch = options.stretch ? 1 : 0;
            const double frameMs = options.fps > 0 ? kMillisecondsPerSecond / options.fps : 0.0;
            const uint64_t start = SDL_GetTicks64();
            uint64_t shown = 0;
            bool more = true;
            while (more && !QuitRequested()) {
                const uint8_t *luma = picture.data();
                const uint8_t *u = luma + lumaBytes;
                const uint8_t *v = u + chromaBytes;
                if (kind == orvo::media::DRAW_FORMAT_RGB565) {
                    ConvertToRgb565(luma, u, v, options.width, options.height, &rgb);
                    draw.ShowPicture(reinterpret_cast<const uint8_t *>(rgb.data()), nullptr, nullptr, stretch);
                } else {
                    draw.ShowPicture(luma, u, v, stretch);
                }
                ++shown;
                if (!input.read(reinterpret_cast<char *>(picture.data()),
                                static_cast<std::streamsize>(pictureBytes))) {
                    if (input.gcount() > 0 && !leftoverReported) {
                        WarnAboutLeftover(options.input, static_cast<uint64_t>(input.gcount()), pictureBytes,
                                          options);
                        leftoverReported = true;
                    }
                    if (!options.loop) {
                        more = false;
                        break;
                    }
                    input.clear();
                    input.seekg(0);
                    input.read(reinterpret_cast<char *>(picture.data()),
                               static_cast<std::streamsize>(pictureBytes));
                }
                // frameMs is at most 100 s (kMinFps), so the product stays far inside 64 bits.
                const uint64_t due = start + static_cast<uint64_t>(frameMs * static_cast<double>(shown));
                if (!WaitUntil(due)) {
                    break;
                }
            }
            std::printf("orvo-view: %llu picture(s) of %ux%u shown as %s\n",
                        static_cast<unsigned long long>(shown), options.width, options.height,
                        kind == orvo::media::DRAW_FORMAT_UYVY ? "UYVY" : "RGB565");
            if (!options.snapshot.empty()) {
                result = WriteSnapshot(window, options.snapshot);
            }
        }
    }
    SDL_DestroyWindow(window);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Usage(stderr);
        return kExitUsage;
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "orvo-view: no display: %s\n", SDL_GetError());
        return kExitDisplay;
    }
    // Without a display SDL falls back to a driver that shows nothing; that is only wanted when
    // asked for (headless runs set SDL_VIDEODRIVER).
    const char *driver = SDL_GetCurrentVideoDriver();
    const char *asked = std::getenv("SDL_VIDEODRIVER");
    if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
        (!asked || std::strcmp(asked, driver) != 0)) {
        std::fprintf(stderr,
                     "orvo-view: no display found (SDL could only offer its '%s' driver); set DISPLAY, or "
                     "SDL_VIDEODRIVER=%s to run without one\n",
                     driver, driver);
        SDL_Quit();
        return kExitDisplay;
    }
    const int result = Run(options);
    SDL_Quit();
    return result;
}
