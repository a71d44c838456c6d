// The open dialogs' texts by language, and which locale names are Japanese.
#include <gtest/gtest.h>

#include <string>

#include "platform/chooser_texts.h"

namespace {

TEST(ChooserTexts, EnglishOrJapaneseForEachChooser) {
  struct Case {
    bool multiple, japanese;
    const char *title, *recordings, *all;
  };
  const Case cases[] = {
      {false, false, "Open a .264 file", "H.264 Files (*.264)", "All Files (*.*)"},
      {true, false, "Select .264 files to convert", "H.264 Files (*.264)", "All Files (*.*)"},
      {false, true, ".264 ファイルを開く", "H.264 ファイル (*.264)", "全てのファイル (*.*)"},
      {true, true, "変換する .264 ファイルを選択", "H.264 ファイル (*.264)", "全てのファイル (*.*)"},
  };
  for (const Case& c : cases) {
    const ChooserTexts texts = chooser_texts(c.multiple, c.japanese);
    EXPECT_STREQ(texts.title, c.title);
    EXPECT_STREQ(texts.recordings_filter, c.recordings);
    EXPECT_STREQ(texts.all_files_filter, c.all);
  }
}

TEST(ChooserTexts, JapaneseLocaleNames) {
  const std::pair<const char*, bool> cases[] = {
      {"ja", true},        {"ja_JP", true},   {"ja_JP.UTF-8", true}, {"ja_JP.eucJP", true},
      {"ja.UTF-8", true},  {"ja@x", true},    {"ja:en_US", true},    {"ja-JP", true},
      {"jam", false},      {"jv_ID", false},  {"en_US:ja", false},   {"", false},
      {"j", false},        {"C", false},      {"JA_JP", false},
  };
  for (const auto& [name, japanese] : cases) EXPECT_EQ(locale_name_is_japanese(name), japanese) << name;
}

}  // namespace
