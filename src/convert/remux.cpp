#include "convert/remux.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>
#include <vector>

#include "convert/avc_config.h"
#include "recording/payload_reader.h"
#include "recording/payload_walk.h"
#include "convert/sound_track.h"
#include "platform/files.h"
#include "media/av_handles.h"
#include "recording/folder_order.h"
#include "recording/frame_clock.h"
#include "recording/frame_rate.h"

namespace {

constexpr AVRational kVideoTimeBase = {1, 90000};
// Sound held back while the first key frame is awaited: more than the
// pictures may step, so all that can still fall after that frame is kept.
constexpr int64_t kMaxHeldSoundSamples = static_cast<int64_t>(kSoundSampleRate * kMaxPictureGapS);

struct OutputContextDeleter {
  void operator()(AVFormatContext* context) const {
    if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

bool fail(std::string* reason, const char* why) {
  if (reason) *reason = why;
  return false;
}

// ---- the first pass -----------------------------------------------------

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

// What a first pass over the recording tells before anything is written. It
// goes on until the parameter sets, the first key frame, a picture header and
// a sound block are all known, so without headers or without sound it reads
// the whole recording: the pictures are then counted and the sound's span
// measured, for the rate.
struct HeadFacts {
  std::vector<uint8_t> sps, pps, first_idr;  // copies of the first of each
  bool has_header = false;                   // an "HXVF" header seen
  uint32_t first_header_ts = 0, last_header_ts = 0;
  bool has_sound = false;                    // a valid sound block seen, anywhere
  uint32_t first_sound_ts = 0, last_sound_ts = 0;
  int64_t last_sound_samples = 0;
  int64_t pictures = 0;                      // counted as far as the pass went
  bool complete() const {
    return !sps.empty() && !pps.empty() && !first_idr.empty() && has_header && has_sound;
  }
};

void note_head_unit(HeadFacts& head, const StreamItem& item) {
  if (item.type == 1 || item.type == 5) {
    const NalUnit unit{item.data, static_cast<int32_t>(item.size), item.type};
    if (head.pictures == 0 || starts_picture(unit)) ++head.pictures;
  }
  std::vector<uint8_t>* slot = item.type == 7 ? &head.sps
                               : item.type == 8 ? &head.pps
                               : item.type == 5 ? &head.first_idr
                                                : nullptr;
  if (slot && slot->empty()) slot->assign(item.data, item.data + item.size);
}

bool note_head_item(HeadFacts& head, const StreamItem& item) {
  switch (item.kind) {
    case StreamItem::video_header:
      if (!head.has_header) head.first_header_ts = item.timestamp;
      head.has_header = true;
      head.last_header_ts = item.timestamp;
      break;
    case StreamItem::sound_block:
      if (!head.has_sound) head.first_sound_ts = item.timestamp;
      head.has_sound = true;
      head.last_sound_ts = item.timestamp;
      head.last_sound_samples = static_cast<int64_t>(item.size);
      break;
    case StreamItem::unit:
      note_head_unit(head, item);
      break;
    case StreamItem::skipped:
      break;
  }
  return !head.complete();
}

// Walks `path` from payload offset `start`, handing each item to `take`
// until it says stop. False with the reason when the walk cannot be done.
bool walk_head(const std::string& path, int64_t start, const StreamVisitor& take,
               const std::atomic<bool>* cancel, std::string* reason) {
  PayloadReader reader;
  if (!open_payload_reader(reader, path, reason, start)) {
    close_payload_reader(reader);
    return false;
  }
  const WalkEnd end = walk_payload(reader, take, cancel, {});
  close_payload_reader(reader);
  if (end == WalkEnd::cancelled) return fail(reason, kCancelledReason);
  if (end == WalkEnd::failed) return fail(reason, "cannot read the recording");
  if (end == WalkEnd::too_many_units) return fail(reason, "too many NAL units for the file's size");
  return true;
}

bool read_head(const std::string& path, HeadFacts& head, const std::atomic<bool>* cancel,
               std::string* reason) {
  if (!walk_head(path, 0, [&head](const StreamItem& item) { return note_head_item(head, item); },
                 cancel, reason)) {
    return false;
  }
  if (head.sps.empty() || head.pps.empty()) return fail(reason, "no SPS or PPS");
  return true;
}

// The rate for pictures without a timestamp of their own: without any header
// the sound's span gives it, else the default until the headers measure one.
double starting_rate(const HeadFacts& head, bool print) {
  if (head.has_header || !head.has_sound) return kDefaultFrameRate;
  if (print) {
    return detect_frame_rate_from_sound(head.pictures, head.first_sound_ts, head.last_sound_ts,
                                        head.last_sound_samples);
  }
  const double rate = rate_from_sound_span(head.pictures, head.first_sound_ts, head.last_sound_ts,
                                           head.last_sound_samples, nullptr);
  return rate > 0 ? rate : kDefaultFrameRate;
}

// ---- the video stream ---------------------------------------------------

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

// ---- writing samples ----------------------------------------------------

// A sound block met before the first key frame, kept until that frame's
// time says how much of it the MP4 holds.
struct HeldSound {
  std::vector<uint8_t> samples;
  double time;
};

// The conversion's running state while the payload streams past.
struct Conversion {
  AVFormatContext* output = nullptr;
  AVStream* video = nullptr;
  FrameClock clock;
  RemuxResult* result = nullptr;
  int64_t pictures = 0;  // written
  bool any_header = false;
  uint32_t first_header_ts = 0, last_header_ts = 0;
  // Parameter sets and SEI waiting for the next picture's sample.
  std::vector<uint8_t> prefix;
  // The picture being gathered, and the finished one waiting for its successor's time.
  PacketPtr building, held;
  bool building_open = false;
  double building_time = 0, held_time = 0;
  // A picture that cannot be decoded (before the first key frame, or after a
  // slice lost to a skipped stretch) is left out with all its slices, until
  // the next key frame. The first key frame is time 0 of the MP4.
  bool picture_started = false;  // a picture, written or left out, is in progress
  bool before_first_key = true;
  bool awaiting_key = true;
  bool leaving_out = false;      // the current picture is left out
  double time_offset = 0;
  std::deque<HeldSound> held_sound;
  int64_t held_samples = 0;
  bool sound_wanted = true;
  bool with_sound = false;
  bool late_sound = false;  // a block came after the output started without a sound track
  SoundTrack sound;
  std::string failure;  // why the walk was stopped
  // A stretch: the pictures from stop_s on this recording's clock are left
  // out and the sound ends there; the walk goes on past it only as long as
  // sound written after its picture may still come.
  double stop_s = std::numeric_limits<double>::infinity();
  bool past_stop = false;
  double stop_picture_time = 0;  // on the MP4's timeline: where the last picture kept ends
  // A following recording: its clock starts at its first header; sound met
  // before it waits for it (timestamps and samples).
  bool origin_pending = false;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> waiting_for_origin;
  int64_t waiting_samples = 0;
  // A stretch's progress: the MP4's time against the planned length.
  const ProgressCallback* stretch_progress = nullptr;
  double planned_s = 0;
};

// How long the walk goes on past the out-point for the sound that cameras
// write after their pictures.
constexpr double kSoundLagS = 2.0;

bool stop_with(Conversion& c, const char* why) {
  c.failure = why;
  return false;
}

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

bool write_sound(Conversion& c, const uint8_t* alaw, int64_t count, double time) {
  if (!add_sound_block(c.sound, c.output, alaw, count, time - c.time_offset)) {
    return stop_with(c, "cannot write the MP4");
  }
  return true;
}

void hold_sound(Conversion& c, const StreamItem& item, double time) {
  c.held_sound.push_back({std::vector<uint8_t>(item.data, item.data + item.size), time});
  c.held_samples += static_cast<int64_t>(item.size);
  while (c.held_samples > kMaxHeldSoundSamples && c.held_sound.size() > 1) {
    c.held_samples -= static_cast<int64_t>(c.held_sound.front().samples.size());
    c.held_sound.pop_front();
  }
}

void drop_held_sound(Conversion& c) {
  c.held_sound.clear();
  c.held_samples = 0;
}

// The sound held until the first key frame, placed now that its time is
// known: whatever lies before it is cut away by the track.
bool write_held_sound(Conversion& c) {
  for (const HeldSound& block : c.held_sound) {
    if (!write_sound(c, block.samples.data(), static_cast<int64_t>(block.samples.size()), block.time)) {
      return false;
    }
  }
  drop_held_sound(c);
  return true;
}

bool start_clock_at_header(Conversion& c, uint32_t timestamp);

// A following recording whose first picture came before any header: its clock
// starts at its first sound block, as a recording without headers does.
bool start_clock_without_header(Conversion& c) {
  return start_clock_at_header(c, c.waiting_for_origin.empty() ? 0 : c.waiting_for_origin.front().first);
}

// The first picture at or after the out-point: the pictures before it are the
// stretch's, this one and those after it are left out; far enough past the
// out-point no sound can come any more, and the walk stops (false, no failure).
bool reach_stop(Conversion& c, double time) {
  if (!c.past_stop) {
    c.past_stop = true;
    c.stop_picture_time = time - c.time_offset;
  }
  c.picture_started = true;
  c.leaving_out = true;
  c.prefix.clear();
  return time < c.stop_s + kSoundLagS;
}

void report_stretch_progress(const Conversion& c, double time) {
  if (!c.stretch_progress || !*c.stretch_progress || c.planned_s <= 0 || c.before_first_key) return;
  if (c.pictures % 16 != 0) return;
  const double done = (time - c.time_offset) / c.planned_s;
  (*c.stretch_progress)(static_cast<float>(std::clamp(done, 0.0, 0.999)));
}

// A new picture: written from a key frame on, left out before one.
bool begin_picture(Conversion& c, bool key) {
  if (!pass_on_building(c)) return stop_with(c, "cannot write the MP4");
  if (c.origin_pending && !start_clock_without_header(c)) return false;
  const double time = next_picture_time(c.clock);
  if (time >= c.stop_s) return reach_stop(c, time);
  report_stretch_progress(c, time);
  c.picture_started = true;
  c.leaving_out = c.awaiting_key && !key;
  if (c.leaving_out) {
    ++(c.before_first_key ? c.result->pictures_before_first_key : c.result->pictures_after_skipped);
    c.prefix.clear();
    if (c.before_first_key) drop_held_sound(c);  // it went with the pictures left out
    return true;
  }
  c.awaiting_key = false;
  if (c.before_first_key) {
    c.before_first_key = false;
    c.time_offset = time;
    if (c.with_sound && !write_held_sound(c)) return false;
  }
  c.building.reset(av_packet_alloc());
  if (!c.building) return stop_with(c, "out of memory");
  c.building_time = time - c.time_offset;
  c.building_open = true;
  ++c.pictures;
  return true;
}

bool add_slice(Conversion& c, const StreamItem& item) {
  const NalUnit unit{item.data, static_cast<int32_t>(item.size), item.type};
  if (starts_picture(unit) || !c.picture_started) {
    if (!begin_picture(c, item.type == 5)) return false;
  }
  if (c.leaving_out) return true;
  AVPacket* packet = c.building.get();
  if (!c.prefix.empty()) {
    const int old_size = packet->size;
    if (av_grow_packet(packet, static_cast<int>(c.prefix.size())) < 0) return stop_with(c, "out of memory");
    std::memcpy(packet->data + old_size, c.prefix.data(), c.prefix.size());
    c.prefix.clear();
  }
  if (item.type == 5) packet->flags |= AV_PKT_FLAG_KEY;
  if (!append_length_prefixed(packet, item.data, item.size)) return stop_with(c, "out of memory");
  return true;
}

// Parameter sets and SEI go with the next picture; other non-slice units
// (delimiters, end of sequence, filler) are left out. Of a long run of them
// without a picture, at most kMaxUnitBytes of the latest wait.
bool add_unit(Conversion& c, const StreamItem& item) {
  if (item.type == 1 || item.type == 5) return add_slice(c, item);
  if (item.type != 6 && item.type != 7 && item.type != 8) return true;
  if (c.prefix.size() + item.size > kMaxUnitBytes) c.prefix.clear();
  const size_t old_size = c.prefix.size();
  c.prefix.resize(old_size + 4 + item.size);
  write_length_prefixed(item.data, static_cast<uint32_t>(item.size), c.prefix.data() + old_size);
  return true;
}

// A stretch too long for a unit. When it began with a slice, that picture is
// lost, and the pictures after it cannot be decoded up to the next key frame.
void add_skipped(Conversion& c, const StreamItem& item) {
  std::vector<SkippedStretch>& skipped = c.result->skipped;
  if (!skipped.empty() && skipped.back().offset + skipped.back().size == item.offset) {
    skipped.back().size += static_cast<int64_t>(item.size);
  } else {
    skipped.push_back({item.offset, static_cast<int64_t>(item.size)});
  }
  if (item.type == 1 || item.type == 5) {
    c.awaiting_key = true;
    c.leaving_out = true;  // later slices of the lost picture go with it
  }
}

bool add_sound(Conversion& c, const StreamItem& item) {
  if (c.origin_pending) {
    // Bounded as the sound held for a first key frame is: a recording of sound
    // alone must not fill the memory.
    c.waiting_for_origin.push_back({item.timestamp, {item.data, item.data + item.size}});
    c.waiting_samples += static_cast<int64_t>(item.size);
    while (c.waiting_samples > kMaxHeldSoundSamples && c.waiting_for_origin.size() > 1) {
      const auto dropped = static_cast<int64_t>(c.waiting_for_origin.front().second.size());
      c.waiting_samples -= dropped;
      c.result->sound_samples_without_pictures += dropped;
      c.waiting_for_origin.erase(c.waiting_for_origin.begin());
    }
    return true;
  }
  int64_t count = static_cast<int64_t>(item.size);
  if (std::isfinite(c.stop_s)) {
    // A stretch's sound ends at the out-point, wherever the camera wrote it.
    const double until = c.stop_s - clock_time_of(c.clock, item.timestamp);
    if (until <= 0) return true;
    count = std::min<int64_t>(count, static_cast<int64_t>(until * kSoundSampleRate));
  }
  c.result->recording_has_sound = true;
  if (!c.with_sound) {
    // The output started without a sound track: a block now means the
    // recording has sound after all, and an MP4 without it is no success.
    if (!c.sound_wanted) return true;
    c.late_sound = true;
    return stop_with(c, "sound found after the MP4 was started without it");
  }
  const double time = clock_time_of(c.clock, item.timestamp);
  const StreamItem kept{item.kind, item.data, static_cast<size_t>(count), item.type, item.timestamp,
                        item.offset};
  if (c.before_first_key) {
    hold_sound(c, kept, time);
    return true;
  }
  return write_sound(c, kept.data, count, time);
}

// A following recording's first header: its clock starts there, and the
// sound that came before it is placed on it.
bool start_clock_at_header(Conversion& c, uint32_t timestamp) {
  c.clock = start_frame_clock(timestamp, clock_rate(c.clock));
  c.origin_pending = false;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> waiting;
  waiting.swap(c.waiting_for_origin);
  c.waiting_samples = 0;
  for (const auto& [ts, samples] : waiting) {
    const StreamItem item{StreamItem::sound_block, samples.data(), samples.size(), 0, ts, 0};
    if (!add_sound(c, item)) return false;
  }
  return true;
}

bool handle_item(Conversion& c, const StreamItem& item) {
  switch (item.kind) {
    case StreamItem::video_header:
      if (c.origin_pending && !start_clock_at_header(c, item.timestamp)) return false;
      note_video_header(c.clock, item.timestamp);
      if (!c.any_header) c.first_header_ts = item.timestamp;
      c.any_header = true;
      c.last_header_ts = item.timestamp;
      return true;
    case StreamItem::sound_block:
      return add_sound(c, item);
    case StreamItem::unit:
      return add_unit(c, item);
    case StreamItem::skipped:
      add_skipped(c, item);
      return true;
  }
  return true;
}

// The last picture lasts one interval at the rate the timestamps measured, or
// up to the picture that a stretch's out-point left out.
bool finish_video(Conversion& c) {
  if (!pass_on_building(c)) return false;
  if (!c.held) return c.pictures > 0;
  const double last = c.past_stop && c.stop_picture_time > c.held_time
                          ? c.stop_picture_time - c.held_time
                          : 1.0 / clock_rate(c.clock);
  c.result->duration_s = c.held_time + last;
  return write_video_packet(c, c.held, c.held_time, last);
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

// Opens the output with its streams and writes the header.
bool start_output(Conversion& c, OutputContextPtr& output, const std::string& path,
                  const HeadFacts& head, std::string* reason) {
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
  c.with_sound = c.sound_wanted && head.has_sound;
  if (c.with_sound && !open_sound_track(c.sound, raw, reason)) return false;
  if (!(raw->oformat->flags & AVFMT_NOFILE) && avio_open(&raw->pb, name.c_str(), AVIO_FLAG_WRITE) < 0) {
    return fail(reason, "cannot write the MP4");
  }
  if (avformat_write_header(raw, nullptr) < 0 || io_failed(raw)) {
    return fail(reason, "cannot write the MP4");
  }
  return true;
}

const char* walk_failure(WalkEnd end) {
  switch (end) {
    case WalkEnd::cancelled: return kCancelledReason;
    case WalkEnd::failed: return "cannot read the recording";
    case WalkEnd::too_many_units: return "too many NAL units for the file's size";
    default: return nullptr;
  }
}

// The second pass: every item of the payload into the MP4.
bool write_samples(Conversion& c, const std::string& input_path, const ProgressCallback& progress,
                   const RemuxOptions& options, std::string* reason, int64_t start = 0) {
  PayloadReader reader;
  if (!open_payload_reader(reader, input_path, reason, start)) {
    close_payload_reader(reader);
    return false;
  }
  const WalkEnd end = walk_payload(
      reader, [&c](const StreamItem& item) { return handle_item(c, item); }, options.cancel,
      progress);
  close_payload_reader(reader);
  if (!c.failure.empty()) return fail(reason, c.failure.c_str());
  if (walk_failure(end)) return fail(reason, walk_failure(end));
  if (c.pictures == 0) return fail(reason, "no video frames");
  return true;
}

// Everything after the last item: the last picture, the rest of the sound,
// the trailer.
bool finish_conversion(Conversion& c, const RemuxOptions& options, RemuxResult& result) {
  std::string* reason = &result.reason;
  if (options.print_frame_rate && c.any_header) {
    double duration = 0;
    const int64_t seen = c.pictures + result.pictures_before_first_key + result.pictures_after_skipped;
    const double rate = rate_from_span(seen, c.first_header_ts, c.last_header_ts, &duration);
    report_frame_rate(rate, duration);
  }
  if (!finish_video(c)) return fail(reason, "cannot write the MP4");
  if (c.with_sound && !finish_sound_track(c.sound, c.output)) return fail(reason, "cannot write the MP4");
  if (!finish_output(c.output)) return fail(reason, "cannot write the MP4");
  result.pictures = c.pictures;
  result.mp4_has_sound = c.with_sound && c.sound.next >= 0;
  result.sound_left_out = result.recording_has_sound && !options.sound;
  return true;
}

// Starts the output from what the head of the recording told: the clock's
// origin is the first header's timestamp, else the first sound block's.
bool begin_output(Conversion& c, OutputContextPtr& output, const std::string& temporary,
                  const HeadFacts& head, const RemuxOptions& options, RemuxResult& result) {
  std::string* reason = &result.reason;
  if (head.sps.empty() || head.pps.empty()) return fail(reason, "no SPS or PPS");
  if (head.first_idr.empty()) return fail(reason, "no key frame");
  result.recording_has_sound = result.recording_has_sound || head.has_sound;
  c.result = &result;
  c.sound_wanted = options.sound;
  if (!start_output(c, output, temporary, head, reason)) return false;
  const uint32_t origin = head.has_header ? head.first_header_ts : head.first_sound_ts;
  c.clock = start_frame_clock(origin, starting_rate(head, options.print_frame_rate));
  return true;
}

// Reading the whole file first when its head cannot tell enough: the first
// pass learns the head (up to the first sound block, so without sound the
// whole file), the second writes.
bool convert_in_two_passes(const std::string& input_path, const std::string& temporary,
                           const ProgressCallback& progress, const RemuxOptions& options,
                           RemuxResult& result) {
  HeadFacts head;
  if (!read_head(input_path, head, options.cancel, &result.reason)) return false;
  Conversion c;
  OutputContextPtr output;
  if (!begin_output(c, output, temporary, head, options, result)) return false;
  if (!write_samples(c, input_path, progress, options, &result.reason)) return false;
  return finish_conversion(c, options, result);
}

// ---- one pass ------------------------------------------------------------

// What is held before the output can start, beyond which the head is taken
// as it is: no sound block so far means no sound (a later one makes the
// conversion start again, reading the file twice), and no parameter sets,
// key frame or picture header so far sends the conversion to two passes.
constexpr size_t kMaxHeldBytes = size_t{16} << 20;
// Pictures spanning this long on the camera's clock without a sound block
// mean a recording without sound: a camera's sound comes every few tens of
// milliseconds, before or after its picture.
constexpr uint32_t kSilentHeadMs = 5000;

// An item met before the output started, with a copy of its bytes.
struct HeldItem {
  StreamItem item;
  std::vector<uint8_t> bytes;
};

struct OnePass {
  HeadFacts head;
  std::deque<HeldItem> held;
  size_t held_bytes = 0;
  bool started = false;
  bool two_passes = false;  // the head could not tell enough
};

void hold_item(OnePass& p, const StreamItem& item) {
  HeldItem held{item, {}};
  if (item.data && (item.kind == StreamItem::unit || item.kind == StreamItem::sound_block)) {
    held.bytes.assign(item.data, item.data + item.size);
  }
  p.held_bytes += held.bytes.size() + sizeof(HeldItem);
  p.held.push_back(std::move(held));
}

enum class HeadDecision { wait, start, two_passes };

// The output can start once it knows the parameter sets, the first key
// frame, a picture header and whether the recording has sound: a block met,
// none wanted, or none in the first 16 MB or five seconds of pictures.
HeadDecision decide_on_head(const OnePass& p, bool sound_wanted) {
  const HeadFacts& h = p.head;
  const bool video_known = !h.sps.empty() && !h.pps.empty() && !h.first_idr.empty() && h.has_header;
  const bool held_enough = p.held_bytes > kMaxHeldBytes;
  if (!video_known) return held_enough ? HeadDecision::two_passes : HeadDecision::wait;
  const bool silent_long_enough = h.last_header_ts - h.first_header_ts >= kSilentHeadMs;
  if (h.has_sound || !sound_wanted || held_enough || silent_long_enough) return HeadDecision::start;
  return HeadDecision::wait;
}

// Starts the output and writes what was held.
bool start_from_head(OnePass& p, Conversion& c, OutputContextPtr& output,
                     const std::string& temporary, const RemuxOptions& options,
                     RemuxResult& result) {
  if (!begin_output(c, output, temporary, p.head, options, result)) return false;
  p.started = true;
  for (HeldItem& held : p.held) {
    if (!held.bytes.empty()) held.item.data = held.bytes.data();
    if (!handle_item(c, held.item)) return false;
  }
  p.held.clear();
  p.held_bytes = 0;
  return true;
}

enum class PassEnd { done, failed, two_passes };

// One reading of the file: the head is held until the output can start,
// then everything streams into it.
PassEnd convert_in_one_pass(const std::string& input_path, const std::string& temporary,
                            const ProgressCallback& progress, const RemuxOptions& options,
                            RemuxResult& result) {
  std::string* reason = &result.reason;
  OnePass p;
  Conversion c;
  c.result = &result;
  c.sound_wanted = options.sound;
  OutputContextPtr output;
  // Nothing is reported before the output starts (a recording whose head
  // fails has made no progress); what the walk reached meanwhile is reported
  // when it does.
  float withheld = -1;
  std::function<void(float)> reported;
  if (progress) {
    reported = [&](float fraction) {
      if (p.started) {
        progress(fraction);
      } else {
        withheld = fraction;
      }
    };
  }
  const auto start_reporting = [&] {
    if (progress && withheld >= 0) progress(withheld);
    withheld = -1;
  };
  bool start_failed = false;
  const StreamVisitor visit = [&](const StreamItem& item) {
    if (p.started) return handle_item(c, item);
    note_head_item(p.head, item);
    hold_item(p, item);
    switch (decide_on_head(p, options.sound)) {
      case HeadDecision::wait: return true;
      case HeadDecision::two_passes: p.two_passes = true; return false;
      case HeadDecision::start: break;
    }
    start_failed = !start_from_head(p, c, output, temporary, options, result);
    if (!start_failed) start_reporting();
    return !start_failed;
  };
  PayloadReader reader;
  if (!open_payload_reader(reader, input_path, reason)) return PassEnd::failed;
  const WalkEnd end = walk_payload(reader, visit, options.cancel, reported);
  close_payload_reader(reader);
  if (p.two_passes || c.late_sound) return PassEnd::two_passes;
  if (start_failed) return PassEnd::failed;
  if (!c.failure.empty()) return fail(reason, c.failure.c_str()), PassEnd::failed;
  if (walk_failure(end)) return fail(reason, walk_failure(end)), PassEnd::failed;
  // A short recording was held whole: the head is all of it.
  if (!p.started) {
    if (!start_from_head(p, c, output, temporary, options, result)) return PassEnd::failed;
    start_reporting();
  }
  if (!c.failure.empty()) return fail(reason, c.failure.c_str()), PassEnd::failed;
  if (c.pictures == 0) return fail(reason, "no video frames"), PassEnd::failed;
  return finish_conversion(c, options, result) ? PassEnd::done : PassEnd::failed;
}

bool convert_stream(const std::string& input_path, const std::string& temporary,
                    const ProgressCallback& progress, const RemuxOptions& options,
                    RemuxResult& result) {
  // A second reading starts its fractions again: they are passed on only
  // once they pass the highest the first one reported.
  float highest = 0;
  ProgressCallback forward;
  if (progress) {
    forward = [&highest, &progress](float fraction) {
      if (fraction < highest) return;
      highest = fraction;
      progress(fraction);
    };
  }
  const PassEnd end = convert_in_one_pass(input_path, temporary, forward, options, result);
  result.readings = 1;
  if (end != PassEnd::two_passes) return end == PassEnd::done;
  result = RemuxResult{};
  result.readings = 2;
  return convert_in_two_passes(input_path, temporary, forward, options, result);
}

// ---- stretches ----------------------------------------------------------

// Seconds from `first` to `ts` on a camera's clock, which may pass 2^32 ms.
double seconds_after(uint32_t first, uint32_t ts) {
  return static_cast<int32_t>(ts - first) / 1000.0;
}

// What the first recording tells from `start` on, until everything is known
// or its headers pass `limit_s` after the first of them.
bool read_first_head(const std::string& path, int64_t start, double limit_s, HeadFacts& head,
                     const std::atomic<bool>* cancel, std::string* reason) {
  return walk_head(
      path, start,
      [&](const StreamItem& item) {
        const bool more = note_head_item(head, item);
        return more && !(item.kind == StreamItem::video_header &&
                         seconds_after(head.first_header_ts, item.timestamp) > limit_s);
      },
      cancel, reason);
}

// The first SPS and PPS from the recording's start, for a stretch whose own
// part has none (a camera that writes them only once).
bool read_parameter_sets(const std::string& path, HeadFacts& head, const std::atomic<bool>* cancel,
                         std::string* reason) {
  head.sps.clear();
  head.pps.clear();
  return walk_head(
      path, 0,
      [&](const StreamItem& item) {
        if (item.kind == StreamItem::unit && (item.type == 7 || item.type == 8)) {
          std::vector<uint8_t>& slot = item.type == 7 ? head.sps : head.pps;
          if (slot.empty()) slot.assign(item.data, item.data + item.size);
        }
        return head.sps.empty() || head.pps.empty();
      },
      cancel, reason);
}

// Whether a following recording has sound before its headers pass `limit_s`
// after the first of them.
bool find_sound(const std::string& path, double limit_s, bool* found,
                const std::atomic<bool>* cancel, std::string* reason) {
  bool any_header = false;
  uint32_t first = 0;
  return walk_head(
      path, 0,
      [&](const StreamItem& item) {
        if (item.kind == StreamItem::sound_block) *found = true;
        if (item.kind == StreamItem::video_header) {
          if (!any_header) first = item.timestamp;
          any_header = true;
          if (seconds_after(first, item.timestamp) > limit_s) return false;
        }
        return !*found;
      },
      cancel, reason);
}

// The head of a stretch: parameter sets, first key picture and picture size
// from the first recording's part, and whether any sound lies in the stretch.
// *sets_from_start: the parameter sets came from the recording's start.
bool read_stretch_head(const std::vector<std::string>& inputs, const RemuxStretch& stretch,
                       HeadFacts& head, bool* sets_from_start, const std::atomic<bool>* cancel,
                       std::string* reason) {
  constexpr double kWhole = std::numeric_limits<double>::infinity();
  const bool ends = stretch.end_s >= 0;
  const double first_limit =
      ends && inputs.size() == 1 ? stretch.end_s - stretch.start_s + kSoundLagS : kWhole;
  if (!read_first_head(inputs[0], stretch.start_offset, first_limit, head, cancel, reason)) {
    return false;
  }
  *sets_from_start = head.sps.empty() || head.pps.empty();
  if (*sets_from_start && !read_parameter_sets(inputs[0], head, cancel, reason)) return false;
  if (head.sps.empty() || head.pps.empty()) return fail(reason, "no SPS or PPS");
  for (size_t i = 1; i < inputs.size() && !head.has_sound; ++i) {
    const double limit = ends && i + 1 == inputs.size() ? stretch.end_s + kSoundLagS : kWhole;
    if (!find_sound(inputs[i], limit, &head.has_sound, cancel, reason)) return false;
  }
  return true;
}

// Sound still waiting for a clock when its recording ended: that recording
// held no picture or header, so nothing says where the sound belongs.
void leave_out_waiting_sound(Conversion& c) {
  c.result->sound_samples_without_pictures += c.waiting_samples;
  c.waiting_for_origin.clear();
  c.waiting_samples = 0;
}

// The next recording of a stretch continues where the pictures so far end.
void continue_with_recording(Conversion& c, double stop_s) {
  leave_out_waiting_sound(c);
  if (!c.before_first_key) {
    const double last = c.building_open ? c.building_time : c.held_time;
    c.time_offset = -(last + 1.0 / clock_rate(c.clock));
  }
  c.clock = start_frame_clock(0, clock_rate(c.clock));
  c.origin_pending = true;
  c.stop_s = stop_s;
}

bool convert_stretch_stream(const std::vector<std::string>& inputs, const RemuxStretch& stretch,
                            const std::string& temporary, const ProgressCallback& progress,
                            const RemuxOptions& options, RemuxResult& result) {
  std::string* reason = &result.reason;
  if (inputs.empty()) return fail(reason, "no recording named");
  HeadFacts head;
  bool sets_from_start = false;
  if (!read_stretch_head(inputs, stretch, head, &sets_from_start, options.cancel, reason)) return false;
  if (head.first_idr.empty()) return fail(reason, "no key frame in the stretch");
  result.recording_has_sound = head.has_sound;
  result.sound_left_out = head.has_sound && !options.sound;
  Conversion c;
  c.result = &result;
  c.sound_wanted = options.sound;
  c.stretch_progress = &progress;
  c.planned_s = stretch.planned_s;
  OutputContextPtr output;
  if (!start_output(c, output, temporary, head, reason)) return false;
  if (sets_from_start) {
    // The key picture's sample carries the parameter sets it is decoded with.
    for (const std::vector<uint8_t>* set : {&head.sps, &head.pps}) {
      const StreamItem item{StreamItem::unit, set->data(), set->size(), set == &head.sps ? 7 : 8, 0, 0};
      add_unit(c, item);
    }
  }
  const uint32_t origin = head.has_header ? head.first_header_ts : head.first_sound_ts;
  c.clock = start_frame_clock(origin, starting_rate(head, false));
  constexpr double kNoEnd = std::numeric_limits<double>::infinity();
  const bool ends = stretch.end_s >= 0;
  c.stop_s = ends && inputs.size() == 1 ? stretch.end_s - stretch.start_s : kNoEnd;
  if (!write_samples(c, inputs[0], {}, options, reason, stretch.start_offset)) return false;
  for (size_t i = 1; i < inputs.size(); ++i) {
    continue_with_recording(c, ends && i + 1 == inputs.size() ? stretch.end_s : kNoEnd);
    if (!write_samples(c, inputs[i], {}, options, reason)) return false;
  }
  leave_out_waiting_sound(c);
  RemuxOptions finishing = options;
  finishing.print_frame_rate = false;  // a stretch's rate says nothing about its recordings
  return finish_conversion(c, finishing, result);
}

std::string plural(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Writes into a temporary beside `output_path` with `write`, then moves it
// over the output; none of the inputs may be the output.
RemuxResult convert_through_temporary(
    const std::vector<std::string>& inputs, const std::string& output_path,
    const ProgressCallback& progress,
    const std::function<bool(const std::string& temporary, RemuxResult&)>& write) {
  RemuxResult result;
  try {
    for (const std::string& input : inputs) {
      if (names_the_input(input, output_path)) {
        result.reason = "output would replace the input";
        return result;
      }
    }
    remove_stale_temporaries(folder_of(output_path).empty() ? "." : folder_of(output_path));
    TemporaryFile temporary;
    if (!create_temporary_beside(output_path, temporary)) {
      result.reason = kCannotWriteFolderReason;
      return result;
    }
    if (!write(temporary.path, result)) return result;
    std::error_code error;
    result.replaced_existing = std::filesystem::exists(file_system_path(output_path), error);
    std::filesystem::rename(file_system_path(temporary.path), file_system_path(output_path), error);
    if (error) {
      result.reason = "cannot replace the output file";
      return result;
    }
    temporary.path.clear();  // now the target: keep it
  } catch (const std::bad_alloc&) {
    result.reason = "out of memory";
    return result;
  } catch (const std::system_error&) {
    result.reason = "cannot start a reading thread";
    return result;
  }
  result.succeeded = true;
  if (progress) progress(1.0f);
  return result;
}

}  // namespace

RemuxResult convert_to_mp4(const std::string& input_path, const std::string& output_path,
                           const ProgressCallback& progress, const RemuxOptions& options) {
  return convert_through_temporary(
      {input_path}, output_path, progress, [&](const std::string& temporary, RemuxResult& result) {
        return convert_stream(input_path, temporary, progress, options, result);
      });
}

RemuxResult convert_stretch_to_mp4(const std::vector<std::string>& inputs,
                                   const RemuxStretch& stretch, const std::string& output_path,
                                   const ProgressCallback& progress, const RemuxOptions& options) {
  return convert_through_temporary(
      inputs, output_path, progress, [&](const std::string& temporary, RemuxResult& result) {
        return convert_stretch_stream(inputs, stretch, temporary, progress, options, result);
      });
}

bool remux_recording(const std::string& input_path, const std::string& output_path,
                     const ProgressCallback& progress, const RemuxOptions& options,
                     std::string* reason) {
  const RemuxResult result = convert_to_mp4(input_path, output_path, progress, options);
  if (reason) *reason = result.reason;
  return result.succeeded;
}

bool remux_to_mp4(const std::string& input_path, const std::string& output_path,
                  ProgressCallback progress, bool print_frame_rate) {
  RemuxOptions options;
  options.print_frame_rate = print_frame_rate;
  return remux_recording(input_path, output_path, progress, options, nullptr);
}

std::string remux_notes(const RemuxResult& r) {
  std::vector<std::string> notes;
  if (r.replaced_existing) notes.push_back("replaced the existing file");
  if (r.sound_left_out) {
    notes.push_back("without its sound, as asked");
  } else if (r.recording_has_sound && !r.mp4_has_sound) {
    notes.push_back("all its sound lay before the first key frame");
  }
  if (r.pictures_before_first_key > 0) {
    notes.push_back(plural(r.pictures_before_first_key, "picture", "pictures") +
                    " before the first key frame left out");
  }
  if (!r.skipped.empty()) {
    int64_t bytes = 0;
    for (const SkippedStretch& s : r.skipped) bytes += s.size;
    notes.push_back("skipped " + plural(bytes, "byte", "bytes") + " without a start code at offset " +
                    std::to_string(r.skipped.front().offset + static_cast<int64_t>(kFileHeaderSize)) +
                    (r.skipped.size() > 1 ? " and " + plural(static_cast<int64_t>(r.skipped.size()) - 1,
                                                             "more place", "more places")
                                          : ""));
  }
  if (r.sound_samples_without_pictures > 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s",
                  static_cast<double>(r.sound_samples_without_pictures) / kSoundSampleRate);
    notes.push_back(std::string(seconds) + " of sound in a recording without pictures left out");
  }
  if (r.pictures_after_skipped > 0) {
    notes.push_back(plural(r.pictures_after_skipped, "picture", "pictures") +
                    " after it left out up to the next key frame");
  }
  std::string joined;
  for (const std::string& note : notes) joined += (joined.empty() ? "" : "; ") + note;
  return joined;
}

std::string remux_result_line(const std::string& input, const std::string& output,
                              const RemuxResult& result) {
  if (!result.succeeded && result.reason == kCancelledReason) return "CANCELLED  " + input + "\n";
  if (!result.succeeded) return "FAILED  " + input + ": " + result.reason + "\n";
  const std::string notes = remux_notes(result);
  return "OK  " + input + " -> " + output + (notes.empty() ? "" : "  (" + notes + ")") + "\n";
}

std::string mp4_output_path(const std::string& input_path) {
  const size_t name_start = input_path.find_last_of("/\\");
  const size_t dot = input_path.rfind('.');
  const bool dot_in_name = dot != std::string::npos &&
                           (name_start == std::string::npos || dot > name_start);
  return (dot_in_name ? input_path.substr(0, dot) : input_path) + ".mp4";
}
