/* Encodes a tone with every codec type and decodes it again, through the installed library. */
#include <orvoaudio/voice.h>
#include <stdio.h>

int main(void)
{
    static const int16_t types[] = {VOICE_G711_A, VOICE_G711_U, VOICE_ADPCM_DVI4, VOICE_ADPCM_IMA,
                                    VOICE_G726_16K, VOICE_G726_24K, VOICE_G726_32K, VOICE_G726_40K,
                                    VOICE_G726_16K_MSB, VOICE_G726_24K_MSB, VOICE_G726_32K_MSB,
                                    VOICE_G726_40K_MSB};
    int16_t pcm[160];
    for (int i = 0; i < 160; ++i)
        pcm[i] = (int16_t)((i % 40 < 20 ? 1 : -1) * 4000);
    int failures = 0;
    for (unsigned t = 0; t < sizeof types / sizeof types[0]; ++t) {
        VoiceCodecState enc, dec;
        unsigned char frame[484];
        int16_t out[HI_VOICE_MAX_SAMPLES];
        int16_t count = 0;
        int32_t rc = HI_VOICE_EncReset(&enc, types[t]);
        if (rc == 0) rc = HI_VOICE_DecReset(&dec, types[t]);
        if (rc == 0) rc = HI_VOICE_EncodeFrame(&enc, pcm, frame, 160);
        if (rc == 0) rc = HI_VOICE_DecodeFrame(&dec, frame, out, &count);
        printf("type %2d: %s, %d samples\n", types[t], HI_VOICE_StatusText(rc), count);
        failures += rc != 0;
    }
    return failures != 0;
}
