#include "player/frame_stepper.h"

#include <SDL.h>

#include <cmath>

#include "media/nal_packet.h"
#include "media/unit_decoder.h"
#include "player/video_output.h"

namespace {

// A minimum kept whatever the budget, so a step back always finds the
// picture just decoded before the one it starts from.
constexpr size_t kMinKeptPictures = 4;

double now_ms() {
  return static_cast<double>(SDL_GetPerformanceCounter()) * 1000.0 /
         static_cast<double>(SDL_GetPerformanceFrequency());
}

int frame_count(const FrameStepper& st) { return static_cast<int>(st.frames->size()); }

bool ensure_codec(FrameStepper& st) {
  if (st.codec) return true;
  st.codec = open_h264_decoder(st.thread_count, st.split_pictures).codec;
  if (st.codec && !st.scratch) st.scratch.reset(av_frame_alloc());
  if (!st.scratch) st.codec.reset();
  return st.codec != nullptr;
}


// Drops kept pictures, the farthest from `focus` first, until the budget
// holds. Pictures after the focus count twice as far: steps go back more
// often than forward, which decoding serves anyway.
void keep_within_budget(FrameStepper& st, int focus) {
  while (st.kept_bytes > st.budget_bytes && st.kept.size() > kMinKeptPictures) {
    auto first = st.kept.begin();
    auto last = std::prev(st.kept.end());
    const int64_t below = int64_t{focus} - first->first;
    const int64_t above = 2 * (int64_t{last->first} - focus);
    auto victim = below > above ? first : last;
    st.kept_bytes -= victim->second.bytes;
    st.kept.erase(victim);
  }
}

void store(FrameStepper& st, int tag, FramePtr picture, int previous, int run_key, int focus) {
  auto found = st.kept.find(tag);
  if (found != st.kept.end()) {
    st.kept_bytes -= found->second.bytes;
    st.kept.erase(found);
  }
  KeptPicture kept;
  kept.bytes = picture_bytes(picture.get());
  kept.frame = std::move(picture);
  kept.previous = previous;
  kept.run_key = run_key;
  st.kept_bytes += kept.bytes;
  st.kept.emplace(tag, std::move(kept));
  keep_within_budget(st, focus);
}

// Keeps the picture in the scratch frame under its tag.
void keep_picture(FrameStepper& st, int focus) {
  AVFrame* f = st.scratch.get();
  const int tag = f->pts != AV_NOPTS_VALUE ? static_cast<int>(f->pts) : st.last_received + 1;
  FramePtr picture(av_frame_alloc());
  if (!picture) {
    av_frame_unref(f);
    return;
  }
  av_frame_move_ref(picture.get(), f);
  store(st, tag, std::move(picture), st.previous_in_run, st.run_key, focus);
  st.previous_in_run = tag;
  if (tag > st.last_received) st.last_received = tag;
  ++st.pictures_decoded;
}

void send_unit(FrameStepper& st, const NalUnit& unit, int64_t pts, int focus) {
  PacketPtr packet = make_nal_packet(unit.data, static_cast<size_t>(unit.size));
  if (!packet) return;
  packet->pts = pts;
  send_packet_taking_waiting_pictures(st.codec.get(), st.scratch.get(), packet.get(),
                                      [&] { keep_picture(st, focus); });
}

// Starts a run at key frame `key`: the decoder forgets everything, gets the
// parameter sets that stand before the key frame, and decoding goes on from it.
void restart_at(FrameStepper& st, int key) {
  avcodec_flush_buffers(st.codec.get());
  const std::vector<NalUnit>& units = *st.units;
  const int64_t u = (*st.frames)[static_cast<size_t>(key)];
  const ParameterSets sets = find_parameter_sets_before(units, u);
  if (sets.sps >= 0 && sets.pps >= 0) {
    send_unit(st, units[static_cast<size_t>(sets.sps)], AV_NOPTS_VALUE, key);
    send_unit(st, units[static_cast<size_t>(sets.pps)], AV_NOPTS_VALUE, key);
  }
  st.running = true;
  st.drained = false;
  st.run_key = key;
  st.next_unit = static_cast<uint64_t>(u);
  st.next_frame = key;
  st.last_received = key - 1;
  st.previous_in_run = -1;
  st.finished_key = st.finished_until = -1;
}

void decode_next_unit(FrameStepper& st, int focus) {
  const NalUnit& unit = (*st.units)[st.next_unit++];
  if (!is_decoded_unit_type(unit.type) || unit.size <= 0) return;
  const bool slice = is_slice_type(unit.type);
  send_unit(st, unit, slice ? st.next_frame : AV_NOPTS_VALUE, focus);
  if (slice) ++st.next_frame;
  if (slice && avcodec_receive_frame(st.codec.get(), st.scratch.get()) == 0) keep_picture(st, focus);
}

void drain(FrameStepper& st, int focus) {
  send_packet_taking_waiting_pictures(st.codec.get(), st.scratch.get(), nullptr,
                                      [&] { keep_picture(st, focus); });
  while (avcodec_receive_frame(st.codec.get(), st.scratch.get()) == 0) keep_picture(st, focus);
  st.drained = true;
}

// The key frame a picture before frame `frame` is decoded from.
int key_for(const FrameStepper& st, int frame) {
  return find_seek_frame(*st.units, *st.frames, frame);
}

// The kept picture that is the first at or after `frame`, when it is known to be.
const KeptPicture* known_first_from(const FrameStepper& st, int frame, int* tag) {
  auto it = st.kept.lower_bound(frame);
  if (it == st.kept.end()) return nullptr;
  const KeptPicture& k = it->second;
  const bool nothing_between = k.previous >= 0 ? k.previous < frame : k.run_key <= frame;
  if (!nothing_between) return nullptr;
  *tag = it->first;
  return &k;
}

// The kept picture just before the one tagged `tag`, when it is known.
const KeptPicture* known_before(const FrameStepper& st, int tag, int* tag_before) {
  auto it = st.kept.find(tag);
  if (it == st.kept.end() || it->second.previous < 0) return nullptr;
  auto before = st.kept.find(it->second.previous);
  if (before == st.kept.end()) return nullptr;
  *tag_before = before->first;
  return &before->second;
}

// Decodes from key frame `key` until `ready` holds, or a picture tagged
// `until` or later came out, or the units ran out. The current run goes on
// when it already passed that key frame and has not gone past `until`;
// otherwise decoding starts again at the key frame. A run that finished
// without making `ready` true is not repeated for the same request. Stops
// early at `deadline_ms` (negative: none); true when finished.
template <typename Ready>
bool decode_from_key_until(FrameStepper& st, int key, int until, double deadline_ms, Ready ready) {
  if (ready()) return true;
  if (st.running && st.finished_key == key && st.finished_until == until) return true;
  if (!ensure_codec(st)) return true;
  const bool can_go_on = st.running && !st.drained && st.run_key <= key && st.next_frame >= key &&
                         st.last_received < until;
  if (!can_go_on) restart_at(st, key);
  while (!ready() && st.last_received < until && !st.drained) {
    if (deadline_ms >= 0 && now_ms() >= deadline_ms) return false;
    if (st.next_unit < st.units->size()) {
      decode_next_unit(st, until);
    } else {
      drain(st, until);
    }
  }
  st.finished_key = key;
  st.finished_until = until;
  return true;
}

}  // namespace

int find_seek_frame(const std::vector<NalUnit>& units, const std::vector<int64_t>& frames,
                    int target) {
  const int count = static_cast<int>(frames.size());
  if (count == 0) return 0;
  int k = target < 0 ? 0 : (target >= count ? count - 1 : target);
  const auto unit_of = [&](int frame) -> const NalUnit& {
    return units[static_cast<size_t>(frames[static_cast<size_t>(frame)])];
  };
  for (; k >= 0; --k) {
    if (unit_of(k).type != 5) continue;
    // A key frame cut into slices starts at its first slice (the one whose
    // first macroblock is 0, its first bit set): decoding from a later slice
    // would lose the part of the picture before it.
    while (k > 0 && unit_of(k).size >= 2 && !(unit_of(k).data[1] & 0x80) && unit_of(k - 1).type == 5) --k;
    return k;
  }
  return 0;
}

ParameterSets find_parameter_sets_before(const std::vector<NalUnit>& units, int64_t u) {
  ParameterSets found;
  for (int64_t i = u - 1; i >= 0; --i) {
    const int type = units[static_cast<size_t>(i)].type;
    if (type == 7 && found.sps < 0) found.sps = i;
    if (type == 8 && found.pps < 0) found.pps = i;
    if (found.sps >= 0 && found.pps >= 0) return found;
  }
  return ParameterSets{};
}

size_t picture_bytes(const AVFrame* picture) {
  size_t bytes = 0;
  for (const AVBufferRef* buf : picture->buf)
    if (buf) bytes += buf->size;
  return bytes;
}

void attach_stepper(FrameStepper& stepper, const std::vector<NalUnit>& units,
                    const std::vector<int64_t>& frames, bool split_pictures) {
  reset_stepper(stepper);
  stepper.units = &units;
  stepper.frames = &frames;
  stepper.split_pictures = split_pictures;
}

void reset_stepper(FrameStepper& stepper) {
  stepper.kept.clear();
  stepper.kept_bytes = 0;
  stepper.codec.reset();
  stepper.scratch.reset();
  stepper.running = false;
  stepper.drained = false;
  stepper.run_key = -1;
  stepper.last_received = -1;
  stepper.previous_in_run = -1;
}

const AVFrame* stepper_picture_from(FrameStepper& st, int frame, int* tag) {
  if (!st.frames || frame < 0 || frame >= frame_count(st)) return nullptr;
  decode_from_key_until(st, key_for(st, frame), frame, -1,
                        [&] { return known_first_from(st, frame, tag) != nullptr; });
  const KeptPicture* k = known_first_from(st, frame, tag);
  return k ? k->frame.get() : nullptr;
}

const AVFrame* stepper_picture_before(FrameStepper& st, int tag, int* tag_before) {
  if (!st.frames || tag <= 0) return nullptr;
  const int key = key_for(st, tag - 1);
  decode_from_key_until(st, key, tag, -1,
                        [&] { return known_before(st, tag, tag_before) != nullptr; });
  if (const KeptPicture* k = known_before(st, tag, tag_before)) return k->frame.get();
  // The picture `tag` itself did not come out again (it cannot be decoded
  // from here): the last one before it that did.
  auto it = st.kept.lower_bound(tag);
  if (it == st.kept.begin()) return nullptr;
  --it;
  if (it->first < key || it->second.run_key != st.run_key) return nullptr;
  *tag_before = it->first;
  return it->second.frame.get();
}

bool stepper_prepare_before(FrameStepper& st, int tag, double budget_ms) {
  if (!st.frames || tag <= 0) return true;
  int ignored = 0;
  return decode_from_key_until(st, key_for(st, tag - 1), tag, now_ms() + budget_ms,
                               [&] { return known_before(st, tag, &ignored) != nullptr; });
}

bool stepper_decode_ahead(FrameStepper& st, int tag, double budget_ms) {
  if (!st.frames || tag <= 0) return true;
  // The lowest picture reached from `tag` through known predecessors.
  int lowest = tag;
  for (auto it = st.kept.find(lowest); it != st.kept.end() && it->second.previous >= 0;
       it = st.kept.find(lowest)) {
    if (st.kept.find(it->second.previous) == st.kept.end()) break;
    lowest = it->second.previous;
  }
  if (lowest != tag && lowest <= key_for(st, tag)) return true;  // the group is complete
  return stepper_prepare_before(st, lowest, budget_ms);
}

void stepper_adopt(FrameStepper& st, int tag, FramePtr picture, int previous) {
  if (!picture || tag < 0) return;
  store(st, tag, std::move(picture), previous, previous >= 0 ? -1 : kUnknownRun, tag);
}
