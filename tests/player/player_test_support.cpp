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
  set_env_if_unset("SDL_AUDIODRIVER", "dummy");
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

void PlaybackInWindow::SetUp() {
  ASSERT_TRUE(start_player_sdl());
  drop_pending_events();
  canvas = make_headless_canvas(960, 600);
  ASSERT_TRUE(canvas.window && canvas.renderer);
  window = canvas.window.get();
  renderer = canvas.renderer.get();
  options.pacing = false;
}

void PlaybackInWindow::TearDown() {
  close_playback(st);
  drop_pending_events();
}

void PlaybackInWindow::open_recording(const RecordingSpec& recipe, const std::string& name) {
  const std::string path = made_recording(recipe, name);
  ASSERT_FALSE(path.empty());
  testing::internal::CaptureStdout();
  const bool opened = open_playback(st, path);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(opened);
}
