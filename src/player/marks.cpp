#include "player/marks.h"

#include <algorithm>

#include "platform/files.h"
#include "recording/folder_order.h"

namespace {

// The name the folder order sorts by.
std::string order_name(const std::string& path) { return utf8_path(file_name_of(path)); }


float fraction_of(double time_s, double duration_s) {
  if (!(duration_s > 0)) return 0.0f;
  return static_cast<float>(std::clamp(time_s / duration_s, 0.0, 1.0));
}

}  // namespace

bool same_recording_path(const std::string& a, const std::string& b) {
  return order_name(a) == order_name(b) && utf8_path(folder_of(a)) == utf8_path(folder_of(b));
}

StretchMarks& stretch_marks() {
  static StretchMarks marks;
  return marks;
}

bool mark_before(const MarkPoint& a, const MarkPoint& b) {
  if (same_recording_path(a.path, b.path)) return a.time_s < b.time_s;
  return order_name(a.path) < order_name(b.path);
}

bool set_mark(StretchMarks& marks, bool out_point, const MarkPoint& point) {
  std::optional<MarkPoint>& mine = out_point ? marks.out : marks.in;
  std::optional<MarkPoint>& other = out_point ? marks.in : marks.out;
  mine = point;
  const bool in_order = !other || (out_point ? mark_before(*other, point) : mark_before(point, *other));
  if (!in_order) other.reset();
  return !in_order;
}

void keep_marks_of_folder(StretchMarks& marks, const std::string& path) {
  for (std::optional<MarkPoint>* mark : {&marks.in, &marks.out}) {
    if (*mark && folder_of((*mark)->path) != folder_of(path)) mark->reset();
  }
}

MarkFractions marks_on_track(const StretchMarks& marks, const std::string& path, double duration_s) {
  // -1: in an earlier recording, 0: in this one, 1: in a later one.
  const auto side = [&](const MarkPoint& mark) {
    if (same_recording_path(mark.path, path)) return 0;
    return order_name(mark.path) < order_name(path) ? -1 : 1;
  };
  MarkFractions f;
  const int in = marks.in ? side(*marks.in) : 2, out = marks.out ? side(*marks.out) : 2;
  if (in == 0) f.in = fraction_of(marks.in->time_s, duration_s);
  if (out == 0) f.out = fraction_of(marks.out->time_s, duration_s);
  if (in == -1 && (out == 0 || out == 1)) f.in = 0.0f;
  if (out == 1 && (in == 0 || in == -1)) f.out = 1.0f;
  return f;
}
