// Keeps OrvoAudio.dll mapped for the rest of the process once it runs threads of its own.
#ifndef ORVO_PLATFORM_WIN32_MODULE_PIN_H
#define ORVO_PLATFORM_WIN32_MODULE_PIN_H

namespace orvo::platform::win32 {

// Pins the module that holds this code (the DLL, or the program in a static build), once.
// A thread of the library may run until the process ends; a FreeLibrary by the host must then not
// unmap its code, and the loader lock rules out stopping the thread from DllMain.
void PinThisModule();

} // namespace orvo::platform::win32

#endif // ORVO_PLATFORM_WIN32_MODULE_PIN_H
