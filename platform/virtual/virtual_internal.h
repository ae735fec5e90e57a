// Between the virtual clock and the virtual devices.
#ifndef ORVO_PLATFORM_VIRTUAL_INTERNAL_H
#define ORVO_PLATFORM_VIRTUAL_INTERNAL_H

#include <cstdint>

namespace orvo::platform::virt {

// Lets the open devices capture and play the millisecond that ends at `now`.
void PumpDevices(int64_t now);
// Resets the devices' settings and records.
void ResetDevices();
// Resets the clock (time 0, threads may be created).
void ResetClock();

} // namespace orvo::platform::virt

#endif // ORVO_PLATFORM_VIRTUAL_INTERNAL_H
