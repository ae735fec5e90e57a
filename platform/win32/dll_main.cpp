// Entry point of OrvoAudio.dll.
//
// Loading the library starts nothing and unloading it stops nothing: the entry point answers TRUE
// for process and thread attach and detach alike and does no work. It runs under the loader lock,
// where waiting for another thread (which needs that lock to end) would dead-lock the process, so
// nothing is torn down here. The talk service, once started, lives until the process ends and the
// system reclaims its threads, sound devices and memory; the thread layer pins the DLL when it
// starts a thread (platform/win32), so a FreeLibrary by the host cannot unmap code that still runs.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
