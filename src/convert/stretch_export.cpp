#include "convert/stretch_export.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "recording/payload_reader.h"
#include "recording/payload_walk.h"
#include "platform/files.h"
#include "recording/folder_order.h"
#include "recording/frame_clock.h"
#include "recording/frame_rate.h"

namespace {

// Bytes read where the halving looks for a header: several pictures even at
// 4K rates, so a piece never falls between two headers.
constexpr int64_t kProbeBytes = int64_t{256} << 10;
// Seconds walked before the in-point at first; each try without a key
// picture walks four times as far back.
constexpr double kFirstLookBackS = 4.0;
constexpr int kMostNameSuffixes = 99;

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Up to `size` payload bytes from payload offset `at`.
std::vector<uint8_t> read_piece(std::FILE* file, int64_t at, int64_t size) {
  std::vector<uint8_t> piece(static_cast<size_t>(size));
  if (size <= 0 || !seek_file(file, static_cast<int64_t>(kFileHeaderSize) + at, SEEK_SET)) return {};
  piece.resize(std::fread(piece.data(), 1, piece.size(), file));
  return piece;
}

double seconds_after(uint32_t first, uint32_t ts) {
  return static_cast<int32_t>(ts - first) / 1000.0;
}

// The headers' positions in a piece, in order.
std::vector<size_t> header_positions(const std::vector<uint8_t>& piece) {
  std::vector<size_t> found;
  size_t size = 0;
  for (size_t at = next_camera_block(piece.data(), piece.size(), 0, &size); at != SIZE_MAX;
       at = next_camera_block(piece.data(), piece.size(), at + (size > kBlockHeaderSize ? size : 1),
                              &size)) {
    if (piece[at + 2] == 'V') found.push_back(at);
  }
  return found;
}

struct HeaderProbe {
  int64_t at = -1;  // payload offset of the header; -1: none in the piece
  uint32_t ts = 0;
};

// The first header at or after payload offset `from`, within one probe piece.
HeaderProbe probe_header(std::FILE* file, int64_t from, int64_t payload_size) {
  const std::vector<uint8_t> piece = read_piece(file, from, std::min(kProbeBytes, payload_size - from));
  const size_t at = find_first_hxvf(piece.data(), piece.size());
  if (at == SIZE_MAX) return {};
  return {from + static_cast<int64_t>(at), read_le32(piece.data() + at + 8)};
}

// The last header whose time is at or before `aim_s`, halving the recording
// by the headers' timestamps; 0 (the start) when `aim_s` is not past the first.
int64_t header_before(std::FILE* file, const RecordingEnds& ends, double aim_s) {
  if (aim_s <= 0) return 0;
  int64_t lo = 0, hi = ends.payload_size;
  while (hi - lo > kProbeBytes) {
    const int64_t mid = lo + (hi - lo) / 2;
    const HeaderProbe probe = probe_header(file, mid, ends.payload_size);
    if (probe.at < 0 || probe.at >= hi) {
      hi = mid;
    } else if (seconds_after(ends.first_ts, probe.ts) <= aim_s) {
      lo = probe.at;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// The walk from a header towards the in-point: each picture's time on the
// camera's clock, and the last key picture not after the in-point.
struct KeySearch {
  double in_s = 0;
  FrameClock clock;
  int64_t last_slice_end = 0;  // where the picture now starting began
  bool any_picture = false;
  double first_time = 0;
  bool found = false;
  StretchStart key;
};

bool search_item(KeySearch& s, const StreamItem& item) {
  if (item.kind == StreamItem::video_header) note_video_header(s.clock, item.timestamp);
  const bool slice = item.type == 1 || item.type == 5;
  if (item.kind == StreamItem::unit && slice) {
    const NalUnit unit{item.data, static_cast<int32_t>(item.size), item.type};
    const bool begins = starts_picture(unit);
    if (!s.any_picture || begins) {
      const double time = next_picture_time(s.clock);
      if (!s.any_picture) s.first_time = time;
      s.any_picture = true;
      if (time > s.in_s + 1e-6) return false;
      // A walk that starts inside a picture cannot begin the MP4 with it.
      if (item.type == 5 && begins) {
        s.found = true;
        s.key = {s.last_slice_end, time};
      }
    }
  }
  if ((item.kind == StreamItem::unit && slice) || item.kind == StreamItem::skipped) {
    s.last_slice_end = item.offset + static_cast<int64_t>(item.size);
  }
  return true;
}

// Walks from `from` (a header or the start) to the in-point. False when the
// walk could not be made.
bool search_key(const std::string& path, int64_t from, const RecordingEnds& ends, KeySearch& s,
                std::string* reason, const std::atomic<bool>* cancel) {
  PayloadReader reader;
  if (!open_payload_reader(reader, path, reason, from)) return false;
  const double rate = ends.interval_s > 0 ? 1.0 / ends.interval_s : kDefaultFrameRate;
  s.clock = start_frame_clock(ends.first_ts, rate);
  s.last_slice_end = from;
  const WalkEnd end = walk_payload(
      reader, [&s](const StreamItem& item) { return search_item(s, item); }, cancel, {});
  if (end == WalkEnd::cancelled) return *reason = kCancelledReason, false;
  if (end == WalkEnd::failed) return *reason = "cannot read the recording", false;
  if (end == WalkEnd::too_many_units) return *reason = "too many NAL units for the file's size", false;
  return true;
}

// "YYYYMMDD_HHMMSS".
std::string date_and_time(const CivilTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

// "tHHMMSS" of seconds into a recording (hours run past 24).
std::string elapsed_part(double seconds) {
  const auto whole = static_cast<long long>(seconds > 0 ? seconds : 0);
  char text[32];
  std::snprintf(text, sizeof text, "t%02lld%02lld%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

// `name` in `folder`, numbered past the names already taken; empty when all are.
std::string free_name_in(const std::string& folder, const std::string& name) {
  for (int n = 1; n <= kMostNameSuffixes; ++n) {
    const std::string candidate = (folder.empty() ? "" : folder + "/") + numbered_name(name, n);
    std::error_code error;
    if (!std::filesystem::exists(file_system_path(candidate), error) && !error) return candidate;
  }
  return "";
}

}  // namespace

bool read_recording_ends(const std::string& path, RecordingEnds* ends, std::string* reason) {
  FilePtr file(open_file(path, "rb"));
  if (!file) return *reason = "cannot open the recording", false;
  const int64_t size = open_file_size(file.get());
  if (size < 0) return *reason = "cannot read the recording", false;
  if (size <= static_cast<int64_t>(kFileHeaderSize)) return *reason = "file too small", false;
  *ends = RecordingEnds{};
  ends->payload_size = size - static_cast<int64_t>(kFileHeaderSize);
  const std::vector<uint8_t> head =
      read_piece(file.get(), 0, std::min(kEndPieceBytes, ends->payload_size));
  if (head.empty()) return *reason = "cannot read the recording", false;
  const size_t first = find_first_hxvf(head.data(), head.size());
  if (first == SIZE_MAX) return true;
  ends->has_headers = true;
  ends->first_ts = ends->last_ts = read_le32(head.data() + first + 8);
  const int64_t tail_at = std::max<int64_t>(0, ends->payload_size - kEndPieceBytes);
  const std::vector<uint8_t> tail = read_piece(file.get(), tail_at, ends->payload_size - tail_at);
  const std::vector<size_t> headers = header_positions(tail);
  if (headers.empty()) return true;
  ends->last_ts = read_le32(tail.data() + headers.back() + 8);
  // The last two different timestamps give a picture's length.
  for (size_t i = headers.size() - 1; i-- > 0;) {
    const double step = seconds_after(read_le32(tail.data() + headers[i] + 8), ends->last_ts);
    if (step == 0) continue;
    if (step > 0 && step <= kMaxPictureGapS) ends->interval_s = step;
    break;
  }
  return true;
}

double recording_length(const RecordingEnds& ends) {
  if (!ends.has_headers) return 0;
  const double interval = ends.interval_s > 0 ? ends.interval_s : 1.0 / kDefaultFrameRate;
  return std::max(0.0, seconds_after(ends.first_ts, ends.last_ts)) + interval;
}

bool locate_stretch_start(const std::string& path, double in_s, StretchStart* start,
                          std::string* reason, const std::atomic<bool>* cancel) {
  RecordingEnds ends;
  if (!read_recording_ends(path, &ends, reason)) return false;
  if (!ends.has_headers) return *reason = "no picture timestamps to find the stretch by", false;
  FilePtr file(open_file(path, "rb"));
  if (!file) return *reason = "cannot open the recording", false;
  // Past the end the last key picture is the start; the walks back stay few.
  in_s = std::min(in_s, recording_length(ends));
  for (double back = kFirstLookBackS;; back *= 4) {
    const int64_t from = header_before(file.get(), ends, in_s - back);
    KeySearch search;
    search.in_s = in_s;
    if (!search_key(path, from, ends, search, reason, cancel)) return false;
    if (search.found && search.first_time <= in_s) {
      *start = search.key;
      return true;
    }
    if (from == 0) {
      // No key picture before the in-point: the first one after it opens the MP4.
      *start = StretchStart{};
      return true;
    }
  }
}

std::string stretch_file_name(const std::string& first_path, const RecordingStart& first_start,
                              double in_s, const RecordingStart& last_start, double out_s) {
  std::string when;
  if (first_start.source != StartSource::none && last_start.source != StartSource::none) {
    const CivilTime from = civil_time_after(first_start.start, in_s);
    const CivilTime to = civil_time_after(last_start.start, out_s);
    const std::string to_text = date_and_time(to);
    const bool same_day = from.year == to.year && from.month == to.month && from.day == to.day;
    when = date_and_time(from) + "-" + (same_day ? to_text.substr(9) : to_text);
  } else {
    when = elapsed_part(in_s) + "-" + elapsed_part(out_s);
  }
  return safe_file_part(file_stem_of(first_path)) + "_" + when + ".mp4";
}

StretchResult export_stretch(const StretchRequest& request, const ProgressCallback& progress) {
  StretchResult out;
  if (request.inputs.empty()) {
    out.remux.reason = "no recording named";
    return out;
  }
  if (request.start) {
    out.start = *request.start;
  } else if (!locate_stretch_start(request.inputs.front(), request.in_s, &out.start,
                                   &out.remux.reason, request.options.cancel)) {
    return out;
  }
  RemuxStretch stretch;
  stretch.start_offset = out.start.offset;
  stretch.start_s = out.start.time_s;
  stretch.end_s = request.out_s;
  stretch.planned_s = request.planned_s > 0 ? request.planned_s + (request.in_s - out.start.time_s) : 0;
  for (const std::string& folder : request.folders) {
    const std::string output = free_name_in(folder, request.name);
    if (output.empty()) continue;
    out.remux = convert_stretch_to_mp4(request.inputs, stretch, output, progress, request.options);
    if (!out.remux.succeeded && out.remux.reason == kCannotWriteFolderReason) continue;
    if (out.remux.succeeded) out.output = output;
    return out;
  }
  out.remux.succeeded = false;
  out.remux.reason = kCannotWriteFolderReason;
  return out;
}

std::string stretch_result_line(const std::string& input, const StretchRequest& request,
                                const StretchResult& result) {
  if (!result.remux.succeeded) return remux_result_line(input, result.output, result.remux);
  const bool crosses = request.inputs.size() > 1;
  char from[64], to[64];
  std::snprintf(from, sizeof from, "from %.1f s", result.start.time_s);
  if (request.out_s < 0) {
    std::snprintf(to, sizeof to, "to the end");
  } else {
    std::snprintf(to, sizeof to, "to %.1f s", request.out_s);
  }
  std::string span = from;
  if (crosses) span += " of " + file_name_of(request.inputs.front());
  span += std::string(" ") + to;
  if (crosses) span += " of " + file_name_of(request.inputs.back());
  const std::string notes = remux_notes(result.remux);
  return "OK  " + input + " -> " + result.output + "  (" + span + (notes.empty() ? "" : "; " + notes) +
         ")\n";
}
