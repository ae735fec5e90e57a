/* OrvoAudio talk service: the audio side of a two-way voice link.
 * The exported talk functions are declared here by the talk service. */
#ifndef ORVOAUDIO_TALK_H
#define ORVOAUDIO_TALK_H

#include <stdint.h>

#include "orvoaudio/export.h"

#endif /* ORVOAUDIO_TALK_H */
