// Standard output of a program built as a window program.
#pragma once

// On Windows, a window program started from a console without redirection
// has no standard output; this attaches it to the parent's console so its
// lines are seen. Output that is already redirected (a file, a pipe) is left
// alone. Does nothing on other systems.
void use_parent_console();
