// Standard output of the programs: where it goes, and how its UTF-8 lines
// show on a console.
#pragma once

// On Windows, a window program started from a console without redirection
// has no standard output; this attaches it to the parent's console so its
// lines are seen. Output that is already redirected (a file, a pipe) is left
// alone. Does nothing on other systems.
void use_parent_console();

// The programs write UTF-8 (file names among it). On Windows a console shows
// it as such only in its UTF-8 code page: this sets the console's output code
// page to UTF-8 for the program's run and puts the old one back at exit.
// Redirected output is UTF-8 bytes in any case. Does nothing elsewhere.
void use_utf8_console_output();
