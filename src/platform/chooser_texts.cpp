#include "platform/chooser_texts.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

ChooserTexts chooser_texts(bool multiple, bool japanese) {
  if (japanese) {
    return {multiple ? "変換する .264 ファイルを選択" : ".264 ファイルを開く",
            "H.264 ファイル (*.264)", "全てのファイル (*.*)"};
  }
  return {multiple ? "Select .264 files to convert" : "Open a .264 file", "H.264 Files (*.264)",
          "All Files (*.*)"};
}

bool locale_name_is_japanese(const std::string& name) {
  if (name.size() < 2 || name.compare(0, 2, "ja") != 0) return false;
  return name.size() == 2 || name[2] == '_' || name[2] == '.' || name[2] == '@' ||
         name[2] == ':' || name[2] == '-';
}

#ifdef _WIN32

bool user_interface_is_japanese() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

#else

bool user_interface_is_japanese() {
  // The variables gettext reads for messages, in its order; LANGUAGE counts
  // only when the locale is not the plain "C" one, as gettext has it.
  const char* messages = nullptr;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      messages = value;
      break;
    }
  }
  const char* language = std::getenv("LANGUAGE");
  const bool plain_c = !messages || std::string(messages) == "C" || std::string(messages) == "POSIX";
  if (language && *language && !plain_c) return locale_name_is_japanese(language);
  return messages && locale_name_is_japanese(messages);
}

#endif

ChooserTexts user_chooser_texts(bool multiple) {
  return chooser_texts(multiple, user_interface_is_japanese());
}
