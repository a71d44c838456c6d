#include "convert/stretch_points.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kDayS = 86400.0;
constexpr double kHalfDayS = kDayS / 2;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits at text[at], at least one and at most `most`; their value, or -1.
long long read_digits(const std::string& text, size_t& at, size_t most) {
  long long value = 0;
  size_t count = 0;
  while (at < text.size() && is_digit(text[at]) && count < most) {
    value = value * 10 + (text[at] - '0');
    ++at;
    ++count;
  }
  return count == 0 ? -1 : value;
}

// An optional ".ddd" (1 to 3 digits) at text[at]; its value in seconds, -1 when malformed.
double read_fraction(const std::string& text, size_t& at) {
  if (at >= text.size() || text[at] != '.') return 0;
  ++at;
  const size_t first = at;
  const long long digits = read_digits(text, at, 3);
  if (digits < 0) return -1;
  return static_cast<double>(digits) / std::pow(10.0, static_cast<double>(at - first));
}

// Exactly two digits at text[at].
int two_digits(const std::string& text, size_t& at) {
  if (at + 2 > text.size() || !is_digit(text[at]) || !is_digit(text[at + 1])) return -1;
  const int value = (text[at] - '0') * 10 + (text[at + 1] - '0');
  at += 2;
  return value;
}

// Seconds from the first recording's midnight to its start.
double seconds_of_day(const CivilTime& t) {
  return t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0;
}

PlaceOutcome place_seconds(double seconds, const std::vector<ChainRecording>& chain, bool out_point,
                           ChainPlace* place) {
  double left = seconds;
  for (size_t i = 0; i < chain.size(); ++i) {
    const double length = chain[i].duration_s;
    if (left < length || (out_point && left <= length)) {
      *place = {i, left};
      return PlaceOutcome::placed;
    }
    left -= length;
  }
  return PlaceOutcome::past_the_end;
}

PlaceOutcome place_time_of_day(double of_day, const std::vector<ChainRecording>& chain,
                               bool out_point, ChainPlace* place) {
  if (!chain.front().start) return PlaceOutcome::no_time_of_day;
  const CivilTime first = *chain.front().start;
  double from_first = of_day - seconds_of_day(first);  // seconds after the first recording's start
  if (from_first < -kHalfDayS) from_first += kDayS;
  if (from_first < 0) return PlaceOutcome::before_start;
  double start = 0;  // each recording's start, in seconds after the first's
  for (size_t i = 0; i < chain.size(); ++i) {
    if (i > 0) {
      const double follows = start + chain[i - 1].duration_s;
      start = chain[i].start ? seconds_between(first, *chain[i].start) : follows;
      if (start < follows - kHalfDayS) start = follows;  // a name that does not fit the order
      if (from_first < start) {
        *place = out_point ? ChainPlace{i - 1, chain[i - 1].duration_s} : ChainPlace{i, 0};
        return PlaceOutcome::placed;
      }
    }
    const double into = from_first - start;
    if (into < chain[i].duration_s || (out_point && into <= chain[i].duration_s)) {
      *place = {i, into};
      return PlaceOutcome::placed;
    }
  }
  return PlaceOutcome::past_the_end;
}

}  // namespace

std::optional<StretchPoint> parse_stretch_point(const std::string& text) {
  size_t at = 0;
  const long long whole = read_digits(text, at, 9);
  if (whole < 0) return std::nullopt;
  if (at < text.size() && text[at] == ':') {
    if (whole > 23) return std::nullopt;
    ++at;
    const int minute = two_digits(text, at);
    if (minute < 0 || minute > 59 || at >= text.size() || text[at] != ':') return std::nullopt;
    ++at;
    const int second = two_digits(text, at);
    const double fraction = read_fraction(text, at);
    if (second < 0 || second > 59 || fraction < 0 || at != text.size()) return std::nullopt;
    return StretchPoint{true, static_cast<double>(whole) * 3600 + minute * 60 + second + fraction};
  }
  const double fraction = read_fraction(text, at);
  if (fraction < 0 || at != text.size()) return std::nullopt;
  return StretchPoint{false, static_cast<double>(whole) + fraction};
}

std::string describe_stretch_point(const StretchPoint& point) {
  char text[48];
  const double ms = std::round(point.seconds * 1000.0);
  if (!point.time_of_day) {
    std::snprintf(text, sizeof text, "%g s", ms / 1000.0);
    return text;
  }
  const auto total = static_cast<long long>(ms);
  const int n = std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", total / 3600000,
                              total / 60000 % 60, total / 1000 % 60);
  if (total % 1000 != 0) {
    std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ".%03lld", total % 1000);
  }
  return text;
}

PlaceOutcome place_stretch_point(const StretchPoint& point, const std::vector<ChainRecording>& chain,
                                 bool out_point, ChainPlace* place) {
  if (chain.empty()) return PlaceOutcome::past_the_end;
  return point.time_of_day ? place_time_of_day(point.seconds, chain, out_point, place)
                           : place_seconds(point.seconds, chain, out_point, place);
}

bool place_before(const ChainPlace& a, const ChainPlace& b) {
  return a.recording < b.recording || (a.recording == b.recording && a.seconds < b.seconds);
}
