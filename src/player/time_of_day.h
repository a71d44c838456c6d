// The wall-clock time of a recording's pictures: the recording's start, read
// from the camera's file name or estimated from the file's modification time,
// plus the picture's time in the recording. Calendar arithmetic on plain
// date and time fields (the camera's local time): no time zone, no daylight
// saving shifts. Pure, except recording_start's use of the local time zone
// for the modification time.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

struct CivilTime {
  int year = 1970, month = 1, day = 1;  // month 1..12, day 1..31
  int hour = 0, minute = 0, second = 0;
  int millisecond = 0;
  bool operator==(const CivilTime&) const = default;
};

// The start written in a file name, the first match of YYYYMMDD_HHMMSS,
// YYYYMMDDHHMMSS or YYYY-MM-DD_HH-MM-SS anywhere in the name (the folder part
// is ignored; any prefix and suffix). Between date and time "_", "-", " " or
// "T" may stand, in the dashed form the time may use "." too. The digits must
// not continue a longer number, and every field must be a real date and time
// (years 1970 to 2199). Nothing when the name holds none.
std::optional<CivilTime> start_time_from_name(const std::string& path);

// `start` moved by `seconds` (negative: earlier), to the millisecond, across
// days, months and years.
CivilTime civil_time_after(const CivilTime& start, double seconds);

// Seconds from `a` to `b` (negative when b is earlier), to the millisecond.
double seconds_between(const CivilTime& a, const CivilTime& b);

// The fields of a broken-down local time.
CivilTime civil_time_of(const std::tm& local);

// "HH:MM:SS", with "YYYY-MM-DD " before it when `date`, and ".mmm" after it when `ms`.
std::string format_civil_time(const CivilTime& t, bool date, bool ms);

// Where a recording's start came from.
enum class StartSource { none, file_name, modified_time };

struct RecordingStart {
  StartSource source = StartSource::none;
  CivilTime start;
  bool spans_days = false;  // its last picture falls on another date than its first
};

// The start of the recording at `path` lasting `duration_s`: from its name,
// else the local time of `modified` (the file's modification time, when
// known) less the duration, since cameras close a file when its last picture
// is written.
RecordingStart recording_start(const std::string& path, double duration_s,
                               std::optional<std::time_t> modified);

// The wall-clock texts of the picture `position_s` into the recording: for
// the bar (the date only when the recording spans days, milliseconds when
// `ms`) and for the title (always with the date). An estimated start is
// marked with "~". Both empty when the start is unknown.
struct TimeOfDayTexts {
  std::string bar, title;
};
TimeOfDayTexts time_of_day_texts(const RecordingStart& start, double position_s, bool ms);
