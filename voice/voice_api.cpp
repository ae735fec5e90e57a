// The exported codec functions: argument checks in their fixed order, then the families.
#include "orvoaudio/voice.h"

extern "C" {

ORVO_API int32_t HI_VOICE_EncReset(VoiceCodecState *state, int16_t)
{
    return state ? HI_ERR_VOICE_ENC_TYPE : HI_ERR_VOICE_NULL_STATE;
}
ORVO_API int32_t HI_VOICE_DecReset(VoiceCodecState *state, int16_t)
{
    return state ? HI_ERR_VOICE_DEC_TYPE : HI_ERR_VOICE_NULL_STATE;
}
ORVO_API int32_t HI_VOICE_EncodeFrame(VoiceCodecState *state, const int16_t *, void *, int16_t)
{
    return state ? HI_ERR_VOICE_ENC_TYPE : HI_ERR_VOICE_NULL_STATE;
}
ORVO_API int32_t HI_VOICE_DecodeFrame(VoiceCodecState *state, void *, int16_t *, int16_t *)
{
    return state ? HI_ERR_VOICE_DEC_TYPE : HI_ERR_VOICE_NULL_STATE;
}
ORVO_API const char *HI_VOICE_StatusText(int32_t) { return "unknown status"; }

} // extern "C"
