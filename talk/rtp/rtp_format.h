// RTP framing of talk frames, bytes only: the payload formats of the talk codecs over RTP, the
// conversion between a VoiceFrame payload and an RTP payload, and the payload-type table. No
// sockets, no threads: used by the sender, the receive path into the playback and the tools.
#ifndef ORVO_TALK_RTP_RTP_FORMAT_H
#define ORVO_TALK_RTP_RTP_FORMAT_H

#include <cstdint>

#include "orvoaudio/rtp.h"

namespace orvo::talk::rtp {

constexpr int32_t kRtpHeaderBytes = ORVO_RTP_HEADER_BYTES;
constexpr int32_t kMaxPayloadType = 127;
constexpr int32_t kDvi4HeaderBytes = 4; // predictor (2), step index, reserved

// Which packing the G.726 payloads of one direction are taken to have.
enum class G726Packing : int32_t { AsAnnounced = ORVO_RTP_G726_AS_ANNOUNCED,
                                   ForceLsb = ORVO_RTP_G726_FORCE_LSB,
                                   ForceMsb = ORVO_RTP_G726_FORCE_MSB };

G726Packing SendPacking();
G726Packing ReceivePacking();
void SetPacking(bool send, G726Packing packing);

// The codec a received payload type stands for (static types and the dynamic table), 0 if none.
int16_t VoiceTypeOfPayloadType(int32_t payloadType);
// Clears the dynamic table and the packing overrides (the service's teardown).
void ResetPayloadTable();

// The voice type a received payload of `payloadType` is decoded as, with the receive packing
// override applied; 0 if the payload type is unknown.
int16_t ReceivedVoiceType(int32_t payloadType);

// Longest RTP payload the receive path takes.
constexpr int32_t kMaxReceivedPayload = 2048;

// `bytes` when a received payload of that length can be played: one playable frame, or a G.711 or
// G.726 payload of whole codes up to kMaxReceivedPayload bytes (cut into frames later); else -1.
int32_t ReceivablePayloadBytes(int16_t type, int32_t bytes);

// Converts the RTP payload of one packet into the VoiceFrame payload layout of `type` (the same
// number of bytes for every codec here). -1 when ReceivablePayloadBytes refuses the length.
int32_t RtpPayloadToFrame(int16_t type, const uint8_t *payload, int32_t bytes, uint8_t *frame,
                          int32_t capacity);
// The reverse, for sending; `wireType` is the packing wanted on the wire (a G.726 type of the same
// rate in the other bit order re-packs the codes). -1 on a length that does not fit.
int32_t FramePayloadToRtp(int16_t type, int16_t wireType, const uint8_t *frame, int32_t bytes,
                          uint8_t *payload, int32_t capacity);

// Samples in one frame of `type` with `bytes` payload bytes (any length, for timestamps), 0 when
// the bytes are no whole frame.
int32_t SamplesInPayload(int16_t type, int32_t bytes);

// A 32-bit random value for SSRCs, first sequence numbers and timestamps.
uint32_t RandomWord();

} // namespace orvo::talk::rtp

#endif // ORVO_TALK_RTP_RTP_FORMAT_H
