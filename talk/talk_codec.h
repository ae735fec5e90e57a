// The talk codec of each direction (Orvo_SetTalkCodec) and the frame sizes the playback takes for
// each codec: one 20 ms talk block is coded whole, and any frame of up to one playback block
// (320 samples, 40 ms) is played.
#ifndef ORVO_TALK_TALK_CODEC_H
#define ORVO_TALK_TALK_CODEC_H

#include <cstdint>

namespace orvo::talk {

// The codec the capture thread encodes with / the playback decodes incoming talk packets with.
int16_t CaptureTalkCodec();
int16_t PlaybackTalkCodec();
// Back to VOICE_G711_U both ways (the service's teardown).
void ResetTalkCodecs();

// True for the codec types a talk link can use: those that code a 160-sample block whole.
bool IsTalkCodec(int16_t type);
// Code width in bits of a G.726 type (2..5), 0 for any other type.
int G726BitsOf(int16_t type);
bool IsG726Msb(int16_t type);
// The G.726 type of the same rate with the other bit order; any other type unchanged.
int16_t G726WithPacking(int16_t type, bool msbFirst);

// The samples a frame payload of `payloadBytes` bytes (VoiceFrame payload, header excluded) of
// codec `type` decodes to, when the playback can play it (one frame of up to 320 samples that the
// decoder accepts: G.711 and G.726 in steps of 80 samples, DVI4 with an even number of code bytes);
// -1 otherwise.
int32_t PlayableSamples(int16_t type, int32_t payloadBytes);

} // namespace orvo::talk

#endif // ORVO_TALK_TALK_CODEC_H
