#include "player/screenshot.h"

#include <cstdio>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "draw/toast.h"
#include "platform/files.h"
#include "media/av_handles.h"
#include "recording/folder_order.h"

namespace {

constexpr uint32_t kSavedMessageMs = 3000;
constexpr int kMostNameSuffixes = 99;

// Writes the image to a file just made for it; a cut-off image is removed.
bool write_bmp(SDL_Surface* image, const std::string& path) {
  // SDL_SaveBMP_RW closes the stream in every case; a null stream fails the save.
  SDL_RWops* stream = SDL_RWFromFile(utf8_path(path).c_str(), "wb");
  if (stream && SDL_SaveBMP_RW(image, stream, 1) == 0) return true;
  std::remove(path.c_str());
  return false;
}

std::string saved_message(const std::string& path, bool in_first_folder) {
  std::string message = "Saved " + (in_first_folder ? file_name_of(path) : path);
  // The message holds 127 bytes: a long path keeps its end, where the name is.
  if (message.size() > 127) message = "Saved .." + message.substr(message.size() - 119);
  return message;
}

}  // namespace

SurfacePtr picture_surface(const AVFrame& picture, const SDL_Rect* crop) {
  const int w = picture.width, h = picture.height;
  if (w <= 0 || h <= 0 || !picture.data[0]) return nullptr;
  SurfacePtr whole(SDL_CreateRGBSurfaceWithFormat(0, w, h, 24, SDL_PIXELFORMAT_BGR24));
  if (!whole) return nullptr;
  SwsContextPtr converter(sws_getContext(w, h, static_cast<AVPixelFormat>(picture.format), w, h,
                                         AV_PIX_FMT_BGR24, SWS_BILINEAR | SWS_ACCURATE_RND,
                                         nullptr, nullptr, nullptr));
  if (!converter) return nullptr;
  uint8_t* planes[4] = {static_cast<uint8_t*>(whole->pixels), nullptr, nullptr, nullptr};
  int pitches[4] = {whole->pitch, 0, 0, 0};
  sws_scale(converter.get(), picture.data, picture.linesize, 0, h, planes, pitches);
  if (!crop) return whole;
  SDL_Rect part{0, 0, 0, 0};
  const SDL_Rect all{0, 0, w, h};
  if (!SDL_IntersectRect(crop, &all, &part)) return nullptr;
  if (part.w == w && part.h == h) return whole;
  SurfacePtr cut(SDL_CreateRGBSurfaceWithFormat(0, part.w, part.h, 24, SDL_PIXELFORMAT_BGR24));
  if (!cut || SDL_BlitSurface(whole.get(), &part, cut.get(), nullptr) != 0) return nullptr;
  return cut;
}

std::string recording_screenshot_name(const std::string& recording_path,
                                      const RecordingStart& start, double position_s) {
  char when[48];
  if (start.source != StartSource::none) {
    const CivilTime t = civil_time_after(start.start, position_s);
    std::snprintf(when, sizeof when, "%04d%02d%02d_%02d%02d%02d_%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
  } else {
    const CivilTime t = civil_time_after(CivilTime{}, position_s);
    std::snprintf(when, sizeof when, "t%02d%02d%02d_%03d", t.hour + 24 * (t.day - 1), t.minute,
                  t.second, t.millisecond);
  }
  return safe_file_part(file_stem_of(recording_path)) + "_" + when + ".bmp";
}

std::string live_screenshot_name(const std::string& host, const CivilTime& t) {
  char when[48];
  std::snprintf(when, sizeof when, "%04d%02d%02d_%02d%02d%02d_%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return "camera_" + safe_file_part(host) + "_" + when + ".bmp";
}

std::string save_bmp_in_first_writable(SDL_Surface* image, const std::vector<std::string>& folders,
                                       const std::string& name) {
  if (!image) return "";
  for (const std::string& folder : folders) {
    for (int n = 1; n <= kMostNameSuffixes; ++n) {
      const std::string candidate = (folder.empty() ? "" : folder + "/") + numbered_name(name, n);
      const CreateResult made = create_new_file(candidate);
      if (made == CreateResult::exists) continue;
      if (made == CreateResult::created && write_bmp(image, candidate)) return candidate;
      break;  // this folder takes no new file: the next one
    }
  }
  return "";
}

bool capture_picture(const AVFrame* picture, const ZoomView& zoom,
                     const std::vector<std::string>& folders, const std::string& name) {
  if (!picture || picture->width <= 0 || picture->height <= 0) return false;
  const SDL_Rect visible = visible_pixels(zoom, picture->width, picture->height);
  SurfacePtr image = picture_surface(*picture, zoom.zoom > 1.0 ? &visible : nullptr);
  if (!image) {
    show_toast("Screenshot failed: the picture cannot be converted", kSavedMessageMs);
    return false;
  }
  const std::string path = save_bmp_in_first_writable(image.get(), folders, name);
  if (path.empty()) {
    show_toast("Screenshot failed: no folder takes a new file", kSavedMessageMs);
    std::printf("Screenshot failed: no folder takes a new file\n");
    return false;
  }
  std::printf("Screenshot: %s\n", path.c_str());
  const std::string first = folders.empty() ? "" : folders.front();
  const bool in_first = folder_of(path) == (first.empty() ? "" : first + "/");
  show_toast(saved_message(path, in_first).c_str(), kSavedMessageMs);
  return true;
}
