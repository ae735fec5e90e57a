/* OrvoAudio RTP framing: talk frames as standard RTP packets (RFC 3550, RFC 3551 payload formats)
 * and an SDP fragment writer and reader for them. An extension of this library.
 *
 * Bytes in, bytes out: nothing here opens a socket. The host moves the packets.
 *
 * Sending (any thread; the sender state belongs to the caller):
 *   OrvoRtpSender s; Orvo_RtpSenderInit(&s, VOICE_G711_U, ORVO_RTP_PT_AUTO, 0);
 *   unsigned char talk[ORVO_TALK_OUT_PACKET_MAX], rtp[ORVO_RTP_PACKET_MAX];
 *   while ((n = Orvo_GetAudioTalkData(talk)) > 0) {
 *       int32_t m = Orvo_RtpFromTalkPacket(&s, talk, n, rtp, sizeof rtp);
 *       if (m > 0) send(rtp, m);
 *   }
 *   Orvo_RtpSenderStartSpurt(&s);   after a pause in the speech: the next packet carries the marker
 *
 * Receiving, into the library's playback (Orvo_StartAudioPlay):
 *   Orvo_SetRtpPayloadType(97, VOICE_G726_32K);   dynamic types, e.g. from the peer's SDP
 *   for each packet received: Orvo_InputRtpData(packet, length);
 * Packets are played in sequence-number order, not in arrival order: a packet that arrives early
 * waits for the ones before it (up to ORVO_RTP_REORDER_WAIT_MS, or until ORVO_RTP_REORDER_DEPTH
 * later ones have arrived); one still missing then is counted lost and its time stays silent, as
 * for any gap; one that arrives after its turn is counted late and dropped, a second copy of a
 * packet is counted as a duplicate and dropped. The payload type may change from packet to packet:
 * each packet is decoded with its own codec (the decoder is reset when the codec changes). A new
 * SSRC is a new stream: its numbering starts afresh and the decoder is reset.
 *
 * Payload types and codecs (the SDP encoding names are case-insensitive on reading):
 *   PCMU 0 static           VOICE_G711_U
 *   PCMA 8 static           VOICE_G711_A
 *   DVI4 5 static           VOICE_ADPCM_DVI4 (RFC 3551 layout: 16-bit big-endian predictor, step
 *                           index, a reserved byte, then the codes, first code in the high nibble;
 *                           converted to and from the codec's own frame layout here)
 *   G726-16/24/32/40        VOICE_G726_16K..40K (codes packed from the least significant bit)
 *   AAL2-G726-16/24/32/40   VOICE_G726_16K_MSB..40K_MSB (packed from the most significant bit)
 * The G.726 names have no static payload type: a dynamic one (96..127) is agreed in the SDP.
 * Payload lengths taken: G.711 and G.726 any whole number of codes up to 2048 bytes (a payload
 * of 10 to 40 ms in steps of 10 ms is played as one frame; others, such as ffmpeg's 1024-byte
 * packets, are cut into 20 ms frames, what is left over joining the next packet's payload);
 * DVI4 one block of an even number of code bytes up to 160 (320 samples).
 *
 * Threads: Orvo_InputRtpData must be called from one thread at a time (it is the single writer of
 * the receive queue); the other calls may come from any thread. Orvo_SetRtpPayloadType and
 * Orvo_SetRtpG726Packing take effect from the next packet.
 *
 * Status codes: 0 or a positive length for success, otherwise one of the ORVO_RTP_ERR_* below
 * (Orvo_RtpStatusText gives a short text for each).
 */
#ifndef ORVOAUDIO_RTP_H
#define ORVOAUDIO_RTP_H

#include <stdint.h>

#include "orvoaudio/export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ORVO_RTP_VERSION 2
#define ORVO_RTP_HEADER_BYTES 12       /* fixed header, as written (no CSRC, extension, padding) */
#define ORVO_RTP_CLOCK_RATE 8000       /* RTP timestamp units per second for every payload here */
#define ORVO_RTP_PACKET_MAX 512        /* room enough for any packet Orvo_RtpFromTalkPacket writes */
#define ORVO_RTP_INPUT_MAX 65535       /* longest packet Orvo_InputRtpData / Orvo_RtpParse look at */
#define ORVO_RTP_REORDER_DEPTH 4       /* later packets that may overtake a missing one */
#define ORVO_RTP_REORDER_WAIT_MS 60    /* how long a missing packet is waited for */

/* Payload types. */
#define ORVO_RTP_PT_PCMU 0
#define ORVO_RTP_PT_DVI4 5
#define ORVO_RTP_PT_PCMA 8
#define ORVO_RTP_PT_DYNAMIC_FIRST 96
#define ORVO_RTP_PT_DYNAMIC_LAST 127
/* For Orvo_RtpSenderInit: the static type of PCMU, PCMA, DVI4, and for G.726 the dynamic type
 * Orvo_RtpDefaultPayloadType gives. */
#define ORVO_RTP_PT_AUTO (-1)

/* Status codes (all negative). */
#define ORVO_RTP_OK 0
#define ORVO_RTP_ERR_ARGUMENT (-1)      /* null pointer, negative length, value out of range */
#define ORVO_RTP_ERR_NOT_RUNNING (-2)   /* Orvo_InputRtpData before Orvo_InitialAudioTalk */
#define ORVO_RTP_ERR_SHORT (-3)         /* fewer bytes than the header, its CSRC list and extension */
#define ORVO_RTP_ERR_VERSION (-4)       /* version field is not 2 */
#define ORVO_RTP_ERR_PADDING (-5)       /* padding count 0 or longer than the payload */
#define ORVO_RTP_ERR_PAYLOAD_TYPE (-6)  /* payload type with no codec mapped to it */
#define ORVO_RTP_ERR_LENGTH (-7)        /* payload length that is not one frame of the codec */
#define ORVO_RTP_ERR_OVERSIZE (-8)      /* more than ORVO_RTP_INPUT_MAX bytes */
#define ORVO_RTP_ERR_FULL (-9)          /* the receive queue is full (playback not taking): dropped */
#define ORVO_RTP_ERR_CAPACITY (-10)     /* output buffer too small; nothing written */
#define ORVO_RTP_ERR_CODEC (-11)        /* codec type not carried over RTP, or a talk packet that is
                                           not a frame of the sender's codec */
#define ORVO_RTP_ERR_SDP (-12)          /* not a session description (no m= line found) */

/* ---- Sender ------------------------------------------------------------------------------- */

/* One outgoing stream. The fields may be read at any time; sequence and timestamp may also be set
 * after Orvo_RtpSenderInit (to continue a stream), the others only through the calls. */
typedef struct OrvoRtpSender {
    uint32_t ssrc;          /* synchronisation source, random unless given */
    uint32_t timestamp;     /* timestamp of the next packet (random start, +160 per 20 ms frame) */
    uint16_t sequence;      /* sequence number of the next packet (random start, +1 per packet) */
    uint8_t marker_pending; /* 1: the next packet starts a talk spurt and carries the marker bit */
    uint8_t reserved;
    int32_t payload_type;   /* 0..127 */
    int16_t voice_type;     /* codec of the talk packets handed in (VOICE_*) */
    int16_t reserved2;
    uint32_t packets_sent;  /* packets written */
    uint32_t octets_sent;   /* payload bytes written (as RTCP counts them) */
} OrvoRtpSender;

/* Prepares a sender for talk packets of `voice_type` (one of the codecs above), sent with
 * `payload_type` (0..127, or ORVO_RTP_PT_AUTO), from `ssrc` (0: chosen at random). Sequence number
 * and timestamp start at random values; the first packet carries the marker. 0, or
 * ORVO_RTP_ERR_ARGUMENT (null sender, payload type out of range) / ORVO_RTP_ERR_CODEC (nothing
 * written to the sender then). */
ORVO_API int32_t Orvo_RtpSenderInit(OrvoRtpSender *sender, int16_t voice_type,
                                    int32_t payload_type, uint32_t ssrc);

/* The next packet starts a talk spurt (marker bit set). Call it when speech resumes after a pause. */
ORVO_API void Orvo_RtpSenderStartSpurt(OrvoRtpSender *sender);

/* Turns one talk packet (as Orvo_GetAudioTalkData hands it out: 0x80 0x06 and one voice frame of
 * the sender's codec) into one RTP packet in `rtp` (`capacity` bytes; ORVO_RTP_PACKET_MAX always
 * suffices). Returns the RTP packet's length, or ORVO_RTP_ERR_ARGUMENT (null pointer),
 * ORVO_RTP_ERR_CODEC (not a frame of the sender's codec: bad talk header, marker, length),
 * ORVO_RTP_ERR_CAPACITY. On failure nothing is written and the sender is unchanged; on success
 * sequence number and timestamp move on and the marker is cleared. The G.726 packing override for
 * ORVO_AUDIO_CAPTURE (Orvo_SetRtpG726Packing) applies. */
ORVO_API int32_t Orvo_RtpFromTalkPacket(OrvoRtpSender *sender, const unsigned char *talk,
                                        int32_t talk_length, unsigned char *rtp, int32_t capacity);

/* The payload type ORVO_RTP_PT_AUTO stands for: 0, 8, 5 for PCMU, PCMA, DVI4; 96 + n for the
 * G.726 types (n = 0..3 for G726-16..40, 4..7 for AAL2-G726-16..40); -1 for any other type. */
ORVO_API int32_t Orvo_RtpDefaultPayloadType(int16_t voice_type);

/* ---- Receiver into the playback ----------------------------------------------------------- */

/* Hands one received RTP packet to the playback (Orvo_StartAudioPlay; until playback runs, and
 * while the playback's queue has no room for a packet's frames, up to 63 packets wait). Checks it (version, length, padding, payload type, payload length for its
 * codec) and queues it for ordering by sequence number. 0 queued (it may still be dropped later as
 * late or duplicate, see Orvo_GetRtpStats), or the reason it was refused, which is also counted:
 * ORVO_RTP_ERR_ARGUMENT, _NOT_RUNNING, _SHORT, _VERSION, _PADDING, _PAYLOAD_TYPE, _LENGTH,
 * _OVERSIZE, _FULL. A refused packet is never played. */
ORVO_API int32_t Orvo_InputRtpData(const unsigned char *data, int32_t length);

/* Maps a dynamic payload type (96..127) to a codec (one of the types above), or removes the mapping
 * (voice_type 0). The static types 0, 5, 8 are fixed. 0, or ORVO_RTP_ERR_ARGUMENT /
 * ORVO_RTP_ERR_CODEC. Mappings stay until changed (a library-wide table; the service's teardown
 * clears it, and the packing overrides below). */
ORVO_API int32_t Orvo_SetRtpPayloadType(int32_t payload_type, int16_t voice_type);

/* G.726 bit order of one direction, for endpoints that announce one packing and use the other:
 * ORVO_RTP_G726_AS_ANNOUNCED (default) takes the packing of the codec (G726-xx: LSB first,
 * AAL2-G726-xx: MSB first); ORVO_RTP_G726_FORCE_LSB / _FORCE_MSB treat every G.726 payload of
 * that direction (ORVO_AUDIO_CAPTURE: sent; ORVO_AUDIO_PLAYBACK: received) as packed from the least
 * / most significant bit, whatever the payload type says. 0, or ORVO_RTP_ERR_ARGUMENT. */
#define ORVO_RTP_G726_AS_ANNOUNCED 0
#define ORVO_RTP_G726_FORCE_LSB 1
#define ORVO_RTP_G726_FORCE_MSB 2
ORVO_API int32_t Orvo_SetRtpG726Packing(int32_t direction, int32_t packing);

/* Receive counters since Orvo_InitialAudioTalk (cleared with the service). Set `size` to
 * sizeof(OrvoRtpStats) before the call; the library fills as many fields as both know.
 * packets_in = queued + every refused_*; once the playback has taken them out of the receive
 * queue, queued = in_order + reordered + late + duplicates + dropped_stream, and in_order +
 * reordered = handed to the playback + waiting. Frames handed to the playback also count in
 * OrvoTalkStats (packets_received, frames_played, ...). */
typedef struct OrvoRtpStats {
    uint32_t size;                  /* in: sizeof(OrvoRtpStats) */
    uint32_t packets_in;            /* calls of Orvo_InputRtpData with the service running */
    uint32_t queued;                /* passed the checks */
    uint32_t refused_argument;      /* null data or negative length */
    uint32_t refused_short;
    uint32_t refused_version;
    uint32_t refused_padding;
    uint32_t refused_payload_type;
    uint32_t refused_length;
    uint32_t refused_oversize;
    uint32_t refused_full;
    uint32_t in_order;              /* arrived in their turn: handed to the playback at once */
    uint32_t reordered;             /* arrived early: waited for the ones before (or their loss) */
    uint32_t late;                  /* arrived after their turn had passed: dropped */
    uint32_t duplicates;            /* second copies: dropped */
    uint32_t dropped_stream;        /* far outside the expected numbers (RFC 3550's rule): dropped */
    uint32_t lost;                  /* sequence numbers given up on (never arrived in time) */
    uint32_t ssrc_changes;          /* new streams after the first */
    uint32_t codec_changes;         /* payload codec differing from the packet before */
    uint32_t sequence_restarts;     /* jumps of the numbering within a stream, followed */
    uint32_t ssrc;                  /* current stream */
    uint32_t highest_sequence;      /* highest extended sequence number handed over (cycles << 16) */
    int32_t voice_type;             /* codec of the last packet handed over, 0 before the first */
    int32_t waiting;                /* packets held for ordering now */
} OrvoRtpStats;

/* Fills `stats`. 0, or ORVO_RTP_ERR_ARGUMENT (null, or size below 8) / ORVO_RTP_ERR_NOT_RUNNING. */
ORVO_API int32_t Orvo_GetRtpStats(OrvoRtpStats *stats);

/* ---- Pure parsing (no state; for tools and tests) ----------------------------------------- */

typedef struct OrvoRtpHeader {
    uint8_t version;
    uint8_t padding;          /* P bit */
    uint8_t extension;        /* X bit */
    uint8_t csrc_count;       /* CC */
    uint8_t marker;           /* M bit */
    uint8_t payload_type;     /* 0..127 */
    uint16_t sequence;
    uint32_t timestamp;
    uint32_t ssrc;
    uint32_t csrc[15];        /* the first csrc_count are valid */
    uint16_t extension_profile; /* with X: the profile word of the header extension */
    uint16_t reserved;
    int32_t extension_length; /* with X: bytes of extension data after its 4-byte head */
    int32_t padding_length;   /* with P: padding bytes at the end (the last byte's count) */
    int32_t payload_offset;   /* first payload byte */
    int32_t payload_length;   /* payload bytes (padding excluded) */
} OrvoRtpHeader;

/* Parses the header of the `length` bytes at `data` into `out`. 0, or ORVO_RTP_ERR_ARGUMENT,
 * ORVO_RTP_ERR_OVERSIZE, ORVO_RTP_ERR_SHORT, ORVO_RTP_ERR_VERSION, ORVO_RTP_ERR_PADDING (out is
 * undefined then). Reads nothing beyond `length` bytes. */
ORVO_API int32_t Orvo_RtpParse(const unsigned char *data, int32_t length, OrvoRtpHeader *out);

/* Codec of an SDP encoding name ("PCMU", "g726-32", "AAL2-G726-24", ...; case-insensitive), or 0. */
ORVO_API int16_t Orvo_RtpVoiceTypeFromName(const char *encoding_name);
/* SDP encoding name of a codec ("PCMU", "G726-32", "AAL2-G726-32", ...), or NULL for a type not
 * carried over RTP (VOICE_ADPCM_IMA among them). */
ORVO_API const char *Orvo_RtpNameOfVoiceType(int16_t voice_type);
/* The codec a received payload type stands for now: the static types, the dynamic mappings; 0 if
 * none. */
ORVO_API int16_t Orvo_RtpVoiceTypeOfPayloadType(int32_t payload_type);

/* A short English text for an ORVO_RTP_* status; never NULL. */
ORVO_API const char *Orvo_RtpStatusText(int32_t status);

/* ---- SDP ---------------------------------------------------------------------------------- */

#define ORVO_SDP_SENDRECV 0
#define ORVO_SDP_SENDONLY 1
#define ORVO_SDP_RECVONLY 2
#define ORVO_SDP_INACTIVE 3

/* Writes the media description of one audio stream, NUL-terminated, lines ending in CRLF:
 *   m=audio PORT RTP/AVP PT
 *   c=IN IP4 ADDRESS          (IP6 when the address contains ':')
 *   a=rtpmap:PT NAME/8000
 *   a=ptime:PTIME             (when ptime_ms > 0)
 * Returns the length written (without the NUL), or ORVO_RTP_ERR_ARGUMENT (null pointer, port
 * outside 0..65535, payload type outside 0..127, address empty, longer than 63 bytes or containing
 * spaces or line breaks), ORVO_RTP_ERR_CODEC, ORVO_RTP_ERR_CAPACITY (nothing written then). */
ORVO_API int32_t Orvo_SdpWriteAudio(char *out, int32_t capacity, const char *address, int32_t port,
                                    int32_t payload_type, int16_t voice_type, int32_t ptime_ms);

/* A whole session description around that media description (v=, o=, s=, c=, t=, then the media
 * lines and a=sendrecv / sendonly / recvonly / inactive for `direction`), as a file that ffmpeg or
 * GStreamer can receive the stream by. Same results as Orvo_SdpWriteAudio, ORVO_RTP_ERR_ARGUMENT
 * also for an unknown direction. */
ORVO_API int32_t Orvo_SdpWriteSession(char *out, int32_t capacity, const char *address,
                                      int32_t port, int32_t payload_type, int16_t voice_type,
                                      int32_t ptime_ms, int32_t direction);

#define ORVO_SDP_MAX_FORMATS 16
#define ORVO_SDP_NAME_MAX 32
#define ORVO_SDP_CONTROL_MAX 256
#define ORVO_SDP_ADDRESS_MAX 64

/* One media description ("m=" section) as read. Strings are NUL-terminated, cut to their field. */
typedef struct OrvoSdpMedia {
    char media[16];                      /* "audio", "video", "application", ... */
    char protocol[32];                   /* "RTP/AVP", ... */
    int32_t port;
    int32_t payload_count;               /* formats on the m= line, up to ORVO_SDP_MAX_FORMATS */
    int32_t payload_types[ORVO_SDP_MAX_FORMATS]; /* -1 for a format that is not a number */
    char encoding[ORVO_SDP_MAX_FORMATS][ORVO_SDP_NAME_MAX]; /* from a=rtpmap, or the static name */
    int32_t clock_rate[ORVO_SDP_MAX_FORMATS];   /* from a=rtpmap, or the static rate; 0 unknown */
    int32_t channels[ORVO_SDP_MAX_FORMATS];     /* from a=rtpmap (1 when not given) */
    int16_t voice_type[ORVO_SDP_MAX_FORMATS];   /* our codec for the format at 8000 Hz mono, or 0 */
    int32_t ptime_ms;                    /* a=ptime, 0 when not given */
    int32_t direction;                   /* ORVO_SDP_*; the session's when the media has none */
    char control[ORVO_SDP_CONTROL_MAX];  /* a=control of the media, "" when none */
    char session_control[ORVO_SDP_CONTROL_MAX]; /* a=control of the session, "" when none */
    char address[ORVO_SDP_ADDRESS_MAX];  /* c= address of the media, else of the session */
} OrvoSdpMedia;

/* Reads a session description (`length` bytes at `sdp`, need not be NUL-terminated; CRLF or LF
 * line ends; unknown lines skipped) and fills up to `max_media` entries of `media`, in the order
 * of the m= lines. Returns the number filled, or ORVO_RTP_ERR_ARGUMENT (null pointer, negative
 * length or max_media) / ORVO_RTP_ERR_SDP (no m= line). Never reads beyond `length` bytes. */
ORVO_API int32_t Orvo_SdpRead(const char *sdp, int32_t length, OrvoSdpMedia *media,
                              int32_t max_media);

#ifdef __cplusplus
}
#endif

#endif /* ORVOAUDIO_RTP_H */
