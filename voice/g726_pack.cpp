#include "voice/g726.h"

namespace orvo::voice {

void G726_PackCodes(G726State *, const int16_t *, uint8_t *, int16_t) {}
void G726_UnpackCodes(G726State *, const uint8_t *, int16_t *, int16_t) {}
int G726_LsbToMsb(uint8_t *, int, int16_t) { return 0; }
int G726_MsbToLsb(uint8_t *, int, int16_t) { return 0; }

} // namespace orvo::voice
