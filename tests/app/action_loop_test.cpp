// The action loop: which screen follows which action, what the program does at
// start-up, and the player's real failures leading back to the start menu.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/action_loop.h"
#include "app/menu.h"
#include "big_recordings.h"
#include "draw/toast.h"
#include "headless_sdl.h"
#include "test_recordings.h"

namespace {

TEST(ActionKinds, TokensAreWholeCaseSensitiveStrings) {
  const struct {
    std::string action;
    ActionKind kind;
  } cases[] = {
      {"", ActionKind::quit},
      {"__CONVERT__", ActionKind::convert},
      {"__RTSP__", ActionKind::rtsp},
      {"__convert__", ActionKind::play},
      {"__RTSP__ ", ActionKind::play},
      {"__CONVERT", ActionKind::play},
      {std::string("__RTSP__\0x", 10), ActionKind::play},
      {"/videos/a.264", ActionKind::play},
      {"x", ActionKind::play},
  };
  for (const auto& c : cases) EXPECT_EQ(classify_action(c.action), c.kind) << c.action;
}

// Screens that note each visit and return scripted results.
struct ScreenLog {
  std::vector<std::string> visits;
  std::deque<std::string> menu_results;
  std::deque<std::string> play_results;
  std::vector<std::string> chosen;
  SDL_Window* window_seen = nullptr;

  Screens screens() {
    Screens s;
    s.start_menu = [this](SDL_Window*&, SDL_Renderer*&, const char*) {
      visits.push_back("menu");
      return next(menu_results);
    };
    s.play = [this](const std::string& path, SDL_Window*&, SDL_Renderer*&) {
      visits.push_back("play " + path);
      return next(play_results);
    };
    s.choose_recordings = [this](void*) {
      visits.push_back("choose");
      return chosen;
    };
    s.convert = [this](SDL_Window* w, SDL_Renderer*, const std::vector<std::string>& paths) {
      window_seen = w;
      std::string v = "convert";
      for (const std::string& p : paths) v += " " + p;
      visits.push_back(v);
    };
    s.rtsp = [this](SDL_Window* w, SDL_Renderer*) {
      window_seen = w;
      visits.push_back("rtsp");
    };
    return s;
  }
  static std::string next(std::deque<std::string>& results) {
    if (results.empty()) return "";
    std::string r = results.front();
    results.pop_front();
    return r;
  }
};

TEST(ActionLoop, EachActionLeadsToItsScreenAndThenTheMenu) {
  const struct {
    const char* name;
    std::string action;
    std::vector<std::string> play_results;
    std::vector<std::string> chosen;
    std::vector<std::string> visits;
    std::string next;
  } cases[] = {
      {"convert", "__CONVERT__", {}, {"/a.264", "/b c.264"},
       {"choose", "convert /a.264 /b c.264", "menu"}, "menu says"},
      {"convert cancelled", "__CONVERT__", {}, {}, {"choose", "menu"}, "menu says"},
      {"rtsp", "__RTSP__", {}, {}, {"rtsp", "menu"}, "menu says"},
      {"played to the end", "/a.264", {""}, {}, {"play /a.264", "menu"}, "menu says"},
      {"player asks for conversion", "/a.264", {"__CONVERT__"}, {"/x.264"},
       {"play /a.264", "choose", "convert /x.264", "menu"}, "menu says"},
      {"player asks for the live view", "/a.264", {"__RTSP__"}, {},
       {"play /a.264", "rtsp", "menu"}, "menu says"},
      {"player names the next recording", "/a.264", {"/b.264"}, {}, {"play /a.264"}, "/b.264"},
  };
  for (const auto& c : cases) {
    ScreenLog log;
    log.menu_results = {"menu says"};
    log.play_results.assign(c.play_results.begin(), c.play_results.end());
    log.chosen = c.chosen;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    EXPECT_EQ(run_action(c.action, window, renderer, "prog", log.screens()), c.next) << c.name;
    EXPECT_EQ(log.visits, c.visits) << c.name;
  }
}

TEST(ActionLoop, RunsUntilTheActionIsEmpty) {
  ScreenLog log;
  log.play_results = {"/b.264", ""};
  log.menu_results = {"__RTSP__", ""};
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  run_action_loop("/a.264", window, renderer, "prog", log.screens());
  EXPECT_EQ(log.visits,
            (std::vector<std::string>{"play /a.264", "play /b.264", "menu", "rtsp", "menu"}));

  // An empty first action ends at once: no screen, no window.
  ScreenLog none;
  run_action_loop("", window, renderer, "prog", none.screens());
  EXPECT_TRUE(none.visits.empty());
  EXPECT_EQ(window, nullptr);
  EXPECT_EQ(renderer, nullptr);
}

TEST(ActionLoop, TheFirstActionIsTheArgumentOrTheMenu) {
  ScreenLog log;
  log.menu_results = {"/from menu.264"};
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  char program[] = "h264player";
  char empty[] = "";
  char token[] = "__CONVERT__";
  char* no_argument[] = {program, nullptr};
  char* empty_argument[] = {program, empty, nullptr};
  char* token_argument[] = {program, token, nullptr};
  EXPECT_EQ(first_action(1, no_argument, window, renderer, log.screens()), "/from menu.264");
  EXPECT_EQ(first_action(2, empty_argument, window, renderer, log.screens()), "");
  EXPECT_EQ(first_action(2, token_argument, window, renderer, log.screens()), "__CONVERT__");
  EXPECT_EQ(log.visits, (std::vector<std::string>{"menu"}));
}

class ActionLoopWithSdl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(init_headless_video());
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS | SDL_INIT_TIMER), 0) << SDL_GetError();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
  void TearDown() override { SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT); }
};

// A recording that cannot be played says why twice: the printed line, and
// the reason in the window over the menu that follows (read back from its
// pixels), for as long as a message shows.
TEST_F(ActionLoopWithSdl, LoadFailuresArePrintedAndShownOverTheMenuThatFollows) {
  const std::string folder = test_temp_dir() + "/load failures";
  std::filesystem::create_directories(folder);
  const std::string text = folder + "/notes.264";
  ASSERT_TRUE(write_file_bytes(text, std::vector<uint8_t>(400, 'x')));
  const std::string empty = folder + "/empty.264";
  ASSERT_TRUE(write_file_bytes(empty, {}));
  // Past 2 GiB of zeros, sparse (no disk space, and no time in memory):
  // refused for what it holds, never for its size.
  const std::string huge = sparse_file_folder() + "/huge.264";
  ASSERT_TRUE(write_file_bytes(huge, {}));
  std::filesystem::resize_file(huge, (uintmax_t{2} << 30) + 100);
  const struct {
    std::string path, printed, shown;
  } rows[] = {
      {folder + "/not there.264", "Error: Cannot open '" + folder + "/not there.264'\n",
       "CANNOT OPEN THE FILE"},
      {empty, "Error: File too small\n", "FILE TOO SMALL: NOT A RECORDING"},
      {text, "Error: No NAL units\n", "NOT A RECORDING: NO NAL UNITS"},
      {huge, "Error: No NAL units\n", "NOT A RECORDING: NO NAL UNITS"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    show_toast("", 0);
    Screens screens = program_screens();
    std::vector<std::string> visits;
    std::string message;
    Pixels menu;
    screens.start_menu = [&](SDL_Window*& w, SDL_Renderer*& r, const char* program) {
      visits.push_back("menu");
      SDL_Event quit{};
      quit.type = SDL_QUIT;
      SDL_PushEvent(&quit);  // the menu is left after its first frame
      const std::string result = run_start_menu(w, r, program);
      message = toast_showing(SDL_GetTicks()) ? toast_text() : "";
      menu = read_pixels(r, 960, 600);
      return result;
    };
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    testing::internal::CaptureStdout();
    run_action_loop(row.path, window, renderer, "h264player", screens);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(row.printed), std::string::npos) << out;
    EXPECT_EQ(visits, (std::vector<std::string>{"menu"}));
    EXPECT_EQ(window, nullptr) << "destroyed at the end of the loop";
    EXPECT_EQ(message, row.shown);
    const SDL_Rect box = toast_box(960, row.shown.c_str(), 3);
    const Rgba dark = menu.pixel_at(box.x + 1, box.y + 1);  // the message's box darkens the menu
    EXPECT_TRUE(dark.r < 20 && dark.g < 35 && dark.b < 55);
    int lit = 0;
    for (int y = box.y; y < box.y + box.h; ++y) {
      for (int x = box.x; x < box.x + box.w; ++x) lit += menu.pixel_at(x, y).r > 200 ? 1 : 0;
    }
    EXPECT_GT(lit, 20 * static_cast<int>(row.shown.size())) << "the message's letters";
  }
  show_toast("", 0);  // later tests draw the menu without it
}

TEST_F(ActionLoopWithSdl, ConversionAndLiveViewGetTheSharedWindow) {
  for (const char* action : {"__CONVERT__", "__RTSP__"}) {
    ScreenLog log;
    log.chosen = {"/a.264"};
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    testing::internal::CaptureStdout();
    run_action(action, window, renderer, "prog", log.screens());
    testing::internal::GetCapturedStdout();
    ASSERT_NE(window, nullptr) << action;
    EXPECT_EQ(log.window_seen, window) << action;
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 960);
    EXPECT_EQ(h, 600);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
  }
}

// The program itself, as a separate process.
std::string player_program() { return std::string(H264_BINARY_DIR) + "/src/h264player"; }

struct EnvOverride {
  std::string name, saved;
  bool had;
  EnvOverride(const char* n, const char* value) : name(n) {
    const char* old = std::getenv(n);
    had = old != nullptr;
    if (had) saved = old;
    setenv(n, value, 1);
  }
  ~EnvOverride() {
    if (had) setenv(name.c_str(), saved.c_str(), 1);
    else unsetenv(name.c_str());
  }
};

TEST(Program, StartUpAndItsExitCodes) {
  {
    std::string out;
    EXPECT_EQ(run_program(player_program(), {""}, &out), 0) << out;
    EXPECT_EQ(out, "") << "an empty first action ends the program at once";
  }
  {
    EnvOverride video("SDL_VIDEODRIVER", "no-such-driver");
    std::string out;
    EXPECT_EQ(run_program(player_program(), {""}, &out), 1);
    EXPECT_EQ(out.rfind("SDL init failed: ", 0), 0u) << out;
  }
  {
    EnvOverride audio("SDL_AUDIODRIVER", "no-such-driver");
    std::string out;
    EXPECT_EQ(run_program(player_program(), {""}, &out), 0) << out;
    EXPECT_EQ(out.rfind("SDL audio init failed (continuing without audio): ", 0), 0u) << out;
  }
}

}  // namespace
