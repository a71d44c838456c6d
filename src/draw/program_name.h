// The program's one name, used by every window title and the key help.
#pragma once

inline constexpr const char* kProgramName = "H.264 Player";
