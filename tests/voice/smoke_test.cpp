#include <gtest/gtest.h>

#include "orvoaudio/voice.h"

TEST(VoiceApi, NullStateComesFirst)
{
    EXPECT_EQ(HI_VOICE_EncReset(nullptr, VOICE_G711_U), HI_ERR_VOICE_NULL_STATE);
    EXPECT_EQ(HI_VOICE_DecodeFrame(nullptr, nullptr, nullptr, nullptr), HI_ERR_VOICE_NULL_STATE);
}
