// The platform's PCM format record WAVEFORMATEX: on Windows the system's own, elsewhere the same
// packed 18-byte layout (seven fields, no padding).
#ifndef ORVO_PLATFORM_WAVE_FORMAT_H
#define ORVO_PLATFORM_WAVE_FORMAT_H

#if defined(_WIN32)
#include <windows.h>
// windows.h first: the multimedia header needs its types.
#include <mmsystem.h>
#elif !defined(ORVO_WAVEFORMATEX_DEFINED)
#define ORVO_WAVEFORMATEX_DEFINED
#include <stdint.h>

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    uint16_t wFormatTag;      /* 1 = PCM */
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec; /* nSamplesPerSec x nBlockAlign */
    uint16_t nBlockAlign;     /* nChannels x bytes per sample */
    uint16_t wBitsPerSample;
    uint16_t cbSize;          /* bytes of format-specific data after the record */
} WAVEFORMATEX;
#pragma pack(pop)

#ifndef WAVE_FORMAT_PCM
#define WAVE_FORMAT_PCM 1
#endif
#endif

#ifdef __cplusplus
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is the packed 18-byte record");
#endif

#endif /* ORVO_PLATFORM_WAVE_FORMAT_H */
