/* OrvoAudio voice codec: frame-oriented G.711, IMA/DVI4 ADPCM and G.726.
 *
 * Every call works on a VoiceCodecState that the caller owns (one per direction and channel),
 * on the caller's buffers and on read-only tables: the codec allocates nothing, keeps nothing
 * between calls and takes no lock, so calls on different states may run concurrently.
 *
 * A frame ("VoiceFrame") is a 4-byte VoiceFrameHeader followed by `length` 16-bit payload words:
 *   offset 0  marker    16-bit little-endian, 0x0100 (bits 8-9 = frame kind 1, voice data)
 *   offset 2  length    payload length in 16-bit words (0..255)
 *   offset 3  reserved  0 on encoding, ignored on decoding
 *   offset 4  payload   2 x length bytes
 * The largest frame is 484 bytes (G.711 with 480 or 481 samples).
 *
 * Usage:
 *   VoiceCodecState enc; HI_VOICE_EncReset(&enc, VOICE_G711_U);
 *   unsigned char frame[484]; HI_VOICE_EncodeFrame(&enc, pcm, frame, 160);
 *   VoiceCodecState dec; HI_VOICE_DecReset(&dec, VOICE_G711_U);
 *   int16_t out[HI_VOICE_MAX_SAMPLES]; int16_t n; HI_VOICE_DecodeFrame(&dec, frame, out, &n);
 */
#ifndef ORVOAUDIO_VOICE_H
#define ORVOAUDIO_VOICE_H

#include <stdint.h>

#include "orvoaudio/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Largest sample count accepted by HI_VOICE_EncodeFrame, and largest count any frame decodes to. */
#define HI_VOICE_MAX_SAMPLES 481

/* Codec types. */
#define VOICE_G711_A 1        /* G.711 A-law, 8 bits per sample */
#define VOICE_G711_U 2        /* G.711 mu-law, 8 bits per sample */
#define VOICE_ADPCM_DVI4 3    /* IMA ADPCM, header = predictor state, first code in high nibble */
#define VOICE_G726_16K 4      /* G.726 16 kbit/s, codes packed LSB first */
#define VOICE_G726_24K 5      /* G.726 24 kbit/s, LSB first */
#define VOICE_G726_32K 6      /* G.726 32 kbit/s, LSB first */
#define VOICE_G726_40K 7      /* G.726 40 kbit/s, LSB first */
#define VOICE_ADPCM_IMA 35    /* IMA ADPCM, header = first sample, first code in low nibble */
#define VOICE_G726_16K_MSB 36 /* G.726 16 kbit/s, codes packed MSB first */
#define VOICE_G726_24K_MSB 37 /* G.726 24 kbit/s, MSB first */
#define VOICE_G726_32K_MSB 38 /* G.726 32 kbit/s, MSB first */
#define VOICE_G726_40K_MSB 39 /* G.726 40 kbit/s, MSB first */

/* Status codes: 0 is success; every error has the top bit set (negative as int32_t). */
#define HI_ERR_VOICE_NULL_STATE ((int32_t)0xA1222101u)  /* state pointer is null */
#define HI_ERR_VOICE_NULL_INPUT ((int32_t)0xA1222102u)  /* samples (encode) / frame (decode) null */
#define HI_ERR_VOICE_NULL_OUTPUT ((int32_t)0xA1222103u) /* frame (encode) / samples or count null */
#define HI_ERR_VOICE_ENC_TYPE ((int32_t)0xA1222001u)    /* unsupported codec type (encoder) */
#define HI_ERR_VOICE_ENC_SAMPLES ((int32_t)0xA1222002u) /* sample count below 1 or above 481 */
#define HI_ERR_VOICE_DEC_TYPE ((int32_t)0xA1222011u)    /* unsupported codec type (decoder) */
#define HI_ERR_VOICE_DEC_LENGTH ((int32_t)0xA1222012u)  /* frame length 0 or not accepted */
#define HI_ERR_VOICE_DEC_MARKER ((int32_t)0xA1222013u)  /* marker bits 8-9 are not 01 */
/* Batched calls only: a channel array is null, or the channel count is outside
 * 1..HI_VOICE_MAX_CHANNELS. Nothing is written. */
#define HI_ERR_VOICE_CHANNELS ((int32_t)0xA1222104u)

/* Largest channel count accepted by HI_VOICE_EncodeFrames and HI_VOICE_DecodeFrames. */
#define HI_VOICE_MAX_CHANNELS 4096

/* Frame header, byte layout as above (marker little-endian). */
typedef struct VoiceFrameHeader {
    uint16_t marker;
    uint8_t length;
    uint8_t reserved;
} VoiceFrameHeader;

/* IMA ADPCM channel state. */
typedef struct AdpcmState {
    int16_t predicted; /* predicted sample */
    uint8_t step_index; /* index into the step table, 0..88 */
} AdpcmState;

/* G.726 coder state; field names are the Recommendation's quantities. */
typedef struct G726State {
    int32_t format; /* sample format, always 2 (16-bit linear PCM) */
    int32_t bits;   /* code width in bits, 2..5 */
    int32_t a1;     /* first pole coefficient (A1), 16384 = 1.0 */
    int32_t a2;     /* second pole coefficient (A2) */
    int32_t ap;     /* adaptation speed control (AP) */
    int32_t b1, b2, b3, b4, b5, b6; /* zero coefficients (B1..B6) */
    int32_t dml;    /* long-term average of F(I) (DML) */
    int32_t dms;    /* short-term average of F(I) (DMS) */
    int32_t dq1, dq2, dq3, dq4, dq5, dq6; /* previous quantized differences, floating format */
    int32_t pk1, pk2; /* signs of the previous partial signal estimates (0 or -1) */
    int32_t sr1, sr2; /* previous reconstructed signals, floating format */
    int32_t td;     /* tone detected (TD) */
    int32_t yl;     /* slow quantizer scale factor (YL) */
    int32_t yu;     /* fast quantizer scale factor (YU) */
} G726State;

/* One codec channel's state for one direction. Prepare with HI_VOICE_EncReset/DecReset. */
typedef struct VoiceCodecState {
    int16_t type; /* codec type */
    union {
        AdpcmState adpcm;
        G726State g726;
    } family;
} VoiceCodecState;

/* Prepare `state` for codec `type`. The type is stored even when it is refused. */
ORVO_API int32_t HI_VOICE_EncReset(VoiceCodecState *state, int16_t type);
ORVO_API int32_t HI_VOICE_DecReset(VoiceCodecState *state, int16_t type);

/* Encode `count` (1..481) samples into one frame at `frame` (exactly 4 + 2 x length bytes are
 * written; at most 484). On failure neither `frame` nor `state` is touched. */
ORVO_API int32_t HI_VOICE_EncodeFrame(VoiceCodecState *state, const int16_t *samples, void *frame,
                                      int16_t count);

/* Decode one frame into `samples` (room for 481) and store the sample count in `*count` (0 on any
 * failure after the pointer checks). Frames of types 36..39 are re-ordered in place. */
ORVO_API int32_t HI_VOICE_DecodeFrame(VoiceCodecState *state, void *frame, int16_t *samples,
                                      int16_t *count);

/* Batched calls (an extension of this library): code `channels` independent channels in one
 * call, with the channels of one codec family coded side by side in vector lanes where the CPU
 * allows it. Channel i is exactly
 *   results[i] = HI_VOICE_EncodeFrame(states[i], samples[i], frames[i], count)
 *   results[i] = HI_VOICE_DecodeFrame(states[i], frames[i], samples[i], &counts[i])
 * with the same frames, samples, states, argument checks and status codes; a refused channel
 * leaves its buffers and state untouched and never disturbs another. Channels may mix codec
 * types. The return value is 0 when every channel succeeded, else the code of the first failing
 * channel. A null `states`, `samples`, `frames`, `results` (or `counts`) array, or `channels`
 * outside 1..HI_VOICE_MAX_CHANNELS, gives HI_ERR_VOICE_CHANNELS and writes nothing.
 * The calls allocate nothing. Every channel needs its own state and its own buffers: a state or a
 * buffer given to two channels, or buffers of two channels that overlap, give undefined frames
 * and states (each channel still writes only within its own buffers). */
ORVO_API int32_t HI_VOICE_EncodeFrames(VoiceCodecState *const *states, const int16_t *const *samples,
                                       void *const *frames, int16_t count, int32_t channels,
                                       int32_t *results);
ORVO_API int32_t HI_VOICE_DecodeFrames(VoiceCodecState *const *states, void *const *frames,
                                       int16_t *const *samples, int16_t *counts, int32_t channels,
                                       int32_t *results);

/* A short English description of a codec status ("success", "null state pointer", ...); never
 * null. An extension of this library, not part of the original codec interface. */
ORVO_API const char *HI_VOICE_StatusText(int32_t status);

#ifdef __cplusplus
}
#endif

#endif /* ORVOAUDIO_VOICE_H */
