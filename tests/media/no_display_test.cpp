#include <gtest/gtest.h>

#include "media/HI_DIRECTX_Draw.h"

namespace orvo::media {
namespace {

TEST(NoDisplay, InitFailsAtTheDisplayObjectAndNothingIsDrawn)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has its own display driver";
#endif
    int token = 0;
    CDirectXDraw draw;
    int32_t kind = -7;
    EXPECT_EQ(draw.Init(&token, 352, 288, &kind), kDrawCreateFailed);
    EXPECT_EQ(kind, DRAW_FORMAT_NONE);
    const uint8_t picture[4] = {};
    EXPECT_EQ(draw.ShowPicture(picture, nullptr, nullptr, 0), kDrawLockFailed);
    draw.Uninit();
}

} // namespace
} // namespace orvo::media
