// The open dialogs' texts in the user's language: Japanese for a Japanese
// interface, English for every other.
#pragma once

#include <string>

// A dialog's title and the names of its two filters (*.264, then all files),
// in UTF-8.
struct ChooserTexts {
  const char* title;
  const char* recordings_filter;
  const char* all_files_filter;
};

// The texts of the chooser for one recording or for several (to convert).
ChooserTexts chooser_texts(bool multiple, bool japanese);

// True for a locale name of the Japanese language: "ja", "ja_JP.UTF-8",
// "ja_JP@...", or a LANGUAGE list whose first entry is one.
bool locale_name_is_japanese(const std::string& name);

// Whether the user's interface is in Japanese: on Windows the user's UI
// language; elsewhere the language of messages as gettext finds it (the
// first of LC_ALL, LC_MESSAGES and LANG that is set, overridden by
// LANGUAGE unless that locale is the plain "C" one).
bool user_interface_is_japanese();

// The texts for the user's language.
ChooserTexts user_chooser_texts(bool multiple);
