/* Export macro shared by the OrvoAudio public headers.
 *
 * Building the library defines ORVO_BUILDING_LIBRARY; linking the library's objects statically
 * (tests, tools that use internal classes) defines ORVO_STATIC. Everything else is a client of
 * the shared library / DLL. */
#ifndef ORVOAUDIO_EXPORT_H
#define ORVOAUDIO_EXPORT_H

#if defined(ORVO_STATIC)
#define ORVO_API
#elif defined(_WIN32)
#if defined(ORVO_BUILDING_LIBRARY)
#define ORVO_API __declspec(dllexport)
#else
#define ORVO_API __declspec(dllimport)
#endif
#else
#define ORVO_API __attribute__((visibility("default")))
#endif

#endif /* ORVOAUDIO_EXPORT_H */
