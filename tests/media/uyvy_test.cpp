#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "media/uyvy.h"
#include "media/uyvy_row.h"

namespace orvo::media {
namespace {

constexpr uint8_t kUntouched = 0xA5;

// Planes whose allocations end exactly where the picture's last byte is, so a sanitizer sees
// any read past them; the destination likewise, pre-filled so bytes never written show up.
struct Picture {
    uint32_t width, height, lumaStride, pitch;
    std::vector<uint8_t> luma, u, v;

    Picture(uint32_t w, uint32_t h, uint32_t lumaPadding, uint32_t seed)
        : width(w), height(h), lumaStride(w + lumaPadding), pitch(0)
    {
        std::mt19937 random(seed);
        const uint32_t chromaStride = lumaStride / 2;
        luma.resize(static_cast<size_t>(lumaStride) * (h - 1) + w);
        u.resize(static_cast<size_t>(chromaStride) * (h / 2 - 1) + w / 2);
        v.resize(u.size());
        for (auto *plane : {&luma, &u, &v}) {
            for (auto &byte : *plane) {
                byte = static_cast<uint8_t>(random());
            }
        }
    }
    std::vector<uint8_t> Destination(uint32_t destPadding)
    {
        pitch = 2 * width + destPadding;
        return std::vector<uint8_t>(static_cast<size_t>(pitch) * (height - 1) + 2 * width,
                                    kUntouched);
    }
};

// What the conversion must produce, pixel pair by pixel pair.
std::vector<uint8_t> Expected(const Picture &p, uint32_t destPadding)
{
    const uint32_t pitch = 2 * p.width + destPadding;
    std::vector<uint8_t> out(static_cast<size_t>(pitch) * (p.height - 1) + 2 * p.width, kUntouched);
    const uint32_t chromaStride = p.lumaStride / 2;
    for (uint32_t row = 0; row < p.height; ++row) {
        for (uint32_t pair = 0; pair < p.width / 2; ++pair) {
            uint8_t *d = &out[static_cast<size_t>(row) * pitch + 4 * pair];
            const size_t chroma = static_cast<size_t>(row / 2) * chromaStride + pair;
            const size_t luma = static_cast<size_t>(row) * p.lumaStride + 2 * pair;
            d[0] = p.u[chroma];
            d[1] = p.luma[luma];
            d[2] = p.v[chroma];
            d[3] = p.luma[luma + 1];
        }
    }
    return out;
}

TEST(Uyvy, SixteenByTwoExampleByteByByte)
{
    uint8_t luma[32];
    uint8_t u[8];
    uint8_t v[8];
    for (int i = 0; i < 32; ++i) luma[i] = static_cast<uint8_t>(0x10 + i);
    for (int i = 0; i < 8; ++i) {
        u[i] = static_cast<uint8_t>(0x80 + i);
        v[i] = static_cast<uint8_t>(0xC0 + i);
    }
    std::vector<uint8_t> dest(64, kUntouched);
    ASSERT_TRUE(ConvertI420ToUyvy(luma, 16, u, v, dest.data(), 16, 2, 32));
    for (int row = 0; row < 2; ++row) {
        for (int i = 0; i < 8; ++i) {
            const uint8_t *d = &dest[row * 32 + 4 * i];
            EXPECT_EQ(d[0], u[i]) << "row " << row << " pair " << i;
            EXPECT_EQ(d[1], luma[row * 16 + 2 * i]);
            EXPECT_EQ(d[2], v[i]);
            EXPECT_EQ(d[3], luma[row * 16 + 2 * i + 1]);
        }
    }
}

struct Shape {
    uint32_t width, height, lumaPadding, destPadding;
};

const Shape kShapes[] = {
    {2, 2, 0, 0},     {2, 4, 2, 6},    {14, 2, 0, 0},   {14, 6, 4, 2},    {16, 2, 0, 0},
    {16, 4, 16, 32},  {18, 2, 0, 0},   {18, 6, 2, 4},   {30, 4, 0, 2},    {34, 6, 6, 0},
    {62, 2, 0, 0},    {64, 4, 0, 0},   {66, 2, 2, 2},   {96, 4, 32, 64},  {130, 2, 0, 6},
    {1922, 4, 0, 0},  {1922, 6, 62, 100},
};

TEST(Uyvy, EveryKernelMatchesTheLayoutOnAwkwardShapes)
{
    for (SimdLevel level : {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2, SimdLevel::kNeon}) {
        const UyvyRowFn kernel = UyvyRowKernel(level);
        if (kernel == nullptr) {
            continue;
        }
        uint32_t seed = 1;
        for (const Shape &shape : kShapes) {
            SCOPED_TRACE(testing::Message() << SimdLevelName(level) << " " << shape.width << "x"
                                            << shape.height << " padding " << shape.lumaPadding
                                            << "/" << shape.destPadding << " seed " << seed);
            Picture picture(shape.width, shape.height, shape.lumaPadding, seed++);
            std::vector<uint8_t> dest = picture.Destination(shape.destPadding);
            const uint32_t chromaStride = picture.lumaStride / 2;
            for (uint32_t row = 0; row < shape.height; ++row) {
                kernel(&picture.luma[static_cast<size_t>(row) * picture.lumaStride],
                       &picture.u[static_cast<size_t>(row / 2) * chromaStride],
                       &picture.v[static_cast<size_t>(row / 2) * chromaStride],
                       &dest[static_cast<size_t>(row) * picture.pitch], shape.width);
            }
            EXPECT_EQ(dest, Expected(picture, shape.destPadding));
        }
    }
}

// Streaming rows write to destinations starting on the streaming alignment.
TEST(Uyvy, StreamingKernelsMatchTheLayout)
{
    for (SimdLevel level : {SimdLevel::kSse2, SimdLevel::kAvx2}) {
        const UyvyKernels kernels = UyvyKernelsFor(level);
        if (kernels.streamingRow == nullptr) {
            continue;
        }
        uint32_t seed = 50;
        for (const Shape &shape : kShapes) {
            SCOPED_TRACE(testing::Message() << SimdLevelName(level) << " " << shape.width << "x" << shape.height);
            Picture picture(shape.width, shape.height, shape.lumaPadding, seed++);
            const uint32_t alignment = static_cast<uint32_t>(kUyvyStreamingAlignment);
            const uint32_t pitch = (2 * shape.width + alignment - 1) / alignment * alignment;
            std::vector<uint8_t> storage(static_cast<size_t>(pitch) * shape.height + alignment, kUntouched);
            uint8_t *dest = storage.data() + (alignment - reinterpret_cast<uintptr_t>(storage.data()) % alignment) % alignment;
            const uint32_t chromaStride = picture.lumaStride / 2;
            for (uint32_t row = 0; row < shape.height; ++row) {
                kernels.streamingRow(&picture.luma[static_cast<size_t>(row) * picture.lumaStride],
                                     &picture.u[static_cast<size_t>(row / 2) * chromaStride],
                                     &picture.v[static_cast<size_t>(row / 2) * chromaStride],
                                     dest + static_cast<size_t>(row) * pitch, shape.width);
            }
            kernels.fence();
            const std::vector<uint8_t> expected = Expected(picture, pitch - 2 * shape.width);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dest));
            EXPECT_EQ(dest[expected.size()], kUntouched);
        }
    }
}

// Large pictures take the streaming path when the destination allows it, the ordinary one when not.
TEST(Uyvy, LargePicturesAlignedAndNot)
{
    constexpr uint32_t kSide = 2048; // 8 MiB of output
    Picture picture(kSide, kSide, 0, 7);
    for (uint32_t offset : {0u, 16u, 1u}) {
        SCOPED_TRACE(offset);
        const uint32_t pitch = 2 * kSide + (offset == 1 ? 2 : 0);
        std::vector<uint8_t> storage(static_cast<size_t>(pitch) * kSide + 64, kUntouched);
        uint8_t *base = storage.data() + (64 - reinterpret_cast<uintptr_t>(storage.data()) % 64) % 64;
        uint8_t *dest = base + offset;
        ASSERT_TRUE(ConvertI420ToUyvy(picture.luma.data(), kSide, picture.u.data(), picture.v.data(), dest,
                                      kSide, kSide, static_cast<int32_t>(pitch)));
        const std::vector<uint8_t> expected = Expected(picture, pitch - 2 * kSide);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dest));
    }
}

TEST(Uyvy, WholePictureWithTheSelectedKernelAndForcedScalar)
{
    for (bool forceScalar : {false, true}) {
        ForceScalarKernels(forceScalar);
        uint32_t seed = 100;
        for (const Shape &shape : kShapes) {
            SCOPED_TRACE(testing::Message() << shape.width << "x" << shape.height << " scalar "
                                            << forceScalar);
            Picture picture(shape.width, shape.height, shape.lumaPadding, seed++);
            std::vector<uint8_t> dest = picture.Destination(shape.destPadding);
            ASSERT_TRUE(ConvertI420ToUyvy(picture.luma.data(), picture.lumaStride, picture.u.data(),
                                          picture.v.data(), dest.data(), shape.width, shape.height,
                                          static_cast<int32_t>(picture.pitch)));
            EXPECT_EQ(dest, Expected(picture, shape.destPadding));
        }
    }
    ForceScalarKernels(false);
}

TEST(Uyvy, RefusesSizesItCannotConvertWhole)
{
    std::vector<uint8_t> plane(64, 1);
    struct Case {
        uint32_t width, height, lumaStride;
        int32_t pitch;
    } cases[] = {
        {0, 2, 16, 32}, {16, 0, 16, 32}, {15, 2, 16, 32}, {16, 3, 16, 32},
        {16, 2, 14, 32}, {16, 2, 16, 30}, {16, 2, 16, -32},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> dest(128, kUntouched);
        EXPECT_FALSE(ConvertI420ToUyvy(plane.data(), c.lumaStride, plane.data(), plane.data(),
                                       dest.data(), c.width, c.height, c.pitch))
            << c.width << "x" << c.height;
        EXPECT_EQ(dest, std::vector<uint8_t>(128, kUntouched));
    }
    std::vector<uint8_t> dest(64);
    EXPECT_FALSE(ConvertI420ToUyvy(nullptr, 16, plane.data(), plane.data(), dest.data(), 16, 2, 32));
    EXPECT_FALSE(ConvertI420ToUyvy(plane.data(), 16, nullptr, plane.data(), dest.data(), 16, 2, 32));
    EXPECT_FALSE(ConvertI420ToUyvy(plane.data(), 16, plane.data(), plane.data(), nullptr, 16, 2, 32));
}

TEST(UyvyDispatch, ForcingScalarAndBack)
{
    const SimdLevel detected = SelectedSimdLevel();
    ForceScalarKernels(true);
    EXPECT_EQ(SelectedSimdLevel(), SimdLevel::kScalar);
    EXPECT_EQ(SelectedUyvyRow(), UyvyRowKernel(SimdLevel::kScalar));
    ForceScalarKernels(false);
    EXPECT_EQ(SelectedSimdLevel(), detected);
    if (std::getenv("ORVO_DISABLE_SIMD") == nullptr && UyvyRowKernel(SimdLevel::kSse2) != nullptr) {
        EXPECT_NE(detected, SimdLevel::kScalar) << "the CPU's vector kernels are chosen";
    }
}

TEST(UyvyDispatch, EnvironmentForcesScalar)
{
    if (std::getenv("ORVO_EXPECT_SCALAR") == nullptr) {
        GTEST_SKIP() << "run by ctest with ORVO_DISABLE_SIMD=1";
    }
    EXPECT_EQ(SelectedSimdLevel(), SimdLevel::kScalar);
    EXPECT_EQ(SelectedUyvyRow(), UyvyRowKernel(SimdLevel::kScalar));
}

} // namespace
} // namespace orvo::media
