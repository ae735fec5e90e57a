// The C++ leftovers as a host built with Visual C++ calls them. OrvoAudio.def exports these
// adapters under the MSVC-decorated names of COrvoPlayTalk's constructor and copy assignment.
//
// The conventions differ from g++'s in one point that matters: an MSVC constructor returns `this`
// (in RAX / EAX), and MSVC-built callers use that result as the object. g++'s constructor returns
// nothing, so the constructor is reached through an adapter that returns `this`. In 32-bit code
// MSVC member functions are __thiscall (`this` in ECX, the callee pops the stack arguments); in
// 64-bit code they follow the one Windows x64 convention, `this` first, like a free function.
// fnOrvoPlay and nOrvoPlay need no adapter: their MSVC names map straight onto ours.
#include <new>

#include "orvoaudio/talk.h"

#if defined(__i386__)
#define ORVO_MSVC_THISCALL __attribute__((thiscall))
#else
#define ORVO_MSVC_THISCALL
#endif

extern "C" {

COrvoPlayTalk *ORVO_MSVC_THISCALL orvo_msvc_COrvoPlayTalk_construct(COrvoPlayTalk *self)
{
    return new (self) COrvoPlayTalk();
}

COrvoPlayTalk *ORVO_MSVC_THISCALL orvo_msvc_COrvoPlayTalk_assign(COrvoPlayTalk *self,
                                                                 const COrvoPlayTalk *other)
{
    return &(*self = *other);
}

} // extern "C"
