// The process-wide talk service behind the exported talk functions.
#ifndef ORVO_TALK_TALK_SERVICE_H
#define ORVO_TALK_TALK_SERVICE_H

#include <cstdint>

namespace orvo::talk {

class CRecordThread;

// The running capture thread object, or null before Orvo_InitialAudioTalk has succeeded.
CRecordThread *RecordThread();

// Stops the capture thread, resets and closes the device and frees every buffer; the service is
// then as before the first Orvo_InitialAudioTalk. Runs when the library is unloaded or the process
// ends; tests call it between cases. No exported function may run on another thread meanwhile.
void ShutdownTalkService();

// Stops the playback thread, closes its device and clears every counter (part of the teardown).
void ShutdownPlayService();

// While playback takes packets from the incoming ring: true for a packet that the playback thread
// would refuse, counted here as received and rejected. Orvo_InputTalkData then stores nothing, so
// that junk never takes a slot that a playable packet needs.
bool RefuseUnplayablePacket(const uint8_t *packet, int32_t length);

// Whether the playback thread runs with its device open.
bool PlaybackDeviceOpen();

} // namespace orvo::talk

#endif // ORVO_TALK_TALK_SERVICE_H
