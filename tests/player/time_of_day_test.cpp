// The recording's start from its file name or its modification time, and the
// wall-clock texts of its pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>

#include "platform/files.h"
#include "player/time_of_day.h"

namespace {

std::string shown(const std::optional<CivilTime>& t) {
  return t ? format_civil_time(*t, true, false) : "none";
}

TEST(TimeOfDay, StartFromTheFileName) {
  const struct {
    const char* path;
    const char* start;
  } cases[] = {
      {"20261201_080000.264", "2026-12-01 08:00:00"},
      {"/media/cam/20261201_235959.264", "2026-12-01 23:59:59"},
      {"C:\\rec\\front_20261201080000_01.264", "2026-12-01 08:00:00"},
      {"2026-12-01_08-00-05.264", "2026-12-01 08:00:05"},
      {"P2026-12-01_08.00.05_cam2.264", "2026-12-01 08:00:05"},
      {"cam 20240229-120000.264", "2024-02-29 12:00:00"},
      {"ch01_20261201T080000Z.264", "2026-12-01 08:00:00"},
      {"20261201_080000_20261201_083000.264", "2026-12-01 08:00:00"},  // start and end: the first
      {"/20261201_080000/recording.264", "none"},                      // the folder does not count
      {"20230229_120000.264", "none"},                                 // no 29 February in 2023
      {"20261301_080000.264", "none"},                                 // month 13
      {"20261201_246000.264", "none"},                                 // hour 24
      {"120261201_080000.264", "none"},                                // part of a longer number
      {"20261201_0800001.264", "none"},
      {"2026-12-01_08-00.05.264", "none"},                             // mixed time separators
      {"19691231_235959.264", "none"},                                 // before 1970
      {"2026120108000.264", "none"},                                   // 13 digits
      {"camera.264", "none"},
      {"", "none"},
      {"2026-12-0", "none"},
      {"20261201_", "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(shown(start_time_from_name(c.path)), c.start) << c.path;
}

TEST(TimeOfDay, CalendarArithmeticToTheMillisecond) {
  const struct {
    CivilTime start;
    double seconds;
    const char* after;
  } cases[] = {
      {{2026, 12, 1, 8, 0, 0, 0}, 9.76, "2026-12-01 08:00:09.760"},
      {{2026, 12, 31, 23, 59, 59, 500}, 0.5, "2027-01-01 00:00:00.000"},
      {{2024, 2, 28, 23, 0, 0, 0}, 3600, "2024-02-29 00:00:00.000"},
      {{2023, 2, 28, 23, 0, 0, 0}, 3600, "2023-03-01 00:00:00.000"},
      {{2026, 3, 1, 0, 0, 0, 0}, -0.001, "2026-02-28 23:59:59.999"},
      {{2026, 1, 1, 0, 0, 0, 0}, -86400 * 365.0, "2025-01-01 00:00:00.000"},
      {{2026, 6, 15, 12, 0, 0, 0}, 0.0004, "2026-06-15 12:00:00.000"},
      {{2026, 6, 15, 12, 0, 0, 0}, 0.0005, "2026-06-15 12:00:00.001"},
      {{2026, 6, 15, 12, 0, 0, 0}, std::nan(""), "2026-06-15 12:00:00.000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_civil_time(civil_time_after(c.start, c.seconds), true, true), c.after)
        << c.seconds;
  }
  EXPECT_EQ(format_civil_time({2026, 1, 2, 3, 4, 5, 6}, false, false), "03:04:05");
}

TEST(TimeOfDay, NameFirstElseModificationTimeLessTheDuration) {
  // The modification time in local time, as the file system gives it.
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 1;
  local.tm_hour = 8;
  local.tm_min = 30;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  const std::time_t modified = std::mktime(&local);

  RecordingStart named = recording_start("/cam/20261201_080000.264", 1800, modified);
  EXPECT_EQ(named.source, StartSource::file_name);
  EXPECT_EQ(format_civil_time(named.start, true, false), "2026-12-01 08:00:00");

  RecordingStart estimated = recording_start("/cam/front.264", 1800, modified);
  EXPECT_EQ(estimated.source, StartSource::modified_time);
  EXPECT_EQ(format_civil_time(estimated.start, true, false), "2026-12-01 08:00:00");
  EXPECT_FALSE(estimated.spans_days);

  const RecordingStart unknown = recording_start("/cam/front.264", 1800, std::nullopt);
  EXPECT_EQ(unknown.source, StartSource::none);

  // The texts: the bar without the date unless the recording spans days, the
  // title always with it, milliseconds only when asked, "~" for an estimate.
  TimeOfDayTexts texts = time_of_day_texts(named, 9.76, true);
  EXPECT_EQ(texts.bar, "08:00:09.760");
  EXPECT_EQ(texts.title, "2026-12-01 08:00:09");
  texts = time_of_day_texts(estimated, 61, false);
  EXPECT_EQ(texts.bar, "~08:01:01");
  EXPECT_EQ(texts.title, "~2026-12-01 08:01:01");
  const RecordingStart night = recording_start("20261201_233000.264", 3600, std::nullopt);
  EXPECT_TRUE(night.spans_days);
  EXPECT_EQ(time_of_day_texts(night, 1200, false).bar, "2026-12-01 23:50:00");
  EXPECT_EQ(time_of_day_texts(night, 1800, false).bar, "2026-12-02 00:00:00");
  EXPECT_EQ(time_of_day_texts(unknown, 5, true).bar, "");
  EXPECT_EQ(time_of_day_texts(unknown, 5, true).title, "");
}

}  // namespace
