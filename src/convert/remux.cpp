#include "convert/remux.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <process.h>
#include <windows.h>
#define current_process_id _getpid
#else
#include <signal.h>
#include <unistd.h>
#define current_process_id getpid
#endif

#include "convert/avc_config.h"
#include "convert/payload_reader.h"
#include "convert/sound_track.h"
#include "platform/files.h"
#include "player/av_handles.h"
#include "recording/frame_clock.h"
#include "recording/frame_rate.h"
#include "recording/recording.h"

namespace {

constexpr AVRational kVideoTimeBase = {1, 90000};
// Bytes before a window's end whose meaning the window cannot settle yet: a
// sound block may run up to 16 + 65535 bytes past its header.
constexpr size_t kWindowGuard = kBlockHeaderSize + 65536 + 64;

struct OutputContextDeleter {
  void operator()(AVFormatContext* context) const {
    if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

// ---- temporary files ----------------------------------------------------

// Paths of the temporaries being written, in fixed storage a signal handler
// may read: a slot is taken (`used`), its path stored, then marked `ready`;
// the handler reads only ready slots. A path is registered before its file
// exists, so no moment leaves a file the handler does not know.
constexpr int kTemporarySlots = 64;
constexpr size_t kTemporaryPathMax = 4096;
struct TemporarySlot {
  std::atomic<bool> used{false};
  std::atomic<bool> ready{false};
  char path[kTemporaryPathMax];
};
TemporarySlot g_temporaries[kTemporarySlots];

int claim_temporary_slot(const std::string& path) {
  if (path.size() >= kTemporaryPathMax) return -1;
  for (int i = 0; i < kTemporarySlots; ++i) {
    bool expected = false;
    if (!g_temporaries[i].used.compare_exchange_strong(expected, true)) continue;
    std::memcpy(g_temporaries[i].path, path.c_str(), path.size() + 1);
    g_temporaries[i].ready.store(true);
    return i;
  }
  return -1;
}

void release_temporary_slot(int slot) {
  if (slot < 0) return;
  g_temporaries[slot].ready.store(false);
  g_temporaries[slot].used.store(false);
}

// The temporary MP4 beside the target; removed when it goes out of scope
// unless it was moved over the target.
struct TemporaryFile {
  std::string path;
  int slot = -1;
  ~TemporaryFile() {
    if (!path.empty()) {
      std::error_code ignored;
      std::filesystem::remove(file_system_path(path), ignored);
    }
    release_temporary_slot(slot);  // after the file is gone, so no signal finds it unregistered
  }
};

std::string folder_of(const std::string& path) {
  const size_t name_start = path.find_last_of("/\\");
  return name_start == std::string::npos ? "" : path.substr(0, name_start + 1);
}

// "<output's folder>/.tmp-<pid>-<n>.mp4": in the target's folder, so moving it
// there is a rename within one file system. The name does not grow with the
// target's, so a target whose name is near the file system's limit still gets one.
std::string temporary_output_path(const std::string& output_path, unsigned sequence) {
  return folder_of(output_path) + ".tmp-" + std::to_string(current_process_id()) + "-" +
         std::to_string(sequence) + ".mp4";
}

// Creates a new, empty file with a name nobody else uses, registered for the
// signal handler in *slot; "" when the folder does not let us.
std::string create_temporary_beside(const std::string& output_path, int* slot) {
  static std::atomic<unsigned> sequence{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string path = temporary_output_path(output_path, sequence.fetch_add(1));
    *slot = claim_temporary_slot(path);
    const CreateResult created = create_new_file(path);
    if (created == CreateResult::created) return path;
    release_temporary_slot(*slot);
    *slot = -1;
    if (created == CreateResult::failed) return "";
  }
  return "";
}

bool process_is_running(long pid) {
#ifdef _WIN32
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
#else
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

// The pid in ".tmp-<pid>-<n>.mp4", or -1 for any other name.
long temporary_owner(const std::string& name) {
  long pid = -1;
  unsigned long sequence = 0;
  int used = 0;
  if (std::sscanf(name.c_str(), ".tmp-%ld-%lu.mp4%n", &pid, &sequence, &used) != 2) return -1;
  return used == static_cast<int>(name.size()) && pid > 0 ? pid : -1;
}

// ---- the video stream ---------------------------------------------------

// One decoder packet holding each given unit behind a 4-byte start code.
// Sending SPS and PPS in the packet of the first picture, rather than alone,
// spares the console the decoder's "no frame!" complaints. Null when it
// cannot be allocated.
PacketPtr make_probe_packet(const std::vector<const std::vector<uint8_t>*>& units) {
  int64_t size = 0;
  for (const auto* unit : units) size += 4 + static_cast<int64_t>(unit->size());
  if (size > INT32_MAX) return nullptr;
  PacketPtr packet(av_packet_alloc());
  if (!packet || av_new_packet(packet.get(), static_cast<int>(size)) < 0) return nullptr;
  uint8_t* out = packet->data;
  for (const auto* unit : units) {
    const uint8_t start_code[4] = {0, 0, 0, 1};
    std::memcpy(out, start_code, 4);
    std::memcpy(out + 4, unit->data(), unit->size());
    out += 4 + unit->size();
  }
  return packet;
}

// What the start of the recording tells before anything is written.
struct HeadFacts {
  std::vector<uint8_t> sps, pps, first_idr;  // copies of the first of each
  bool has_header = false;                   // an "HXVF" header seen
  uint32_t first_header_ts = 0;
  bool has_sound = false;                    // a valid sound block seen
  uint32_t first_sound_ts = 0;
  bool complete() const { return !sps.empty() && !pps.empty() && !first_idr.empty() && has_header; }
};

// Decodes SPS, PPS and the first IDR slice once to learn the picture size.
bool probe_picture_size(const HeadFacts& head, int* width, int* height) {
  *width = *height = 0;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) return false;
  CodecContextPtr decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_open2(decoder.get(), codec, nullptr) < 0) return false;
  std::vector<const std::vector<uint8_t>*> units = {&head.sps, &head.pps};
  if (!head.first_idr.empty()) units.push_back(&head.first_idr);
  PacketPtr packet = make_probe_packet(units);
  if (!packet) return false;
  avcodec_send_packet(decoder.get(), packet.get());
  FramePtr frame(av_frame_alloc());
  if (!frame) return false;
  int result = avcodec_receive_frame(decoder.get(), frame.get());
  if (result == AVERROR(EAGAIN)) {
    // A decoder that holds the picture back for reordering gives it up on drain.
    avcodec_send_packet(decoder.get(), nullptr);
    result = avcodec_receive_frame(decoder.get(), frame.get());
  }
  if (result < 0) return false;
  *width = frame->width;
  *height = frame->height;
  return *width > 0 && *height > 0;
}

// One video stream described by the decoder configuration record. The tag
// 'avc3' lets parameter sets in the samples replace the record's, so a
// recording whose picture size changes keeps both sizes.
bool add_video_stream(AVFormatContext* output, const std::vector<uint8_t>& record, int width,
                      int height) {
  AVStream* stream = avformat_new_stream(output, nullptr);
  if (!stream) return false;
  AVCodecParameters* parameters = stream->codecpar;
  parameters->codec_type = AVMEDIA_TYPE_VIDEO;
  parameters->codec_id = AV_CODEC_ID_H264;
  parameters->codec_tag = MKTAG('a', 'v', 'c', '3');
  parameters->width = width;
  parameters->height = height;
  parameters->format = AV_PIX_FMT_YUV420P;
  stream->time_base = kVideoTimeBase;
  auto* extradata =
      static_cast<uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!extradata) return false;
  std::copy(record.begin(), record.end(), extradata);
  parameters->extradata = extradata;
  parameters->extradata_size = static_cast<int>(record.size());
  return true;
}

bool io_failed(const AVFormatContext* output) { return output->pb && output->pb->error < 0; }

// ---- walking the payload ------------------------------------------------

struct StreamItem {
  enum Kind { unit, video_header, sound_block } kind;
  const uint8_t* data;  // unit: NAL header byte; sound: first sample
  size_t size;          // unit bytes or sound samples
  int type;             // unit type
  uint32_t timestamp;   // headers and sound blocks
};

enum class WalkEnd { finished, stopped, failed, too_many_units };

// Hands every unit and camera block of one settled stretch [0, limit) of the
// window to `visit`, in payload order. False when visit says stop.
template <typename Visit>
bool visit_stretch(const uint8_t* w, size_t length, const std::vector<NalUnit>& units,
                   size_t unit_count, const std::vector<size_t>& blocks, size_t limit,
                   Visit& visit) {
  size_t next_block = 0;
  auto visit_blocks_before = [&](size_t position) {
    for (; next_block < blocks.size() && blocks[next_block] < position &&
           blocks[next_block] < limit;
         ++next_block) {
      const size_t block = blocks[next_block];
      size_t block_size = 0;
      next_camera_block(w, length, block, &block_size);
      const uint32_t ts = read_le32(w + block + 8);
      if (w[block + 2] == 'V') {
        if (!visit(StreamItem{StreamItem::video_header, nullptr, 0, 0, ts})) return false;
      } else if (block_size > kBlockHeaderSize) {
        if (!visit(StreamItem{StreamItem::sound_block, w + block + 20, block_size - 20, 0, ts})) {
          return false;
        }
      }
    }
    return true;
  };
  for (size_t i = 0; i < unit_count; ++i) {
    const NalUnit& u = units[i];
    if (!visit_blocks_before(static_cast<size_t>(u.data - w))) return false;
    if (!visit(StreamItem{StreamItem::unit, u.data, static_cast<size_t>(u.size), u.type, 0})) {
      return false;
    }
  }
  return visit_blocks_before(limit);
}

// True when only camera blocks and zero bytes follow the unit up to `safe`
// (at least three of them): what a camera writes between pictures, so the
// unit is over. Otherwise the next window must tell.
bool followed_by_padding(const uint8_t* w, size_t length, const NalUnit& unit, size_t safe) {
  size_t pos = static_cast<size_t>(unit.data - w) + static_cast<size_t>(unit.size);
  if (pos + 3 > safe) return false;
  while (pos < safe) {
    size_t block_size = 0;
    if (w[pos] == 0) {
      ++pos;
    } else if (next_camera_block(w, length, pos, &block_size) == pos) {
      pos += block_size;
    } else {
      return false;
    }
  }
  return true;
}

// How many of a window's units are settled, and where the next window starts.
// A unit is settled when the next unit starts before the window's last
// kWindowGuard bytes, or, as the last one, when only padding follows it there.
void settle_units(const uint8_t* w, size_t length, const std::vector<NalUnit>& units,
                  size_t* settled_units, size_t* consumed) {
  const size_t safe = length > kWindowGuard ? length - kWindowGuard : 0;
  size_t settled = 0;
  while (settled < units.size()) {
    const bool has_next = settled + 1 < units.size();
    if (has_next ? static_cast<size_t>(units[settled + 1].data - w) <= safe
                 : followed_by_padding(w, length, units[settled], safe)) {
      ++settled;
    } else {
      break;
    }
  }
  size_t next = safe;  // no unit left: the rest up to `safe` holds no start code
  if (settled < units.size()) {
    const size_t start = static_cast<size_t>(units[settled].data - w);
    next = start >= 4 ? start - 4 : 0;  // the next window finds its start code again
  }
  if (settled > 0) {
    const NalUnit& last = units[settled - 1];
    next = std::max(next, static_cast<size_t>(last.data - w) + static_cast<size_t>(last.size));
  }
  *settled_units = settled;
  *consumed = next;
}

// Walks the whole payload window by window. A window's units are settled up
// to the start code of the first unit that may run on past the window (or
// into its last kWindowGuard bytes); the rest moves on to the next window.
template <typename Visit>
WalkEnd walk_payload(PayloadReader& reader, Visit& visit, const std::atomic<bool>* cancel,
                     const ProgressCallback& progress) {
  for (;;) {
    if (cancel && cancel->load()) return WalkEnd::stopped;
    const uint8_t* w = window_data(reader);
    const size_t length = window_length(reader);
    const size_t limit_units = unit_limit(length);
    std::vector<size_t> blocks;
    const std::vector<NalUnit> units = index_nal_units(w, length, limit_units, &blocks);
    if (units.size() > limit_units) return WalkEnd::too_many_units;
    size_t settled_units = units.size();
    size_t consumed = length;
    if (!reader.at_end) settle_units(w, length, units, &settled_units, &consumed);
    if (!visit_stretch(w, length, units, settled_units, blocks, consumed, visit)) {
      return WalkEnd::stopped;
    }
    if (progress && reader.payload_size > 0) {
      const double done = static_cast<double>(reader.window_offset + static_cast<int64_t>(consumed)) /
                          static_cast<double>(reader.payload_size);
      if (done > 0) progress(static_cast<float>(std::min(done, 1.0) * 0.999));
    }
    if (reader.at_end) return WalkEnd::finished;
    if (!advance_window(reader, consumed)) return WalkEnd::failed;
    if (reader.failed) return WalkEnd::failed;
  }
}

// Reads from the start until the first SPS, PPS, IDR slice and "HXVF" header
// are known (or the payload ends).
bool read_head(const std::string& path, HeadFacts& head, std::string* reason) {
  PayloadReader reader;
  if (!open_payload_reader(reader, path, reason)) {
    close_payload_reader(reader);
    return false;
  }
  auto visit = [&head](const StreamItem& item) {
    if (item.kind == StreamItem::video_header && !head.has_header) {
      head.has_header = true;
      head.first_header_ts = item.timestamp;
    } else if (item.kind == StreamItem::sound_block && !head.has_sound) {
      head.has_sound = true;
      head.first_sound_ts = item.timestamp;
    } else if (item.kind == StreamItem::unit) {
      std::vector<uint8_t>* slot = item.type == 7 ? &head.sps
                                   : item.type == 8 ? &head.pps
                                   : item.type == 5 ? &head.first_idr
                                                    : nullptr;
      if (slot && slot->empty()) slot->assign(item.data, item.data + item.size);
    }
    return !head.complete();
  };
  const WalkEnd end = walk_payload(reader, visit, nullptr, {});
  close_payload_reader(reader);
  if (end == WalkEnd::failed) return *reason = "cannot read the recording", false;
  if (end == WalkEnd::too_many_units) return *reason = "too many NAL units for the file's size", false;
  if (head.sps.empty() || head.pps.empty()) return *reason = "no SPS or PPS", false;
  return true;
}

// ---- writing samples ----------------------------------------------------

// The conversion's running state while the payload streams past.
struct Conversion {
  AVFormatContext* output = nullptr;
  AVStream* video = nullptr;
  FrameClock clock;
  int64_t pictures = 0;
  bool any_header = false;
  uint32_t first_header_ts = 0, last_header_ts = 0;
  // Parameter sets and SEI waiting for the next picture's sample.
  std::vector<uint8_t> prefix;
  // The picture being gathered, and the finished one waiting for its successor's time.
  PacketPtr building, held;
  bool building_open = false;
  double building_time = 0, held_time = 0;
  bool with_sound = false;
  SoundTrack sound;
  bool failed = false;
  std::string reason;
};

int64_t to_video_ticks(double seconds) {
  return static_cast<int64_t>(std::llround(seconds * kVideoTimeBase.den));
}

bool append_length_prefixed(AVPacket* packet, const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(INT32_MAX - 4) - static_cast<size_t>(packet->size)) return false;
  const int old_size = packet->size;
  if (av_grow_packet(packet, static_cast<int>(size) + 4) < 0) return false;
  write_length_prefixed(data, static_cast<uint32_t>(size), packet->data + old_size);
  return true;
}

bool write_video_packet(Conversion& c, PacketPtr& packet, double time, double duration) {
  packet->pts = packet->dts = to_video_ticks(time);
  packet->duration = std::max<int64_t>(1, to_video_ticks(time + duration) - packet->pts);
  packet->stream_index = c.video->index;
  const bool ok = av_interleaved_write_frame(c.output, packet.get()) >= 0 && !io_failed(c.output);
  packet.reset();
  return ok;
}

// The held sample is written once the next picture's time gives its length.
bool pass_on_building(Conversion& c) {
  if (!c.building_open) return true;
  if (c.held && !write_video_packet(c, c.held, c.held_time, c.building_time - c.held_time)) {
    return false;
  }
  c.held = std::move(c.building);
  c.held_time = c.building_time;
  c.building_open = false;
  return true;
}

bool add_slice(Conversion& c, const StreamItem& item) {
  NalUnit unit{item.data, static_cast<int32_t>(item.size), item.type};
  if (starts_picture(unit) || !c.building_open) {
    if (!pass_on_building(c)) return false;
    c.building.reset(av_packet_alloc());
    if (!c.building) return false;
    c.building_time = next_picture_time(c.clock);
    c.building_open = true;
    ++c.pictures;
  }
  AVPacket* packet = c.building.get();
  if (!c.prefix.empty()) {
    const int old_size = packet->size;
    if (av_grow_packet(packet, static_cast<int>(c.prefix.size())) < 0) return false;
    std::memcpy(packet->data + old_size, c.prefix.data(), c.prefix.size());
    c.prefix.clear();
  }
  if (item.type == 5) packet->flags |= AV_PKT_FLAG_KEY;
  return append_length_prefixed(packet, item.data, item.size);
}

// Parameter sets and SEI go with the next picture; other non-slice units
// (delimiters, end of sequence, filler) are left out.
bool add_unit(Conversion& c, const StreamItem& item) {
  if (item.type == 1 || item.type == 5) return add_slice(c, item);
  if (item.type != 6 && item.type != 7 && item.type != 8) return true;
  if (item.size > (size_t{1} << 28)) return false;
  const size_t old_size = c.prefix.size();
  c.prefix.resize(old_size + 4 + item.size);
  write_length_prefixed(item.data, static_cast<uint32_t>(item.size), c.prefix.data() + old_size);
  return true;
}

bool handle_item(Conversion& c, const StreamItem& item) {
  switch (item.kind) {
    case StreamItem::video_header:
      note_video_header(c.clock, item.timestamp);
      if (!c.any_header) c.first_header_ts = item.timestamp;
      c.any_header = true;
      c.last_header_ts = item.timestamp;
      return true;
    case StreamItem::sound_block:
      if (!c.with_sound) return true;
      return add_sound_block(c.sound, c.output, item.data, static_cast<int64_t>(item.size),
                             clock_time_of(c.clock, item.timestamp));
    case StreamItem::unit:
      return add_unit(c, item);
  }
  return true;
}

// The last picture lasts one interval at the rate the timestamps measured.
bool finish_video(Conversion& c) {
  if (!pass_on_building(c)) return false;
  if (!c.held) return c.pictures > 0;
  return write_video_packet(c, c.held, c.held_time, 1.0 / clock_rate(c.clock));
}

// Trailer written, every byte flushed and the file closed without error.
bool finish_output(AVFormatContext* output) {
  bool ok = av_write_trailer(output) >= 0 && !io_failed(output);
  if (!(output->oformat->flags & AVFMT_NOFILE) && avio_closep(&output->pb) < 0) ok = false;
  return ok;
}

// The same file under two names (or the input itself as output) would have the
// recording replaced by its own conversion.
bool names_the_input(const std::string& input_path, const std::string& output_path) {
  std::error_code error;
  return std::filesystem::equivalent(file_system_path(input_path), file_system_path(output_path),
                                     error) &&
         !error;
}

bool fail(std::string* reason, const char* why) {
  if (reason) *reason = why;
  return false;
}

// Opens the output with its streams and writes the header.
bool start_output(Conversion& c, OutputContextPtr& output, const std::string& path,
                  const HeadFacts& head, bool sound, std::string* reason) {
  int width = 0, height = 0;
  if (!probe_picture_size(head, &width, &height)) return fail(reason, "no picture decodes");
  const NalUnit sps{head.sps.data(), static_cast<int32_t>(head.sps.size()), 7};
  const NalUnit pps{head.pps.data(), static_cast<int32_t>(head.pps.size()), 8};
  const std::vector<uint8_t> record = build_avc_config(sps, pps);
  if (record.empty()) return fail(reason, "unusable SPS or PPS");
  AVFormatContext* raw = nullptr;
  const std::string name = utf8_path(path);  // FFmpeg takes file names in UTF-8
  if (avformat_alloc_output_context2(&raw, nullptr, "mp4", name.c_str()) < 0 || !raw) {
    return fail(reason, "cannot create the MP4");
  }
  output.reset(raw);
  c.output = raw;
  if (!add_video_stream(raw, record, width, height)) return fail(reason, "out of memory");
  c.video = raw->streams[0];
  c.with_sound = sound && head.has_sound;
  if (c.with_sound && !open_sound_track(c.sound, raw, reason)) return false;
  if (!(raw->oformat->flags & AVFMT_NOFILE) && avio_open(&raw->pb, name.c_str(), AVIO_FLAG_WRITE) < 0) {
    return fail(reason, "cannot write the MP4");
  }
  if (avformat_write_header(raw, nullptr) < 0 || io_failed(raw)) {
    return fail(reason, "cannot write the MP4");
  }
  return true;
}

bool convert_stream(const std::string& input_path, const std::string& temporary,
                    const ProgressCallback& progress, const RemuxOptions& options,
                    std::string* reason) {
  HeadFacts head;
  if (!read_head(input_path, head, reason)) return false;
  if (head.first_idr.empty()) return fail(reason, "no key frame");
  Conversion c;
  OutputContextPtr output;
  if (!start_output(c, output, temporary, head, options.sound, reason)) return false;
  const uint32_t origin = head.has_header ? head.first_header_ts : head.first_sound_ts;
  c.clock = start_frame_clock(origin, kDefaultFrameRate);

  PayloadReader reader;
  if (!open_payload_reader(reader, input_path, reason)) {
    close_payload_reader(reader);
    return false;
  }
  auto visit = [&c](const StreamItem& item) {
    if (handle_item(c, item)) return true;
    c.failed = true;
    return false;
  };
  const WalkEnd end = walk_payload(reader, visit, options.cancel, progress);
  close_payload_reader(reader);
  if (c.failed) return fail(reason, "cannot write the MP4");
  if (end == WalkEnd::stopped) return fail(reason, kCancelledReason);
  if (end == WalkEnd::failed) return fail(reason, "cannot read the recording");
  if (end == WalkEnd::too_many_units) return fail(reason, "too many NAL units for the file's size");
  if (c.pictures == 0) return fail(reason, "no video frames");

  if (options.print_frame_rate) {
    double duration = 0;
    const double estimate =
        rate_from_span(c.pictures, c.first_header_ts, c.last_header_ts, &duration);
    report_frame_rate(estimate, duration);
  }
  if (!finish_video(c)) return fail(reason, "cannot write the MP4");
  if (c.with_sound && !finish_sound_track(c.sound, c.output)) return fail(reason, "cannot write the MP4");
  if (!finish_output(c.output)) return fail(reason, "cannot write the MP4");
  return true;
}

}  // namespace

bool remux_recording(const std::string& input_path, const std::string& output_path,
                     const ProgressCallback& progress, const RemuxOptions& options,
                     std::string* reason) {
  std::string ignored_reason;
  if (!reason) reason = &ignored_reason;
  try {
    if (names_the_input(input_path, output_path)) return fail(reason, "output would replace the input");
    remove_stale_temporaries(folder_of(output_path).empty() ? "." : folder_of(output_path));
    TemporaryFile temporary;
    temporary.path = create_temporary_beside(output_path, &temporary.slot);
    if (temporary.path.empty()) return fail(reason, "cannot write in the output folder");
    if (!convert_stream(input_path, temporary.path, progress, options, reason)) return false;
    std::error_code error;
    std::filesystem::rename(file_system_path(temporary.path), file_system_path(output_path), error);
    if (error) return fail(reason, "cannot replace the output file");
    temporary.path.clear();  // now the target: keep it
  } catch (const std::bad_alloc&) {
    return fail(reason, "out of memory");
  } catch (const std::system_error&) {
    return fail(reason, "cannot start a reading thread");
  }
  if (progress) progress(1.0f);
  return true;
}

bool remux_to_mp4(const std::string& input_path, const std::string& output_path,
                  ProgressCallback progress, bool print_frame_rate) {
  RemuxOptions options;
  options.print_frame_rate = print_frame_rate;
  return remux_recording(input_path, output_path, progress, options, nullptr);
}

std::string mp4_output_path(const std::string& input_path) {
  const size_t name_start = input_path.find_last_of("/\\");
  const size_t dot = input_path.rfind('.');
  const bool dot_in_name = dot != std::string::npos &&
                           (name_start == std::string::npos || dot > name_start);
  return (dot_in_name ? input_path.substr(0, dot) : input_path) + ".mp4";
}

int remove_stale_temporaries(const std::string& folder) {
  int removed = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(file_system_path(folder), error)) {
    const std::string name = path_text(entry.path().filename());
    const long owner = temporary_owner(name);
    if (owner < 0 || owner == static_cast<long>(current_process_id())) continue;
    if (process_is_running(owner)) continue;
    std::error_code ignored;
    if (std::filesystem::remove(entry.path(), ignored)) ++removed;
  }
  return removed;
}

void remove_active_temporaries() {
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.ready.load()) remove_file_now(slot.path);
  }
}
