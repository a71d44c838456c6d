// Placeholder entry point until the action loop is built.
#include <SDL.h>
#include <cstdio>

int main(int, char**) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return 0;
}
