#include "platform/win32/module_pin.h"

#include <windows.h>

#include <atomic>

namespace orvo::platform::win32 {

void PinThisModule()
{
    static std::atomic<bool> pinned{false};
    if (pinned.exchange(true, std::memory_order_acq_rel))
        return;
    HMODULE module = nullptr;
    // The address of this function identifies the module it lives in.
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinThisModule), &module);
}

} // namespace orvo::platform::win32
