#include "convert/sound_track.h"

#include <cmath>
#include <system_error>

extern "C" {
#include <libavutil/opt.h>
}

#include "recording/alaw.h"
#include "recording/frame_clock.h"

namespace {

// Blocks up to 20 ms off their predecessor's end follow on: the camera stamps
// whole milliseconds, and cutting or padding a few samples per block clicks.
constexpr int64_t kToleranceSamples = kSoundRate / 50;
// A block further off than the pictures may step is stamped by a clock that
// jumped (a block can come just before the picture that shows the jump): it
// follows on instead of opening minutes of silence or being cut away.
constexpr int64_t kMaxGapSamples = static_cast<int64_t>(kSoundRate * kMaxPictureGapS);

// Moves every packet the encoder has ready into the queue for the writer.
bool queue_encoded_packets(SoundTrack& t) {
  for (;;) {
    const int rc = avcodec_receive_packet(t.encoder.get(), t.packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    PacketPtr ready(av_packet_alloc());
    if (!ready) return false;
    av_packet_move_ref(ready.get(), t.packet.get());
    std::lock_guard<std::mutex> lock(t.mutex);
    t.encoded.push_back(std::move(ready));
  }
}

// Sends `count` pending samples (a whole frame, or the short last one).
bool encode_pending(SoundTrack& t, int count) {
  AVFrame* f = t.frame.get();
  if (av_frame_make_writable(f) < 0) return false;
  f->nb_samples = count;
  auto* out = reinterpret_cast<float*>(f->data[0]);
  std::copy(t.pending.begin(), t.pending.begin() + count, out);
  f->pts = t.encoded_until;
  t.pending.erase(t.pending.begin(), t.pending.begin() + count);
  t.encoded_until += count;
  if (avcodec_send_frame(t.encoder.get(), f) < 0) return false;
  return queue_encoded_packets(t);
}

bool encode_input(SoundTrack& t, const SoundInput& input) {
  t.pending.insert(t.pending.end(), static_cast<size_t>(input.silence), 0.0f);
  for (uint8_t code : input.alaw) t.pending.push_back(decode_alaw(code) / 32768.0f);
  const int frame_size = t.encoder->frame_size;
  while (static_cast<int>(t.pending.size()) >= frame_size) {
    if (!encode_pending(t, frame_size)) return false;
  }
  return true;
}

// Encodes what is left and drains the encoder.
bool encode_rest(SoundTrack& t) {
  if (!t.pending.empty()) {
    // The encoder takes a short last frame only when it says so; else pad it.
    int count = static_cast<int>(t.pending.size());
    if (!(t.encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
      t.pending.resize(static_cast<size_t>(t.encoder->frame_size), 0.0f);
      count = t.encoder->frame_size;
    }
    if (!encode_pending(t, count)) return false;
  }
  if (avcodec_send_frame(t.encoder.get(), nullptr) < 0) return false;
  return queue_encoded_packets(t);
}

// The encoding thread: takes placed blocks until told to finish. After a
// failure it goes on taking them (so the copying thread never waits on it)
// without encoding.
void encoding_loop(SoundTrack& t) {
  bool ok = true;
  for (;;) {
    SoundInput input;
    {
      std::unique_lock<std::mutex> lock(t.mutex);
      t.wakes.wait(lock, [&t] { return !t.inputs.empty() || t.finishing; });
      if (t.inputs.empty()) break;
      input = std::move(t.inputs.front());
      t.inputs.pop_front();
      t.backlog -= static_cast<size_t>(input.silence) + input.alaw.size();
    }
    t.wakes.notify_all();
    if (ok && !encode_input(t, input)) {
      ok = false;
      std::lock_guard<std::mutex> lock(t.mutex);
      t.failed = true;
    }
  }
  if (ok && !encode_rest(t)) ok = false;
  std::lock_guard<std::mutex> lock(t.mutex);
  if (!ok) t.failed = true;
}

// Writes the packets the encoder has finished (on the caller's thread: the
// muxer is not shared). False when one cannot be written or the encoder failed.
bool write_encoded_packets(SoundTrack& t, AVFormatContext* output) {
  std::deque<PacketPtr> ready;
  bool failed = false;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    ready.swap(t.encoded);
    failed = t.failed;
  }
  for (PacketPtr& packet : ready) {
    av_packet_rescale_ts(packet.get(), t.encoder_time_base, t.stream->time_base);
    packet->stream_index = t.stream->index;
    if (av_interleaved_write_frame(output, packet.get()) < 0) return false;
  }
  return !failed;
}

void stop_encoding(SoundTrack& t) {
  if (!t.worker.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    t.finishing = true;
  }
  t.wakes.notify_all();
  t.worker.join();
}

}  // namespace

SoundPlacement place_sound_block(double time_s, int64_t count, int64_t next, int64_t tolerance,
                                 int64_t max_gap) {
  SoundPlacement p;
  const auto at = static_cast<int64_t>(std::llround(time_s * kSoundRate));
  if (next < 0) {
    p.skip = at < 0 ? std::min(count, -at) : 0;
    p.start = at < 0 ? 0 : at;
    return p;
  }
  const int64_t gap = at - next;
  p.start = next;
  if (gap > tolerance && gap <= max_gap) {
    p.silence = gap;
  } else if (gap < -tolerance && gap >= -max_gap) {
    p.skip = std::min(count, -gap);
  }
  return p;
}

bool open_sound_track(SoundTrack& t, AVFormatContext* output, std::string* reason) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec) return *reason = "no AAC encoder", false;
  t.encoder.reset(avcodec_alloc_context3(codec));
  t.frame.reset(av_frame_alloc());
  t.packet.reset(av_packet_alloc());
  if (!t.encoder || !t.frame || !t.packet) return *reason = "out of memory", false;
  AVCodecContext* c = t.encoder.get();
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->sample_rate = kSoundRate;
  av_channel_layout_default(&c->ch_layout, 1);
  c->bit_rate = kSoundBitRate;
  c->profile = FF_PROFILE_AAC_LOW;
  c->time_base = AVRational{1, kSoundRate};
  // The fast coder encodes speech at 8 kHz about as well, several times sooner.
  av_opt_set(c->priv_data, "aac_coder", "fast", 0);
  if (output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(c, codec, nullptr) < 0) return *reason = "cannot open the AAC encoder", false;
  t.stream = avformat_new_stream(output, nullptr);
  if (!t.stream || avcodec_parameters_from_context(t.stream->codecpar, c) < 0) {
    return *reason = "cannot add the sound track", false;
  }
  t.stream->time_base = c->time_base;
  t.encoder_time_base = c->time_base;
  AVFrame* f = t.frame.get();
  f->format = c->sample_fmt;
  f->sample_rate = c->sample_rate;
  f->nb_samples = c->frame_size;
  if (av_channel_layout_copy(&f->ch_layout, &c->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0) {
    return *reason = "out of memory", false;
  }
  try {
    t.worker = std::thread(encoding_loop, std::ref(t));
  } catch (const std::system_error&) {
    return *reason = "cannot start the sound encoder", false;
  }
  return true;
}

bool add_sound_block(SoundTrack& t, AVFormatContext* output, const uint8_t* alaw, int64_t count,
                     double time_s) {
  const SoundPlacement p =
      place_sound_block(time_s, count, t.next, kToleranceSamples, kMaxGapSamples);
  if (p.skip >= count) return write_encoded_packets(t, output);
  SoundInput input;
  input.silence = p.silence;
  input.alaw.assign(alaw + p.skip, alaw + count);
  const size_t samples = static_cast<size_t>(input.silence) + input.alaw.size();
  {
    std::unique_lock<std::mutex> lock(t.mutex);
    if (t.next < 0) t.encoded_until = p.start;  // read by the encoder after it takes this block
    t.wakes.wait(lock, [&t] { return t.backlog < kMaxSoundBacklog || t.failed; });
    t.inputs.push_back(std::move(input));
    t.backlog += samples;
  }
  t.wakes.notify_all();
  t.next = p.start + p.silence + (count - p.skip);
  return write_encoded_packets(t, output);
}

bool finish_sound_track(SoundTrack& t, AVFormatContext* output) {
  stop_encoding(t);
  return write_encoded_packets(t, output);
}

SoundTrack::~SoundTrack() { stop_encoding(*this); }
