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
 * 320 samples with marker 0x0100, nothing after it), queues up to 25 frames and plays them on the
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
    uint32_t frames_played;        /* frames taken from the queue and played */
    uint32_t frames_repeated;      /* extra plays of a frame (the stretch while the queue is short) */
    uint32_t frames_dropped_overflow; /* oldest frames dropped because 25 were queued */
    int32_t queue_depth;           /* frames queued now */
    uint32_t packets_dropped_in;   /* packets Orvo_InputTalkData dropped: the incoming ring was full */
} OrvoTalkStats;

/* Fills `stats`. 0, or -1 (nothing written) when `stats` is null or the service does not run. */
ORVO_API int32_t Orvo_GetAudioTalkStats(OrvoTalkStats *stats);

/* ---- Device state. An extension of this library. */

/* Whether the sound device of `direction` (ORVO_AUDIO_CAPTURE or ORVO_AUDIO_PLAYBACK) is open now:
 * 1 open, 0 not open (capture: missing or refused, tried again every 2 seconds; playback: not
 * started or refused), -1 before Orvo_InitialAudioTalk or for an unknown direction. */
ORVO_API int32_t Orvo_IsAudioDeviceOpen(int32_t direction);

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
