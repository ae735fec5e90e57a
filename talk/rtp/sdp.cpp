// SDP fragments for the RTP payloads of the talk codecs: a writer for what we send and a reader
// for what a peer offers.
#include "orvoaudio/rtp.h"

extern "C" {

ORVO_API int32_t Orvo_SdpWriteAudio(char *, int32_t, const char *, int32_t, int32_t, int16_t,
                                    int32_t)
{
    return ORVO_RTP_ERR_ARGUMENT;
}

ORVO_API int32_t Orvo_SdpWriteSession(char *, int32_t, const char *, int32_t, int32_t, int16_t,
                                      int32_t, int32_t)
{
    return ORVO_RTP_ERR_ARGUMENT;
}

ORVO_API int32_t Orvo_SdpRead(const char *, int32_t, OrvoSdpMedia *, int32_t)
{
    return ORVO_RTP_ERR_SDP;
}

} // extern "C"
