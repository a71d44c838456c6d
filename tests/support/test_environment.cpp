// Linked into every test program on Linux: the environment tests run in, set before
// main unless the caller set it. ctest's ENVIRONMENT property, given through
// test discovery, keeps only its first entry, so it is set here instead: SDL
// on its dummy video and audio drivers with the software renderer, and the
// user's configuration folder (saved cameras, last addresses) inside the
// build, so no test reads or writes the real one.
#include <cstdlib>
#include <string>

namespace {

void set_unless_set(const char* name, const std::string& value) { setenv(name, value.c_str(), 0); }

struct TestEnvironment {
  TestEnvironment() {
    set_unless_set("SDL_VIDEODRIVER", "dummy");
    set_unless_set("SDL_AUDIODRIVER", "dummy");
    set_unless_set("SDL_RENDER_DRIVER", "software");
    set_unless_set("XDG_CONFIG_HOME", std::string(H264_BINARY_DIR) + "/test-config");
  }
};

const TestEnvironment environment;

}  // namespace
