/* SDL's build configuration for a Windows target, just enough to compile the
   Windows code paths against Debian's SDL2 headers with the mingw-w64 cross
   compiler. Debian's SDL_config.h includes <SDL2/_real_SDL_config.h>, which
   otherwise holds the configuration of the Linux build. */
#ifndef WINDOWS_STAND_IN_SDL_CONFIG_H
#define WINDOWS_STAND_IN_SDL_CONFIG_H

#include "SDL_platform.h"

#define HAVE_LIBC 1
#define HAVE_STDARG_H 1
#define HAVE_STDDEF_H 1
#define HAVE_STDINT_H 1
#define HAVE_STDIO_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define HAVE_MATH_H 1
#define HAVE_FLOAT_H 1
#define HAVE_LIMITS_H 1
#define HAVE_CTYPE_H 1

#define SDL_VIDEO_DRIVER_WINDOWS 1
#define SDL_VIDEO_RENDER_D3D 1
#define SDL_AUDIO_DRIVER_WASAPI 1
#define SDL_THREAD_WINDOWS 1
#define SDL_TIMER_WINDOWS 1

#endif
