#include "player/decoding_thread.h"

#include <system_error>

#include "media/nal_packet.h"
#include "player/video_output.h"

namespace {

// The decoding thread's own position; only it touches this.
struct DecoderCursor {
  uint64_t unit = 0;
  int next_frame = 0;       // frame-list index of the next slice
  uint64_t generation = 0;  // the seek this work belongs to
  bool ended = false;       // drained: waits for a seek or the stop
  bool key_frames_only = false;
  int last_index = -1;      // tag of the last picture, for pictures without one
  int show_from = -1;       // pictures tagged before it are not queued
};

enum class Work { stop, seek, unit, drain };

// Waits until there is work: the stop, a seek (taken into `seek`), the next
// unit (copied into `unit`: the list may grow meanwhile) or, at the end of
// a complete list, the drain.
Work wait_for_work(DecodingThread& dt, DecoderCursor& cursor, DecoderSeek& seek, NalUnit& unit) {
  std::unique_lock<std::mutex> lock(dt.mutex);
  dt.decoder_wakes.wait(lock, [&] {
    return dt.stop || dt.seek_pending ||
           (!cursor.ended && (cursor.unit < dt.units.size() || dt.units_complete));
  });
  if (dt.stop) return Work::stop;
  if (dt.seek_pending) {
    seek = dt.seek;
    dt.seek_pending = false;
    cursor.generation = dt.generation;
    return Work::seek;
  }
  if (cursor.unit < dt.units.size()) {
    unit = dt.units[cursor.unit];
    return Work::unit;
  }
  return Work::drain;
}

NalUnit unit_at(DecodingThread& dt, int64_t position) {
  std::lock_guard<std::mutex> lock(dt.mutex);
  return dt.units[static_cast<size_t>(position)];
}

void send_unit(DecodingThread& dt, const NalUnit& unit) {
  note_resident_read(dt.pages, unit.data, static_cast<size_t>(unit.size));
  PacketPtr packet = make_nal_packet(unit.data, static_cast<size_t>(unit.size));
  if (packet) avcodec_send_packet(dt.codec.get(), packet.get());
}

void apply_seek(DecodingThread& dt, DecoderCursor& cursor, const DecoderSeek& seek) {
  avcodec_flush_buffers(dt.codec.get());
  if (seek.sps >= 0 && seek.pps >= 0) {
    send_unit(dt, unit_at(dt, seek.sps));
    send_unit(dt, unit_at(dt, seek.pps));
  }
  cursor.unit = seek.unit;
  cursor.next_frame = seek.frame;
  cursor.ended = false;
  cursor.last_index = seek.frame - 1;
  cursor.show_from = seek.show_from;
  cursor.key_frames_only = false;
  dt.codec->skip_frame = AVDISCARD_DEFAULT;
  dt.key_frames_until.store(-1);
}

// Queues the picture in `frame` once there is room; a picture of an older
// seek, or one made while stopping, is thrown away.
void deliver_picture(DecodingThread& dt, DecoderCursor& cursor, AVFrame* frame, bool drained) {
  const int index = frame->pts != AV_NOPTS_VALUE ? static_cast<int>(frame->pts)
                                                 : cursor.last_index + 1;
  cursor.last_index = index;
  if (index < cursor.show_from) {
    av_frame_unref(frame);
    return;
  }
  FramePtr picture(av_frame_alloc());
  if (!picture) {
    av_frame_unref(frame);
    return;
  }
  av_frame_move_ref(picture.get(), frame);
  std::unique_lock<std::mutex> lock(dt.mutex);
  dt.decoder_wakes.wait(lock, [&] {
    return dt.stop || dt.generation != cursor.generation || dt.queue.size() < kPictureQueueCapacity;
  });
  if (dt.stop || dt.generation != cursor.generation) return;
  dt.queue.push_back(DecodedPicture{std::move(picture), index, drained});
  dt.player_wakes.notify_all();
}

// Key frames only from a request on, until the key frame it names: a group
// must start from its key frame, so full decoding resumes only at one.
void follow_key_frame_request(DecodingThread& dt, DecoderCursor& cursor, int type, int frame) {
  const int until = dt.key_frames_until.load();
  if (!cursor.key_frames_only && until >= 0) {
    cursor.key_frames_only = true;
    dt.codec->skip_frame = AVDISCARD_NONKEY;
  }
  if (cursor.key_frames_only && type == 5 && (until < 0 || frame >= until)) {
    cursor.key_frames_only = false;
    dt.codec->skip_frame = AVDISCARD_DEFAULT;
    int expected = until;
    dt.key_frames_until.compare_exchange_strong(expected, -1);
  }
}

void decode_next_unit(DecodingThread& dt, DecoderCursor& cursor, AVFrame* frame, const NalUnit& unit) {
  ++cursor.unit;
  if (!is_decoded_unit_type(unit.type) || unit.size <= 0) return;
  note_resident_read(dt.pages, unit.data, static_cast<size_t>(unit.size));
  const bool slice = is_slice_type(unit.type);
  const int index = slice ? cursor.next_frame++ : -1;
  if (slice) {
    follow_key_frame_request(dt, cursor, unit.type, index);
    std::lock_guard<std::mutex> lock(dt.mutex);
    ++dt.slices_sent;
    if (cursor.key_frames_only && unit.type != 5) ++dt.slices_skipped;
  }
  PacketPtr packet = make_nal_packet(unit.data, static_cast<size_t>(unit.size));
  if (packet) {
    packet->pts = slice ? index : AV_NOPTS_VALUE;
    send_packet_taking_waiting_pictures(dt.codec.get(), frame, packet.get(),
                                        [&] { deliver_picture(dt, cursor, frame, false); });
  }
  if (slice && avcodec_receive_frame(dt.codec.get(), frame) == 0) {
    deliver_picture(dt, cursor, frame, false);
  }
}

void drain_into_queue(DecodingThread& dt, DecoderCursor& cursor, AVFrame* frame) {
  send_packet_taking_waiting_pictures(dt.codec.get(), frame, nullptr,
                                      [&] { deliver_picture(dt, cursor, frame, true); });
  while (avcodec_receive_frame(dt.codec.get(), frame) == 0) deliver_picture(dt, cursor, frame, true);
  cursor.ended = true;
  std::lock_guard<std::mutex> lock(dt.mutex);
  if (dt.generation == cursor.generation) dt.end_queued = true;
  dt.player_wakes.notify_all();
}

void decoding_loop(DecodingThread& dt) {
  FramePtr frame(av_frame_alloc());
  DecoderCursor cursor;
  DecoderSeek seek;
  NalUnit unit{};
  while (frame) {
    const Work work = wait_for_work(dt, cursor, seek, unit);
    if (work == Work::stop) break;
    if (work == Work::seek) {
      apply_seek(dt, cursor, seek);
    } else if (work == Work::unit) {
      decode_next_unit(dt, cursor, frame.get(), unit);
    } else {
      drain_into_queue(dt, cursor, frame.get());
    }
  }
  release_resident_pages(dt.pages);
}

}  // namespace

bool start_decoding(DecodingThread& dt, CodecContextPtr codec, std::vector<NalUnit> units,
                    bool complete, const MappedFile* file) {
  dt.codec = std::move(codec);
  dt.units = std::move(units);
  dt.units_complete = complete;
  dt.pages = ResidentPages{};
  dt.pages.file = file;
  dt.stop = false;
  try {
    dt.thread = std::thread(decoding_loop, std::ref(dt));
  } catch (const std::system_error&) {
    dt.codec.reset();  // the system has no thread to spare: the playback ends with a reason
    return false;
  }
  return dt.thread.joinable();
}

bool decoding_started(const DecodingThread& dt) { return dt.thread.joinable(); }

void extend_decoding_units(DecodingThread& dt, const NalUnit* units, size_t count, bool complete) {
  {
    std::lock_guard<std::mutex> lock(dt.mutex);
    dt.units.insert(dt.units.end(), units, units + count);
    dt.units_complete = complete;
  }
  dt.decoder_wakes.notify_all();
}

void stop_decoding(DecodingThread& dt) {
  if (dt.thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(dt.mutex);
      dt.stop = true;
    }
    dt.decoder_wakes.notify_all();
    dt.thread.join();
  }
  dt.queue.clear();
  dt.codec.reset();
}

void request_seek(DecodingThread& dt, const DecoderSeek& seek) {
  if (!decoding_started(dt)) return;
  {
    std::lock_guard<std::mutex> lock(dt.mutex);
    dt.queue.clear();
    dt.end_queued = false;
    ++dt.generation;
    dt.seek = seek;
    dt.seek_pending = true;
    dt.key_frames_until.store(-1);
  }
  dt.decoder_wakes.notify_all();
}

QueueHead peek_queue(DecodingThread& dt) {
  QueueHead head;
  std::lock_guard<std::mutex> lock(dt.mutex);
  if (dt.queue.empty()) {
    head.ended = dt.end_queued;
    return head;
  }
  head.has_picture = true;
  head.frame_index = dt.queue.front().frame_index;
  head.newer_waiting = dt.queue.size() > 1;
  return head;
}

DecodedPicture take_picture(DecodingThread& dt) {
  DecodedPicture picture;
  {
    std::lock_guard<std::mutex> lock(dt.mutex);
    if (dt.queue.empty()) return picture;
    picture = std::move(dt.queue.front());
    dt.queue.pop_front();
  }
  dt.decoder_wakes.notify_all();
  return picture;
}

void wait_for_picture(DecodingThread& dt, int max_ms) {
  if (!decoding_started(dt)) return;
  std::unique_lock<std::mutex> lock(dt.mutex);
  dt.player_wakes.wait_for(lock, std::chrono::milliseconds(max_ms),
                           [&] { return !dt.queue.empty() || dt.end_queued; });
}

void request_key_frames_only(DecodingThread& dt, int frame) {
  int none = -1;
  dt.key_frames_until.compare_exchange_strong(none, frame < 0 ? 0 : frame);
}

void cancel_key_frames_only(DecodingThread& dt) { dt.key_frames_until.store(-1); }

DecodingCounts decoding_counts(DecodingThread& dt) {
  std::lock_guard<std::mutex> lock(dt.mutex);
  return DecodingCounts{dt.slices_sent, dt.slices_skipped};
}
