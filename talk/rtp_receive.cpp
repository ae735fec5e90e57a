// The RTP receive path into the playback.
#include "orvoaudio/rtp.h"

extern "C" {

ORVO_API int32_t Orvo_InputRtpData(const unsigned char *, int32_t) { return ORVO_RTP_ERR_NOT_RUNNING; }

ORVO_API int32_t Orvo_GetRtpStats(OrvoRtpStats *) { return ORVO_RTP_ERR_NOT_RUNNING; }

} // extern "C"
