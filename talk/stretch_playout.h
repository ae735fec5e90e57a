// The stretch rule: frames are played in queue order, one per free device block; while 1 to 14
// frames wait, every ninth frame after the first ten is played twice, so a short queue drains
// more slowly than the device plays and builds up to absorb jitter. The sequence gate holds back
// a head 1 to 9 ahead of the expected number. Ten device blocks, 20 ms idle sleeps.
#ifndef ORVO_TALK_STRETCH_PLAYOUT_H
#define ORVO_TALK_STRETCH_PLAYOUT_H

#include "talk/playout_policy.h"

namespace orvo::talk {

class StretchPlayout final : public PlayoutPolicy {
public:
    PassResult Pass(CAudioPlayThread &thread, int32_t deviceQueued, int16_t *samples,
                    int32_t capacity, int32_t *sampleCount) override;
    uint32_t IdleSleepMs() const override;
    int32_t DeviceBlockLimit() const override;
    void OnSelected(CAudioPlayThread &, bool) override {}

private:
    enum class PassAction { None, Consume, Repeat };
    static PassAction ChooseAction(const CAudioPlayThread &thread, int32_t queued);
};

} // namespace orvo::talk

#endif // ORVO_TALK_STRETCH_PLAYOUT_H
