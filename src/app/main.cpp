// The program: SDL's main wrapper hands over UTF-8 arguments.
#include <SDL.h>

#include "app/action_loop.h"

int main(int argc, char** argv) { return run_application(argc, argv, program_screens()); }
