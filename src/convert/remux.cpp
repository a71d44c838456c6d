// Placeholder until the remuxer is built; keeps the program linkable.
#include "convert/remux.h"

bool remux_to_mp4(const std::string&, const std::string&, ProgressCallback) { return false; }
std::string mp4_output_path(const std::string& input_path) { return input_path + ".mp4"; }
