// BMP screenshots of the picture a player shows: the decoded picture itself
// at its own resolution (when zoomed, the visible part at the picture's own
// pixels), never the window's contents and never stretched.
#pragma once

#include <SDL.h>

#include <string>
#include <vector>

#include "draw/sdl_handles.h"
#include "draw/zoom.h"
#include "player/time_of_day.h"

struct AVFrame;

// The picture's pixels (all of it, or the part `crop` in picture pixels,
// limited to the picture) as a 24-bit surface, bytes B, G, R per pixel, which
// SDL writes as a plain 24-bit BMP. Null when the picture is empty or cannot
// be converted.
SurfacePtr picture_surface(const AVFrame& picture, const SDL_Rect* crop = nullptr);

// The screenshot of a recording's picture: "<recording name without
// extension>_YYYYMMDD_HHMMSS_mmm.bmp" with the picture's time of day, or
// "..._tHHMMSS_mmm.bmp" with its time in the recording when the time of day
// is unknown. Characters that file systems refuse become "_".
std::string recording_screenshot_name(const std::string& recording_path,
                                      const RecordingStart& start, double position_s);

// The screenshot of a live picture: "camera_<host>_YYYYMMDD_HHMMSS_mmm.bmp"
// with the local time `now`.
std::string live_screenshot_name(const std::string& host, const CivilTime& now);

// Writes `image` as a BMP named `name` into the first of `folders` (each
// without a closing separator; "" is the working folder) where a new file can
// be made; when the name is taken there, "_2", "_3", ... go before ".bmp" (no
// file is overwritten). Returns the path written, empty when none could be.
std::string save_bmp_in_first_writable(SDL_Surface* image, const std::vector<std::string>& folders,
                                       const std::string& name);

// The players' capture action: the picture (or its zoomed part) saved into
// the first writable of `folders`; prints "Screenshot: <path>" and shows
// "Saved <name>" (the whole path when it is not in the first folder), or a
// message saying why not. Nothing at all without a picture. True when written.
bool capture_picture(const AVFrame* picture, const ZoomView& zoom,
                     const std::vector<std::string>& folders, const std::string& name);
