#include "rtsp/media_clock.h"

namespace {

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

int64_t unwrap(const StreamClock& stream, uint32_t rtp) {
  return stream.extended + static_cast<int32_t>(rtp - stream.last_rtp);
}

double arrival_time(const StreamClock& stream, int64_t extended) {
  return stream.arrival_s + static_cast<double>(extended - stream.first_extended) / stream.rate;
}

double report_time(const StreamClock& stream, int64_t extended) {
  return stream.report_ntp_s + static_cast<double>(extended - stream.report_extended) / stream.rate;
}

}  // namespace

bool find_sender_report(const uint8_t* data, size_t size, SenderReport& report) {
  size_t at = 0;
  while (at + 4 <= size) {
    const uint8_t* packet = data + at;
    if ((packet[0] & 0xC0) != 0x80) return false;
    const size_t length = (size_t(packet[2]) << 8 | packet[3]) * 4 + 4;
    if (length > size - at) return false;
    if (packet[1] == 200 && length >= 28) {
      report.ssrc = be32(packet + 4);
      report.ntp = uint64_t(be32(packet + 8)) << 32 | be32(packet + 12);
      report.rtp_time = be32(packet + 16);
      return true;
    }
    at += length;
  }
  return false;
}

MediaClock make_media_clock(int video_rate, int sound_rate) {
  MediaClock clock;
  clock.video.rate = video_rate > 0 ? video_rate : 90000;
  clock.sound.rate = sound_rate;
  return clock;
}

double media_time(MediaClock& clock, StreamClock& stream, uint32_t rtp, double now_s) {
  if (stream.rate <= 0) return now_s;
  if (!stream.started) {
    stream.started = true;
    stream.last_rtp = rtp;
    stream.extended = stream.first_extended = 0;
    stream.arrival_s = now_s;
  }
  const int64_t extended = unwrap(stream, rtp);
  stream.last_rtp = rtp;
  stream.extended = extended;
  if (clock.by_reports && stream.reported) return report_time(stream, extended) - clock.report_origin_s;
  return arrival_time(stream, extended);
}

void take_sender_report(MediaClock& clock, StreamClock& stream, const SenderReport& report) {
  if (!stream.started || stream.rate <= 0) return;
  stream.reported = true;
  stream.report_ntp_s = static_cast<double>(report.ntp >> 32) + static_cast<double>(report.ntp & 0xFFFFFFFFu) / 4294967296.0;
  stream.report_extended = unwrap(stream, report.rtp_time);
  if (clock.by_reports || !clock.video.reported || !clock.sound.reported) return;
  // From now on the reports place both streams; the pictures keep the times
  // they had, and the sound moves to where the sender put it against them.
  clock.by_reports = true;
  clock.report_origin_s = report_time(clock.video, clock.video.extended) - arrival_time(clock.video, clock.video.extended);
}
