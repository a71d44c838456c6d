// The file choosers through stand-in chooser programs, their result limits,
// and the splitter of the multi-select dialog's buffer.
#include "platform/chooser_program.h"
#include "platform/choosers.h"
#include "app_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Paths = std::vector<std::string>;

bool has(const Paths& args, const std::string& arg) {
  return std::find(args.begin(), args.end(), arg) != args.end();
}

// The user's language for the scope: only LANG set (empty counts as unset).
struct ScopedLanguage {
  ScopedEnv language{"LANGUAGE", ""}, all{"LC_ALL", ""}, messages{"LC_MESSAGES", ""};
  ScopedEnv lang;
  explicit ScopedLanguage(const std::string& value) : lang("LANG", value) {}
};

TEST(SplitMultiselectResult, OneFileSeveralFilesDriveRootAndBrokenBuffers) {
  struct Case {
    const char* name;
    std::string buffer;
    Paths expected;
  };
  const Case cases[] = {
      {"one file", std::string("D:\\rec\\a.264\0\0", 15), {"D:\\rec\\a.264"}},
      {"several files", std::string("D:\\rec\0a.264\0b.264\0\0", 20),
       {"D:\\rec\\a.264", "D:\\rec\\b.264"}},
      {"drive root keeps both backslashes", std::string("D:\\\0a.264\0b.264\0\0", 17),
       {"D:\\\\a.264", "D:\\\\b.264"}},
      {"nothing chosen", std::string("\0\0", 2), {}},
      {"no terminator at all", std::string("D:\\rec\\a.264"), {}},
      {"last name cut off", std::string("D:\\rec\0a.264\0b.2", 16), {"D:\\rec\\a.264"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(split_multiselect_result(c.buffer.data(), c.buffer.size()), c.expected) << c.name;
}

TEST(ChooserOutput, LimitsOfTheNativeBuffers) {
  const std::string longest(259, 'a');
  EXPECT_EQ(single_choice_from_output("/" + longest.substr(1) + "\n"), "/" + longest.substr(1));
  EXPECT_EQ(single_choice_from_output(std::string(260, 'a') + "\n"), "");
  EXPECT_EQ(single_choice_from_output(""), "");
  EXPECT_EQ(single_choice_from_output("\n"), "");
  // Only the final newline ends the one path; one inside the name stays.
  EXPECT_EQ(single_choice_from_output("/tmp/odd\nname.264\n"), "/tmp/odd\nname.264");

  // 32768 bytes hold the paths with a NUL each and a closing NUL.
  const std::string a(16383, 'a'), b(16382, 'b');
  EXPECT_EQ(multiple_choices_from_output(a + "\n" + b + "\n").size(), 2u);
  EXPECT_TRUE(multiple_choices_from_output(a + "\n" + b + "b\n").empty());
  EXPECT_EQ(multiple_choices_from_output("/a.264\n\n/b.264"), (Paths{"/a.264", "/b.264"}));
}

TEST(ChooseRecording, ReturnsTheChosenPathAndAsksInJapaneseForAJapaneseUser) {
  const ScopedLanguage japanese("ja_JP.UTF-8");
  const std::string chosen = "/tmp/my recordings/カメラ 1 \xff.264";
  StandInChooser zenity("zenity", chosen + "\n", 0);
  EXPECT_EQ(choose_recording(nullptr), chosen);
  Paths args = zenity.arguments();
  EXPECT_TRUE(has(args, "--file-selection"));
  EXPECT_TRUE(has(args, "--title=.264 ファイルを開く"));
  EXPECT_TRUE(has(args, "--file-filter=H.264 ファイル (*.264) | *.264"));
  EXPECT_TRUE(has(args, "--file-filter=全てのファイル (*.*) | *"));
  EXPECT_FALSE(has(args, "--multiple"));
  EXPECT_TRUE(std::none_of(args.begin(), args.end(),
                           [](const std::string& a) { return a.rfind("--attach", 0) == 0; }));

  choose_recording(reinterpret_cast<void*>(uintptr_t{0x2a00007}));
  EXPECT_TRUE(has(zenity.arguments(), "--attach=44040199"));
}

TEST(ChooseRecording, CancelFailureAndOverlongResultAreEmpty) {
  {
    StandInChooser cancelled("zenity", "", 1);
    EXPECT_EQ(choose_recording(nullptr), "");
    EXPECT_TRUE(cancelled.ran());
  }
  {
    StandInChooser failed("zenity", "/tmp/a.264\n", 255);
    EXPECT_EQ(choose_recording(nullptr), "");
  }
  {
    StandInChooser overlong("zenity", "/" + std::string(300, 'x') + "\n", 0);
    EXPECT_EQ(choose_recording(nullptr), "");
  }
}

TEST(ChooseRecordings, SeveralFilesInOrderWithSpacesAndOtherBytes) {
  const ScopedLanguage english("en_GB.UTF-8");
  const Paths chosen = {"/tmp/rec dir/b file.264", "/tmp/rec dir/a\xe9\xff.264",
                        "/tmp/レコード/c.264"};
  StandInChooser zenity("zenity", chosen[0] + "\n" + chosen[1] + "\n" + chosen[2] + "\n", 0);
  EXPECT_EQ(choose_recordings(nullptr), chosen);
  Paths args = zenity.arguments();
  EXPECT_TRUE(has(args, "--multiple"));
  EXPECT_TRUE(has(args, "--separator=\n"));
  EXPECT_TRUE(has(args, "--title=Select .264 files to convert"));
  EXPECT_TRUE(has(args, "--file-filter=H.264 Files (*.264) | *.264"));
  EXPECT_TRUE(has(args, "--file-filter=All Files (*.*) | *"));
}

TEST(ChooseRecordings, OneFileCancelAndResultsOverTheLimit) {
  {
    StandInChooser one("zenity", "/tmp/a.264\n", 0);
    EXPECT_EQ(choose_recordings(nullptr), Paths{"/tmp/a.264"});
  }
  {
    StandInChooser cancelled("zenity", "", 1);
    EXPECT_TRUE(choose_recordings(nullptr).empty());
  }
  std::string many;
  while (many.size() < 40000) many += "/tmp/" + std::string(100, 'n') + ".264\n";
  {
    StandInChooser over_limit("zenity", many, 0);
    EXPECT_TRUE(choose_recordings(nullptr).empty());
  }
  {
    // More than is ever read: the program is drained to its end, not blocked.
    StandInChooser flood("zenity", many + many + many, 0);
    EXPECT_TRUE(choose_recordings(nullptr).empty());
  }
}

TEST(Choosers, KdialogWhenZenityIsMissing) {
  const ScopedLanguage english("C.UTF-8");
  StandInChooser kdialog("kdialog", "/tmp/x y/a.264\n/tmp/x y/b.264\n", 0, true);
  EXPECT_EQ(choose_recordings(nullptr), (Paths{"/tmp/x y/a.264", "/tmp/x y/b.264"}));
  Paths args = kdialog.arguments();
  EXPECT_TRUE(has(args, "--getopenfilename"));
  EXPECT_TRUE(has(args, "--multiple"));
  EXPECT_TRUE(has(args, "--separate-output"));
  EXPECT_TRUE(has(args, "Select .264 files to convert"));

  choose_recording(reinterpret_cast<void*>(uintptr_t{77}));
  args = kdialog.arguments();
  EXPECT_TRUE(has(args, "Open a .264 file"));
  EXPECT_TRUE(has(args, "*.264|H.264 Files (*.264)\n*|All Files (*.*)"));
  auto attach = std::find(args.begin(), args.end(), "--attach");
  ASSERT_NE(attach, args.end());
  EXPECT_EQ(*(attach + 1), "77");
}

// Both choosers follow the user's language as gettext finds it: Japanese
// texts for a Japanese one, English for any other.
TEST(Choosers, TextsFollowTheLanguageOfMessages) {
  struct Case {
    const char* language;
    const char* all;
    const char* messages;
    const char* lang;
    bool japanese;
  };
  const Case cases[] = {
      {"", "", "", "ja_JP.UTF-8", true},
      {"", "", "", "en_US.UTF-8", false},
      {"", "", "ja_JP.UTF-8", "en_US.UTF-8", true},  // messages over LANG
      {"", "en_US.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8", false},  // LC_ALL over both
      {"ja:en", "", "", "en_US.UTF-8", true},  // LANGUAGE first
      {"ja", "C", "", "", false},  // LANGUAGE does not count for the C locale
      {"", "", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.language) + "|" + c.all + "|" + c.messages + "|" + c.lang);
    ScopedEnv language("LANGUAGE", c.language), all("LC_ALL", c.all),
        messages("LC_MESSAGES", c.messages), lang("LANG", c.lang);
    EXPECT_EQ(user_interface_is_japanese(), c.japanese);
    StandInChooser zenity("zenity", "", 1);
    choose_recordings(nullptr);
    EXPECT_TRUE(has(zenity.arguments(), c.japanese ? "--title=変換する .264 ファイルを選択"
                                                   : "--title=Select .264 files to convert"));
    choose_recording(nullptr);
    EXPECT_TRUE(has(zenity.arguments(), c.japanese ? "--title=.264 ファイルを開く"
                                                   : "--title=Open a .264 file"));
  }
}

TEST(Choosers, NoChooserProgramPrintsOneLineAndGivesNothing) {
  ScratchDir empty;
  ScopedEnv path("PATH", empty.path);
  testing::internal::CaptureStdout();
  EXPECT_EQ(choose_recording(nullptr), "");
  EXPECT_TRUE(choose_recordings(nullptr).empty());
  std::string out = testing::internal::GetCapturedStdout();
  std::string line = no_chooser_message();
  EXPECT_EQ(out, line + line);
  EXPECT_NE(line.find("zenity"), std::string::npos);
  EXPECT_NE(line.find("kdialog"), std::string::npos);
}

TEST(Choosers, OpenInTheGivenFolderElseTheLastOneUsed) {
  StandInChooser zenity("zenity", "/tmp/rec dir/cam 1.264\n", 0);
  choose_recording_in(nullptr, "/media/camera");
  EXPECT_TRUE(has(zenity.arguments(), "--filename=/media/camera/"));
  // The folder of that choice is where the next choosers open.
  choose_recording(nullptr);
  EXPECT_TRUE(has(zenity.arguments(), "--filename=/tmp/rec dir/"));
  choose_recordings(nullptr);
  EXPECT_TRUE(has(zenity.arguments(), "--filename=/tmp/rec dir/"));
  remember_used_folder("/srv/played/clip.264");
  choose_recording_in(nullptr, "");
  EXPECT_TRUE(has(zenity.arguments(), "--filename=/srv/played/"));
  // A folder relative to the working folder is handed over whole.
  remember_used_folder("bare.264");
  EXPECT_EQ(last_used_folder(), "./");
  {
    ScratchDir cwd;
    ScopedCwd in(cwd.path);
    choose_recording_in(nullptr, "cam/");
    EXPECT_TRUE(has(zenity.arguments(), "--filename=" + cwd.path + "/cam/"));
  }

  StandInChooser kdialog("kdialog", "", 1, true);
  choose_recording_in(nullptr, "/media/camera/");
  EXPECT_TRUE(has(kdialog.arguments(), "/media/camera/"));
}

}  // namespace
