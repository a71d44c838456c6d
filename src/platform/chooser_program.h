// File choosers on desktops without a native open dialog: an external chooser
// program (zenity, else kdialog) run without a shell, its choice read from a pipe.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/chooser_texts.h"

enum class ChooserProgram { none, zenity, kdialog };

// Result limits in bytes, counted as the native dialogs' buffers count them:
// one path and its NUL; every path with its NUL plus the closing NUL.
constexpr size_t kSingleChoiceLimit = 260;
constexpr size_t kMultipleChoiceLimit = 32768;
// What is read of a chooser's output: room for the largest allowed result and
// for noticing a larger one.
constexpr size_t kChooserOutputCap = 2 * kMultipleChoiceLimit;

// The full name of the executable `name` in a ':'-separated directory list
// (an empty entry is the working directory); empty when none has it.
std::string find_program_in(const std::string& name, const char* search_path);

// zenity when PATH has it, else kdialog, else none.
ChooserProgram find_chooser_program();

// The message for a machine without any chooser program.
const char* no_chooser_message();

// The argument vector (program name first) asking `program` for one recording
// or several (one path a line), with the given title and filter names. owner
// is an X11 window id to attach the dialog to, 0 for none; the dialog opens in
// start_folder when one is given.
std::vector<std::string> chooser_arguments(ChooserProgram program, bool multiple,
                                           const ChooserTexts& texts, unsigned long owner,
                                           const std::string& start_folder = "");

struct ProgramRun {
  bool started = false;     // the program could be started at all
  int exit_status = -1;     // its exit code; -1 when it did not exit normally
  std::string output;       // its standard output, at most max_output bytes
  bool overflowed = false;  // it wrote more than max_output bytes
};

// Runs args[0] (found on PATH, never through a shell) with args, collecting its
// standard output; its standard error is discarded. Waits for it to end.
ProgramRun run_program_for_output(const std::vector<std::string>& args, size_t max_output);

// The one path a chooser printed; empty when none, or too long for the limit.
std::string single_choice_from_output(const std::string& output);

// The paths a chooser printed one per line, in its order; empty when none or
// when together they exceed the limit.
std::vector<std::string> multiple_choices_from_output(const std::string& output);
