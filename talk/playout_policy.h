// How the playback thread turns its frame queue into device blocks. The thread owns the device
// and the queue; on every pass with a device block free it asks the chosen policy for the next
// block. Two policies exist: the stretch rule (the default) and adaptive playout.
#ifndef ORVO_TALK_PLAYOUT_POLICY_H
#define ORVO_TALK_PLAYOUT_POLICY_H

#include <cstdint>

namespace orvo::talk {

class CAudioPlayThread;

// Playout modes, as Orvo_SetPlayoutMode takes them.
constexpr int32_t kPlayoutStretch = 0;
constexpr int32_t kPlayoutAdaptive = 1;

class PlayoutPolicy {
public:
    virtual ~PlayoutPolicy() = default;
    // Every pass while playing, before the device is looked at.
    virtual void Poll(CAudioPlayThread &) {}
    enum class PassResult {
        Block, // *sampleCount samples are to be written
        Hold,  // nothing now, the device still plays what it holds: try again after the sleep
        Idle,  // nothing to play (the device may run dry)
    };
    // One pass with a device block free (and fewer than DeviceBlockLimit() queued), with
    // `deviceQueued` samples still queued on the device. Block: *sampleCount samples are in
    // `samples` (room for `capacity`). Otherwise the thread sleeps IdleSleepMs().
    virtual PassResult Pass(CAudioPlayThread &thread, int32_t deviceQueued, int16_t *samples,
                            int32_t capacity, int32_t *sampleCount) = 0;
    virtual uint32_t IdleSleepMs() const = 0;
    // Blocks the policy lets wait on the device at most.
    virtual int32_t DeviceBlockLimit() const = 0;
    // The thread changes to this policy (true) or away from it (false), between passes.
    virtual void OnSelected(CAudioPlayThread &thread, bool selected) = 0;
};

} // namespace orvo::talk

#endif // ORVO_TALK_PLAYOUT_POLICY_H
