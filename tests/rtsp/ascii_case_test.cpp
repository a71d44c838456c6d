// Case-blind matching of header names, Digest parameters and the scheme: only
// ASCII letters fold, and nothing is read past either end.
#include <gtest/gtest.h>

#include <string>

#include "rtsp/ascii_case.h"

namespace {

TEST(AsciiCase, OnlyLettersFold) {
  EXPECT_EQ(ascii_lower('A'), 'a');
  EXPECT_EQ(ascii_lower('Z'), 'z');
  EXPECT_EQ(ascii_lower('q'), 'q');
  // The bytes next to the letters, and the high half, stay as they are.
  for (char c : {'@', '[', '`', '{', '0', '-', '\xC4', '\xE4'}) EXPECT_EQ(ascii_lower(c), c);
  EXPECT_TRUE(equals_ignoring_case("SHA-256", "sha-256"));
  EXPECT_FALSE(equals_ignoring_case("[", "{"));  // 0x5B and 0x7B differ by the case bit only
  EXPECT_FALSE(equals_ignoring_case("\xC4", "\xE4"));
}

TEST(AsciiCase, ComparisonsKeepToTheEnds) {
  EXPECT_TRUE(equals_ignoring_case("Digest", "dIGEST"));
  EXPECT_FALSE(equals_ignoring_case("auth", "auth-int"));
  EXPECT_FALSE(equals_ignoring_case("auth-int", "auth"));
  EXPECT_TRUE(equals_ignoring_case("", ""));
  EXPECT_FALSE(equals_ignoring_case(std::string("auth\0", 5), "auth"));

  EXPECT_TRUE(starts_with_ignoring_case("RTSP://cam", 0, "rtsp://"));
  EXPECT_TRUE(starts_with_ignoring_case("x\r\nWWW-Authenticate: Digest", 3, "www-authenticate:"));
  EXPECT_FALSE(starts_with_ignoring_case("rtsp:/", 0, "rtsp://"));
  EXPECT_FALSE(starts_with_ignoring_case("ab", 3, ""));
  EXPECT_TRUE(starts_with_ignoring_case("ab", 2, ""));

  const std::string head = "Session: a;Timeout=5\r\nCONTENT-length: 3\r\n";
  EXPECT_EQ(find_ignoring_case(head, "content-length:"), 22u);
  EXPECT_EQ(find_ignoring_case(head, "timeout="), 11u);
  EXPECT_EQ(find_ignoring_case(head, "session:", 1), std::string::npos);
  EXPECT_EQ(find_ignoring_case(head, "\r\n", 21), 39u);
  EXPECT_EQ(find_ignoring_case("abc", "abcd"), std::string::npos);
  EXPECT_EQ(find_ignoring_case("abc", "c", 5), std::string::npos);
}

}  // namespace
