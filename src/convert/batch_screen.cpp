// Placeholder until the conversion screen is built; keeps the program linkable.
#include "convert/batch_screen.h"

void run_batch_conversion(SDL_Window*, SDL_Renderer*, const std::vector<std::string>&) {}
