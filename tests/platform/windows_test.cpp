// What only Windows has: the open dialogs (their texts in the user's
// language as wide text, whatever the code page; any file name coming back as
// UTF-8), the command line read wide, wide text conversions, and the socket
// library's start-up. The Windows test script runs the dialog tests under
// Wine with an English, a Japanese, and an English-code-page-but-Japanese-
// interface locale, saying which language to expect in H264_EXPECT_UI.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dialog_control.h"
#include "platform/arguments.h"
#include "platform/chooser_texts.h"
#include "platform/choosers.h"
#include "platform/files.h"
#include "platform/user_config.h"
#include "platform/wide_text.h"
#include "rtsp/net_socket.h"

namespace {

// Names outside code page 1252, and outside 932 too (Korean, u umlaut).
const std::string kFirstName = "カメラ 日本 1.264";
const std::string kSecondName = "b é ü 한.264";

std::wstring wide(const std::string& text) { return wide_from_utf8(text); }

bool expecting_japanese() {
  const char* expected = std::getenv("H264_EXPECT_UI");
  return expected && std::string(expected) == "ja";
}

// A folder whose own name is outside the code pages, with two recordings'
// worth of bytes in it; removed at the end.
struct NamedFolder {
  std::string path;
  NamedFolder() {
    path = path_text(std::filesystem::temp_directory_path() /
                     std::filesystem::path(wide("h264 日本 é " + std::to_string(GetCurrentProcessId()))));
    std::filesystem::create_directories(file_system_path(path));
    for (const std::string& name : {kFirstName, kSecondName}) {
      std::FILE* file = open_file(path + "\\" + name, "wb");
      if (file) std::fputs(name.c_str(), file);
      if (file) std::fclose(file);
    }
  }
  ~NamedFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(file_system_path(path), ignored);
  }
};

std::string file_content(const std::string& path) {
  std::FILE* file = open_file(path, "rb");
  if (!file) return "(cannot open)";
  char text[256] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  return std::string(text, n);
}

TEST(WindowsPlatform, OpenDialogsSpeakTheUserLanguageWhateverTheCodePage) {
  ASSERT_NE(std::getenv("H264_EXPECT_UI"), nullptr) << "the test script says which language to expect";
  const bool japanese = expecting_japanese();
  ASSERT_EQ(user_interface_is_japanese(), japanese) << "UI language " << GetUserDefaultUILanguage();
  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "several" : "one");
    const ChooserTexts texts = chooser_texts(multiple, japanese);
    SeenDialog seen;
    std::thread watcher([&] { seen = answer_open_dialog(wide(texts.title), L"", 20000); });
    const bool chose_something =
        multiple ? !choose_recordings(nullptr).empty() : !choose_recording(nullptr).empty();
    watcher.join();
    EXPECT_FALSE(chose_something) << "cancel chooses nothing";
    ASSERT_TRUE(seen.found) << "no dialog titled " << texts.title << " (code page " << GetACP() << ")";
    EXPECT_EQ(seen.first_filter, wide(texts.recordings_filter));
    EXPECT_EQ(seen.second_filter, wide(texts.all_files_filter));
  }
}

TEST(WindowsPlatform, OpenDialogsGiveAnyNameAsUtf8ThatOpens) {
  const NamedFolder folder;
  const ChooserTexts one = chooser_texts(false, user_interface_is_japanese());
  std::thread watcher([&] { answer_open_dialog(wide(one.title), wide(kFirstName), 20000); });
  const std::string chosen = choose_recording_in(nullptr, folder.path);
  watcher.join();
  EXPECT_EQ(chosen, folder.path + "\\" + kFirstName);
  EXPECT_EQ(file_content(chosen), kFirstName);
  EXPECT_EQ(last_used_folder(), folder.path + "\\") << "the next dialog opens there";

  const ChooserTexts several = chooser_texts(true, user_interface_is_japanese());
  const std::wstring both = wide("\"" + kFirstName + "\" \"" + kSecondName + "\"");
  watcher = std::thread([&] { answer_open_dialog(wide(several.title), both, 20000); });
  const std::vector<std::string> paths = choose_recordings(nullptr);
  watcher.join();
  ASSERT_EQ(paths.size(), 2u);
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    EXPECT_EQ(path.rfind(folder.path + "\\", 0), 0u);
    const std::string name = path.substr(folder.path.size() + 1);
    EXPECT_TRUE(name == kFirstName || name == kSecondName);
    EXPECT_EQ(file_content(path), name);
  }
}

// The test program's own command line, read wide: its first argument is the
// program, and what it holds arrives whole in UTF-8.
TEST(WindowsPlatform, ArgumentsComeFromTheWideCommandLine) {
  int count = 0;
  wchar_t** wide_args = CommandLineToArgvW(GetCommandLineW(), &count);
  ASSERT_NE(wide_args, nullptr);
  const std::vector<std::string> args = program_arguments(0, nullptr);
  ASSERT_EQ(args.size(), static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) EXPECT_EQ(wide_from_utf8(args[static_cast<size_t>(i)]), wide_args[i]);
  LocalFree(wide_args);
}

TEST(WindowsPlatform, WideTextRoundTripsAndKeepsNuls) {
  const std::string text = std::string("a\0日本 é 한 \xF0\x9F\x93\xB7", 20);
  const std::wstring converted = wide_from_utf8(text);
  EXPECT_EQ(converted.size(), 11u) << "a, NUL, 2 kanji, space, e, space, hangul, space, a surrogate pair";
  EXPECT_EQ(utf8_from_wide(converted), text);
  EXPECT_TRUE(wide_from_utf8("caf\xE9").empty()) << "not UTF-8";
  EXPECT_EQ(wide_path("caf\xE9"), wide_from_ansi("caf\xE9")) << "taken as the ANSI code page";
}

TEST(WindowsPlatform, SocketsWorkAfterStartupAndTheLibraryIsReleasedOnce) {
  net_startup();
  net_startup();  // a second start must not need a second release
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(probe, INVALID_SOCKET) << WSAGetLastError();
  closesocket(probe);
  // One balancing release of our own leaves exactly the start-up's one for
  // the exit; a second would mean start-up had run twice.
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_NE(WSACleanup(), 0);  // nothing left: the library counted one start-up
  WSAStartup(MAKEWORD(2, 2), &data);  // for the release at exit
}

// The saved cameras' folder is the user's AppData; a password kept there is
// encrypted for the user (DPAPI), never the bytes typed, and reads back; a
// file written there replaces the old one whole, under any name.
TEST(WindowsPlatform, ConfigurationFolderFilesAndProtectedPasswords) {
  const wchar_t* appdata = _wgetenv(L"APPDATA");
  ASSERT_TRUE(appdata && *appdata);
  EXPECT_EQ(user_config_folder(), utf8_from_wide(appdata) + "\\H264Player");
  std::string kept, back;
  ASSERT_TRUE(protect_secret("p@ss 日本", kept));
  EXPECT_EQ(kept.find("p@ss"), std::string::npos);
  ASSERT_TRUE(unprotect_secret(kept, back));
  EXPECT_EQ(back, "p@ss 日本");
  EXPECT_FALSE(unprotect_secret("not a protected blob", back));
  EXPECT_STREQ(secret_protection(), "dpapi");
  const std::string folder = utf8_from_wide(appdata) + "\\H264Player test 日本";
  std::string error;
  ASSERT_TRUE(ensure_private_folder(folder, error)) << error;
  const std::string path = folder + "\\live é.txt";
  ASSERT_TRUE(write_private_file(path, "first", error)) << error;
  ASSERT_TRUE(write_private_file(path, "second", error)) << error;
  std::string text;
  ASSERT_TRUE(read_text_file(path, text));
  EXPECT_EQ(text, "second");
  std::filesystem::remove_all(file_system_path(folder));
}

}  // namespace

#endif  // _WIN32
