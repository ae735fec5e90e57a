// The same client in C++: the public headers compile as C and as C++.
#include <orvoaudio/voice.h>

#include <cstdio>
#include <vector>

int main()
{
    std::vector<int16_t> pcm(160, 1000);
    VoiceCodecState enc{}, dec{};
    unsigned char frame[484];
    int16_t out[HI_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    if (HI_VOICE_EncReset(&enc, VOICE_G711_U) != 0 || HI_VOICE_DecReset(&dec, VOICE_G711_U) != 0)
        return 1;
    if (HI_VOICE_EncodeFrame(&enc, pcm.data(), frame, 160) != 0)
        return 1;
    int32_t rc = HI_VOICE_DecodeFrame(&dec, frame, out, &count);
    std::printf("mu-law 160 samples: %s, %d samples back\n", HI_VOICE_StatusText(rc), count);
    return rc != 0 || count != 160;
}
