#include "player_test_support.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "headless_sdl.h"

bool start_player_sdl() {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  if (!init_headless_video()) {
    ADD_FAILURE() << "SDL video cannot start: " << SDL_GetError();
    return false;
  }
  if (SDL_InitSubSystem(SDL_INIT_TIMER | SDL_INIT_EVENTS | SDL_INIT_AUDIO) < 0) {
    ADD_FAILURE() << "SDL timer, events or audio cannot start: " << SDL_GetError();
    return false;
  }
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  return true;
}

std::string made_recording(const RecordingSpec& recipe, const std::string& name) {
  return make_recording_file(recipe, test_temp_dir() + "/" + name);
}

namespace {

void push(SDL_Event& event) {
  if (SDL_PushEvent(&event) < 0) ADD_FAILURE() << "SDL_PushEvent: " << SDL_GetError();
}

}  // namespace

void push_key(SDL_Keycode key) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.state = SDL_PRESSED;
  e.key.keysym.sym = key;
  e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
  push(e);
}

void push_quit() {
  SDL_Event e{};
  e.type = SDL_QUIT;
  push(e);
}

void push_drop(const std::string& path) {
  SDL_Event e{};
  e.type = SDL_DROPFILE;
  e.drop.file = SDL_strdup(path.c_str());
  push(e);
}

void push_mouse_button(bool down, int x, int y, Uint8 button) {
  SDL_Event e{};
  e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  e.button.button = button;
  e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.button.clicks = 1;
  e.button.x = x;
  e.button.y = y;
  push(e);
}

void push_mouse_motion(int x, int y) {
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.x = x;
  e.motion.y = y;
  push(e);
}

void drop_pending_events() {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT) SDL_free(e.drop.file);
  }
}

int frame_number_of(const AVFrame* frame) {
  return read_frame_number(
      [frame](int x, int y) { return static_cast<int>(frame->data[0][y * frame->linesize[0] + x]); },
      frame->width, frame->height);
}

namespace {

std::mutex g_log_mutex;
std::vector<std::string> g_errors;
int g_counters = 0;

void count_decoder_errors(void*, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  if (std::strstr(line, "no frame!")) return;
  std::lock_guard<std::mutex> lock(g_log_mutex);
  g_errors.push_back(line);
}

}  // namespace

DecoderErrorCount::DecoderErrorCount() {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  g_errors.clear();
  if (g_counters++ == 0) av_log_set_callback(count_decoder_errors);
}

DecoderErrorCount::~DecoderErrorCount() {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  if (--g_counters == 0) av_log_set_callback(av_log_default_callback);
}

int DecoderErrorCount::errors() const {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  return static_cast<int>(g_errors.size());
}

std::vector<std::string> DecoderErrorCount::messages() const {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  return g_errors;
}
