#include "player/time_of_day.h"

#include <cmath>
#include <cstdio>

#include "platform/files.h"

namespace {

constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2199;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The number of `count` digits at name[at], or -1 when they are not all digits.
int digits_at(const std::string& name, size_t at, size_t count) {
  if (at + count > name.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!is_digit(name[i])) return -1;
    value = value * 10 + (name[i] - '0');
  }
  return value;
}

bool char_in(const std::string& name, size_t at, const char* allowed) {
  if (at >= name.size()) return false;
  for (const char* a = allowed; *a; ++a)
    if (name[at] == *a) return true;
  return false;
}

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

bool is_real_time(const CivilTime& t) {
  return t.year >= kFirstYear && t.year <= kLastYear && t.month >= 1 && t.month <= 12 &&
         t.day >= 1 && t.day <= days_in_month(t.year, t.month) && t.hour >= 0 && t.hour <= 23 &&
         t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// Date and time fields at the given offsets from `at`; the match must not
// continue a number on either side.
std::optional<CivilTime> fields_at(const std::string& name, size_t at, const size_t (&offsets)[6],
                                   size_t length) {
  if (at > 0 && is_digit(name[at - 1])) return std::nullopt;
  if (at + length < name.size() && is_digit(name[at + length])) return std::nullopt;
  const size_t widths[6] = {4, 2, 2, 2, 2, 2};
  int v[6];
  for (int i = 0; i < 6; ++i) {
    v[i] = digits_at(name, at + offsets[i], widths[i]);
    if (v[i] < 0) return std::nullopt;
  }
  CivilTime t{v[0], v[1], v[2], v[3], v[4], v[5], 0};
  if (!is_real_time(t)) return std::nullopt;
  return t;
}

constexpr const char* kDateTimeSeparators = "_- T";

std::optional<CivilTime> match_at(const std::string& name, size_t at) {
  // YYYYMMDD_HHMMSS
  if (char_in(name, at + 8, kDateTimeSeparators)) {
    if (auto t = fields_at(name, at, {0, 4, 6, 9, 11, 13}, 15)) return t;
  }
  // YYYYMMDDHHMMSS
  if (auto t = fields_at(name, at, {0, 4, 6, 8, 10, 12}, 14)) return t;
  // YYYY-MM-DD_HH-MM-SS
  if (char_in(name, at + 4, "-") && char_in(name, at + 7, "-") &&
      char_in(name, at + 10, kDateTimeSeparators) && char_in(name, at + 13, "-.") &&
      char_in(name, at + 16, "-.") && name[at + 13] == name[at + 16]) {
    if (auto t = fields_at(name, at, {0, 5, 8, 11, 14, 17}, 19)) return t;
  }
  return std::nullopt;
}

// Days since 1970-01-01 of a date, and back (proleptic Gregorian calendar).
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

}  // namespace

std::optional<CivilTime> start_time_from_name(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (size_t at = 0; at < name.size(); ++at) {
    if (!is_digit(name[at])) continue;
    if (auto t = match_at(name, at)) return t;
  }
  return std::nullopt;
}

namespace {

// Milliseconds since 1970-01-01 00:00 of a civil time.
int64_t civil_ms(const CivilTime& t) {
  return (days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 +
          t.second) * 1000 + t.millisecond;
}

}  // namespace

double seconds_between(const CivilTime& a, const CivilTime& b) {
  return static_cast<double>(civil_ms(b) - civil_ms(a)) / 1000.0;
}

CivilTime civil_time_after(const CivilTime& start, double seconds) {
  if (!std::isfinite(seconds)) seconds = 0;
  const int64_t start_ms = civil_ms(start);
  const int64_t ms = start_ms + static_cast<int64_t>(std::llround(seconds * 1000.0));
  const int64_t day_ms = 86400 * 1000;
  int64_t days = ms / day_ms, rest = ms % day_ms;
  if (rest < 0) {
    rest += day_ms;
    --days;
  }
  CivilTime t;
  civil_from_days(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(rest / 3600000);
  t.minute = static_cast<int>(rest / 60000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.millisecond = static_cast<int>(rest % 1000);
  return t;
}

CivilTime civil_time_of(const std::tm& local) {
  CivilTime t{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
              local.tm_sec, 0};
  // A leap second reads as the last second of its minute.
  if (t.second > 59) t.second = 59;
  return t;
}

std::string format_civil_time(const CivilTime& t, bool date, bool ms) {
  char out[64];
  int n = 0;
  if (date) n = std::snprintf(out, sizeof out, "%04d-%02d-%02d ", t.year, t.month, t.day);
  n += std::snprintf(out + n, sizeof out - static_cast<size_t>(n), "%02d:%02d:%02d", t.hour,
                     t.minute, t.second);
  if (ms) std::snprintf(out + n, sizeof out - static_cast<size_t>(n), ".%03d", t.millisecond);
  return out;
}

RecordingStart recording_start(const std::string& path, double duration_s,
                               std::optional<std::time_t> modified) {
  RecordingStart result;
  if (auto named = start_time_from_name(path)) {
    result.source = StartSource::file_name;
    result.start = *named;
  } else if (std::tm local{}; modified && local_time(*modified, local)) {
    result.source = StartSource::modified_time;
    result.start = civil_time_after(civil_time_of(local), -duration_s);
  } else {
    return result;
  }
  const CivilTime end = civil_time_after(result.start, duration_s > 0 ? duration_s : 0);
  result.spans_days = end.year != result.start.year || end.month != result.start.month ||
                      end.day != result.start.day;
  return result;
}

TimeOfDayTexts time_of_day_texts(const RecordingStart& start, double position_s, bool ms) {
  if (start.source == StartSource::none) return {};
  const CivilTime t = civil_time_after(start.start, position_s);
  const std::string mark = start.source == StartSource::modified_time ? "~" : "";
  return {mark + format_civil_time(t, start.spans_days, ms), mark + format_civil_time(t, true, false)};
}
