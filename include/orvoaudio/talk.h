/* OrvoAudio talk service: the audio side of a two-way voice link.
 *
 * The host starts the service once, switches talking on and off, pulls the outgoing packets by
 * polling and hands in the packets it receives. The library never calls back into the host.
 *
 *   Orvo_InitialAudioTalk();             starts capturing at once (talk still off)
 *   Orvo_OpenTalk();                     talk on: one packet every 20 ms
 *   unsigned char packet[500];
 *   int32_t n;
 *   while ((n = Orvo_GetAudioTalkData(packet)) > 0) send(packet, n);   then again after a pause
 *   Orvo_InputTalkData(received, length);
 *   Orvo_CloseTalk();                    talk off; Orvo_OpenTalk() may follow at any time
 *
 * An outgoing packet ("TalkPacket") is 166 bytes: 0x80 0x06, then one voice frame of 160 G.711 mu-law
 * samples as HI_VOICE_EncodeFrame writes it (0x00 0x01 0x50 0x00 and 160 codes, see voice.h).
 * At most 14 packets (280 ms) wait for the host; a host that drains less often loses the newest.
 *
 * Results: Orvo_OpenTalk / Orvo_CloseTalk return -1 before Orvo_InitialAudioTalk has succeeded and 0
 * otherwise. Orvo_InitialAudioTalk returns 0 (a capture device that cannot be opened is not reported;
 * the service tries it again every 2 seconds). Orvo_GetAudioTalkData returns the packet length or 0.
 * Orvo_InputTalkData returns 0, or -1 for bad arguments.
 *
 * Threads: Orvo_GetAudioTalkData must be called from one thread at a time, and so must
 * Orvo_InputTalkData (each is the only reader/writer of its ring). The service runs until the
 * library is unloaded or the process ends; then the capture thread is stopped and the device closed.
 */
#ifndef ORVOAUDIO_TALK_H
#define ORVOAUDIO_TALK_H

#include <stdint.h>

#include "orvoaudio/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Largest packet Orvo_GetAudioTalkData can hand out (its buffer needs this much room), and the
 * largest packet Orvo_InputTalkData accepts. */
#define ORVO_TALK_OUT_PACKET_MAX 500
#define ORVO_TALK_IN_PACKET_MAX 1024

/* Directions for Orvo_SelectAudioDevice. */
#define ORVO_AUDIO_CAPTURE 0
#define ORVO_AUDIO_PLAYBACK 1

/* Starts the talk service: creates the capture thread, opens the capture device and starts
 * capturing. Does nothing when the service already runs. Always 0. */
ORVO_API int32_t Orvo_InitialAudioTalk(void);

/* Talk on / off. -1 before the service runs, else 0. Audio captured while talk is off is never
 * sent: the first packet after Orvo_OpenTalk holds audio captured at most 40 ms before the call
 * (the 20 ms block in progress, finished up to one 20 ms pass of the capture thread earlier).
 * Packets that waited in the outgoing ring at Orvo_CloseTalk come first, oldest first. */
ORVO_API int32_t Orvo_OpenTalk(void);
ORVO_API int32_t Orvo_CloseTalk(void);

/* Copies the oldest outgoing packet into `buffer` (room for ORVO_TALK_OUT_PACKET_MAX bytes) and
 * returns its length; 0 when the service does not run, talk is off, no packet waits, or `buffer` is
 * null (nothing is taken then). */
ORVO_API int32_t Orvo_GetAudioTalkData(unsigned char *buffer);

/* Stores a copy of `length` bytes as one packet in the incoming ring (up to 14 packets wait there).
 * 0 when stored, and also when the service does not run, talk is off, the ring is full, or playback
 * runs and the packet fails its checks (see below; counted as rejected) (the packet is dropped). -1, nothing stored, when talk is on and `data` is null, `length` is negative or above
 * ORVO_TALK_IN_PACKET_MAX. */
ORVO_API int32_t Orvo_InputTalkData(const unsigned char *data, int32_t length);

/* Chooses the sound device for one direction, used from the next time that direction's device is
 * opened (call it before Orvo_InitialAudioTalk). Not needed: without it the system default is used.
 *   NULL or "default"   the system default device
 *   "wav:PATH"          a WAV file: capture reads PATH (8000 Hz, mono, 16-bit PCM) in real time and
 *                       captures silence after its end; playback writes PATH (header complete on close).
 *                       A FIFO is opened without blocking: without a writer (capture, which waits
 *                       0.2 s for its WAV header) or a reader (playback) it counts as a missing
 *                       device; what a full FIFO cannot take is dropped
 *   any other name      an ALSA PCM name on Linux, e.g. "hw:1,0" or "plughw:CARD=USB,DEV=0"
 * Returns 0, or -1 (selection unchanged) for an unknown direction, an empty name, "wav:" without a
 * path or a name longer than 4096 bytes. An extension of this library. */
ORVO_API int32_t Orvo_SelectAudioDevice(int32_t direction, const char *name);


/* ---- Receive side: playback of the packets handed to Orvo_InputTalkData. An extension of this
 * library.
 *
 *   Orvo_InitialAudioTalk(); Orvo_OpenTalk(); Orvo_StartAudioPlay();
 *   for each packet received: Orvo_InputTalkData(packet, length);   it is played in order
 *
 * From Orvo_StartAudioPlay on, the playback thread takes the packets out of the incoming ring (so it
 * no longer fills up), checks each (talk header 0x80 0x06, a G.711 mu-law frame of 80, 160, 240 or
 * 320 samples with marker 0x0100, nothing after it; or a frame of the codec Orvo_SetTalkCodec
 * chose for playback), queues up to 25 frames and plays them on the
 * playback device (Orvo_SelectAudioDevice with ORVO_AUDIO_PLAYBACK). A packet that fails the checks
 * is counted and dropped; while playback runs, Orvo_InputTalkData checks each packet before it
 * stores it, so a refused one never takes a place in the incoming ring (a flood of junk cannot
 * crowd out the real packets); when 25 frames wait, the oldest is dropped for the newest. While fewer than
 * 15 frames wait, every tenth frame played is a repeat, so the queue builds up to absorb jitter. */

/* Starts playing. Creates the playback thread and opens the playback device on the first call.
 * 0 when playback runs; -1 before Orvo_InitialAudioTalk, or when the thread cannot be created or the
 * playback device cannot be opened (nothing is kept then; a later call tries again). */
ORVO_API int32_t Orvo_StartAudioPlay(void);

/* Stops playing and taking packets (they collect in the incoming ring again, up to 14); frames
 * already queued are kept for the next Orvo_StartAudioPlay. -1 before Orvo_InitialAudioTalk, else 0. */
ORVO_API int32_t Orvo_StopAudioPlay(void);

/* Counters since Orvo_InitialAudioTalk. received = played + rejected + dropped_overflow + queue_depth
 * whenever the playback thread is between passes. */
typedef struct OrvoTalkStats {
    uint32_t packets_captured;     /* packets encoded by the capture thread */
    uint32_t packets_dropped_out;  /* of those, dropped because 14 waited for the host already */
    uint32_t packets_received;     /* packets the playback thread took out of the incoming ring */
    uint32_t packets_rejected;     /* of those, dropped by the checks, never played */
    uint32_t frames_played;        /* frames taken from the queue and played (adaptive playout:
                                      taken into its jitter buffer, see OrvoPlayoutStats) */
    uint32_t frames_repeated;      /* extra plays of a frame (the stretch while the queue is short) */
    uint32_t frames_dropped_overflow; /* oldest frames dropped because 25 were queued */
    int32_t queue_depth;           /* frames queued now */
    uint32_t packets_dropped_in;   /* packets Orvo_InputTalkData dropped: the incoming ring was full */
} OrvoTalkStats;

/* Fills `stats`. 0, or -1 (nothing written) when `stats` is null or the service does not run. */
ORVO_API int32_t Orvo_GetAudioTalkStats(OrvoTalkStats *stats);

/* ---- Talk codec: the codec of the talk packets, per direction. An extension of this library.
 *
 * ORVO_AUDIO_CAPTURE: the capture thread encodes each 20 ms block with `type` (same talk header
 * 0x80 0x06, same voice frame; only the payload differs: 166 bytes for G.711, 90 for DVI4, 46 to
 * 106 for G.726 16 to 40 kbit/s). ORVO_AUDIO_PLAYBACK: the playback decodes incoming talk packets
 * as `type`, and checks them by that type's frame sizes (frames of up to 40 ms: G.711 and G.726 in
 * steps of 10 ms, DVI4 up to 320 samples). Default VOICE_G711_U both ways. The types are those
 * that code a 160-sample block whole: VOICE_G711_A, VOICE_G711_U, VOICE_ADPCM_DVI4,
 * VOICE_G726_16K..40K and VOICE_G726_16K_MSB..40K_MSB. VOICE_ADPCM_IMA is refused: it carries
 * 4k + 1 samples per frame, so a 160-sample block would lose three samples in every frame.
 * Takes effect from the next block / packet; may be called before Orvo_InitialAudioTalk; the
 * service's teardown restores the default. 0, or -1 (nothing changed) for an unknown direction or
 * a type not in the list. */
ORVO_API int32_t Orvo_SetTalkCodec(int32_t direction, int16_t type);
/* The talk codec of a direction, or -1 for an unknown direction. */
ORVO_API int32_t Orvo_GetTalkCodec(int32_t direction);

/* G.711 code conversion of `count` bytes from `in` to `out` (they may be the same buffer), through
 * the G.711 conversion tables: mu-law codes to A-law codes and back. 0, or -1 for a null pointer
 * with count above 0 or a negative count. */
ORVO_API int32_t Orvo_G711MuLawToALaw(const unsigned char *in, unsigned char *out, int32_t count);
ORVO_API int32_t Orvo_G711ALawToMuLaw(const unsigned char *in, unsigned char *out, int32_t count);

/* ---- Device state. An extension of this library. */

/* Whether the sound device of `direction` (ORVO_AUDIO_CAPTURE or ORVO_AUDIO_PLAYBACK) is open now:
 * 1 open, 0 not open (capture: missing or refused, tried again every 2 seconds; playback: not
 * started or refused), -1 before Orvo_InitialAudioTalk or for an unknown direction. */
ORVO_API int32_t Orvo_IsAudioDeviceOpen(int32_t direction);

/* ---- Playout mode of the receive side. An extension of this library.
 *
 * ORVO_PLAYOUT_STRETCH (the default) plays the queue as described above: it builds up to 15 frames
 * and never plays faster than real time. ORVO_PLAYOUT_ADAPTIVE keeps the delay as short as the
 * observed jitter allows: a jitter buffer takes the frames in order (RTP frames as the receive path
 * orders them, talk packets as they arrive), drops duplicates and frames that come after their
 * turn, times every arrival (RTP: when Orvo_InputRtpData took the packet), and keeps a
 * target delay of the recent jitter plus 5 ms, never below one frame, lowered as well as raised,
 * preferably in quiet stretches; a missing frame is concealed from the last pitch periods of the
 * signal (fading out over 60 ms); a sender clock that runs fast or slow is followed by taking out or
 * adding samples or pitch periods in quiet or periodic stretches; the playback device holds 2 or 3
 * blocks of 20 ms instead of 10. After 60 ms without frames the playout pauses and starts again,
 * at the target delay, with the next frame. */
#define ORVO_PLAYOUT_STRETCH 0
#define ORVO_PLAYOUT_ADAPTIVE 1

/* Chooses the playout mode, before or while playing (it takes effect within one pass of the
 * playback thread; frames held by adaptive playout are dropped when it is left). 0, or -1 for an
 * unknown mode (nothing changes). */
ORVO_API int32_t Orvo_SetPlayoutMode(int32_t mode);

/* Playout figures. Set `size` to sizeof(OrvoPlayoutStats) before the call: the library fills as
 * many bytes as both sides know, so the struct can grow. Delays and jitter in milliseconds, as
 * they are now; adaptive counters since adaptive playout was last chosen. Every frame taken into
 * the jitter buffer is counted once in frames_played, frames_dropped_quiet, frames_late,
 * frames_duplicate, frames_flushed or frames_buffered (their sum is frames_received). */
typedef struct OrvoPlayoutStats {
    uint32_t size;               /* bytes of this struct the caller knows */
    int32_t mode;                /* ORVO_PLAYOUT_STRETCH or ORVO_PLAYOUT_ADAPTIVE */
    int32_t buffer_delay_ms;     /* audio waiting in the jitter buffer (stretch: in the queue) */
    int32_t target_delay_ms;     /* adaptive: the delay it steers to (jitter + margin, >= 20) */
    int32_t device_delay_ms;     /* audio queued on the playback device after the latest block */
    int32_t device_target_ms;    /* the most the mode lets the device hold */
    int32_t jitter_ms;           /* adaptive: spread of the recent arrivals (2nd-98th percentile) */
    uint32_t frames_received;    /* adaptive: frames taken into the jitter buffer */
    uint32_t frames_played;      /* frames decoded and played */
    uint32_t frames_concealed;   /* adaptive: frames' worth of concealment played */
    uint32_t frames_late;        /* adaptive: dropped, came after their turn */
    uint32_t frames_duplicate;   /* adaptive: dropped, already there or played */
    uint32_t frames_flushed;     /* adaptive: dropped on overflow, a sequence jump, a mode change
                                    or a payload the decoder refused */
    uint32_t frames_reordered;   /* adaptive: came after a later frame and were put in order */
    uint32_t frames_dropped_quiet; /* adaptive: whole quiet frames left out to lower the delay */
    uint32_t frames_buffered;    /* adaptive: frames in the jitter buffer now */
    uint32_t shortenings;        /* adaptive: frames played shorter (delay down, fast sender) */
    uint32_t lengthenings;       /* adaptive: frames played longer (delay up, slow sender) */
    uint32_t samples_removed;    /* adaptive: samples those took out */
    uint32_t samples_inserted;   /* adaptive: samples those added */
    uint32_t buffer_underruns;   /* adaptive: times a frame was due and none was there */
    uint32_t device_underruns;   /* gaps: the device found too little queued after it had enough
                                    (a gap in time on a wav: device, whose file leaves it out; ALSA
                                    and winmm may play on from their own buffer); a pause of the
                                    stream counts too */
    uint32_t reserved;           /* 0; keeps the two times below at the same offset everywhere */
    /* Monotonic clock microseconds (CLOCK_MONOTONIC on Linux), 0 before: when the capture device
     * captured its sample 0 (its latest start), and when the playback device rendered its
     * sample 0 (handed to the device, for a wav: device written). With the recordings they give
     * the delay from mouth to ear. */
    int64_t capture_start_us;
    int64_t playback_start_us;
    /* Samples the playback device has played since its sample 0 (a wav: device's file holds
     * them without the gaps between): read now and then with the clock, it tells when each
     * recorded sample was played. */
    int64_t playback_samples;
} OrvoPlayoutStats;

/* Fills `stats` (see size above). 0; -1, nothing written, when `stats` is null, its size is
 * below 8 or the service does not run. Before Orvo_StartAudioPlay every figure but mode is 0. */
ORVO_API int32_t Orvo_GetPlayoutStats(OrvoPlayoutStats *stats);

#ifdef __cplusplus
} /* extern "C" */

/* Exported leftovers with C++ linkage; they carry no function. */
class ORVO_API COrvoPlayTalk {
public:
    COrvoPlayTalk();
    COrvoPlayTalk &operator=(const COrvoPlayTalk &other);
};

/* Returns 42. */
ORVO_API int fnOrvoPlay();
/* 0 after load; nothing in the library reads or writes it. */
extern ORVO_API int nOrvoPlay;
#endif

#endif /* ORVOAUDIO_TALK_H */
