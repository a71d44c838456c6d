// What only Windows has: the narrow open dialog showing its code page 932
// texts, and the socket library's start-up. Run under Wine with a Japanese
// locale (code page 932) by the Windows test script.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/choosers.h"
#include "rtsp/net_socket.h"

namespace {

std::wstring window_text(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring combo_item(HWND combo, int index) {
  wchar_t text[512] = {};
  if (SendMessageW(combo, CB_GETLBTEXTLEN, index, 0) >= 512) return L"";
  SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
  return text;
}

struct SeenDialog {
  std::wstring title, first_filter, second_filter;
};

// Waits (at most 20 s) for this process's dialog titled `title`, reads its
// title and file-type list, then cancels it.
void read_and_cancel_dialog(const wchar_t* title, SeenDialog& seen) {
  for (int waited = 0; waited < 20000; waited += 100) {
    HWND dialog = FindWindowW(L"#32770", title);
    if (dialog) {
      seen.title = window_text(dialog);
      HWND types = GetDlgItem(dialog, 0x470);  // the file-type combo box (cmb1)
      seen.first_filter = combo_item(types, 0);
      seen.second_filter = combo_item(types, 1);
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    Sleep(100);
  }
}

TEST(WindowsPlatform, OpenDialogShowsItsJapaneseTextsAndCancelReturnsNothing) {
  ASSERT_EQ(GetACP(), 932u) << "run with a Japanese locale (LANG=ja_JP.UTF-8 under Wine)";
  const wchar_t* title = L".264 \x30D5\x30A1\x30A4\x30EB\x3092\x958B\x304F";  // .264 ファイルを開く
  SeenDialog seen;
  std::thread watcher(read_and_cancel_dialog, title, std::ref(seen));
  const std::string chosen = choose_recording(nullptr);
  watcher.join();
  EXPECT_EQ(chosen, "");
  EXPECT_EQ(seen.title, title);
  EXPECT_EQ(seen.first_filter, L"H.264 \x30D5\x30A1\x30A4\x30EB (*.264)");  // H.264 ファイル
  EXPECT_EQ(seen.second_filter, L"\x5168\x3066\x306E\x30D5\x30A1\x30A4\x30EB (*.*)");  // 全てのファイル
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

}  // namespace

#endif  // _WIN32
