// One clock for a session's picture and sound: RTP times of each stream (on
// their own clock rates, from their own random starts) turned into seconds on
// a common media clock. Until both streams have had an RTCP sender report,
// each stream's first packet is taken to have been sent when it arrived; once
// both have, the reports' wall-clock times place the streams against each
// other, as the sender put them. Pure: the caller gives the receive times.
#pragma once

#include <cstddef>
#include <cstdint>

// What an RTCP sender report ties together: the sender's wall clock (NTP
// format, seconds since 1900 in the high 32 bits) and the RTP time of the
// same instant.
struct SenderReport {
  uint32_t ssrc = 0;
  uint64_t ntp = 0;
  uint32_t rtp_time = 0;
};

// Finds the first sender report (packet type 200) in an RTCP compound packet;
// false when there is none or the packets do not read.
bool find_sender_report(const uint8_t* data, size_t size, SenderReport& report);

// One stream's RTP times, unwrapped to 64 bits.
struct StreamClock {
  int rate = 0;  // RTP clock rate (90000 for pictures, the sample rate for sound)
  bool started = false;
  uint32_t last_rtp = 0;
  int64_t extended = 0;        // last_rtp unwrapped
  int64_t first_extended = 0;  // of the first packet
  double arrival_s = 0;        // receive time of the first packet
  bool reported = false;
  double report_ntp_s = 0;     // the newest sender report's wall-clock time, in seconds
  int64_t report_extended = 0; // and its RTP time, unwrapped like the packets'
};

struct MediaClock {
  StreamClock video;
  StreamClock sound;
  bool by_reports = false;      // both streams reported: times come from the reports
  double report_origin_s = 0;   // the reports' wall-clock time that media time 0 stands for
};

// A clock for pictures at `video_rate` and sound at `sound_rate` (0: no sound).
MediaClock make_media_clock(int video_rate, int sound_rate);

// Media time in seconds of RTP time `rtp` of `stream` (one of the clock's
// two), received at `now_s` on the caller's clock (only the first packet's
// receive time is kept). Differences of up to 2^31 ticks either way from the
// last time seen are unwrapped.
double media_time(MediaClock& clock, StreamClock& stream, uint32_t rtp, double now_s);

// Takes a sender report of `stream` (ignored before the stream's first
// packet). Once both streams have one, later times come from the reports,
// the pictures' times going on without a jump.
void take_sender_report(MediaClock& clock, StreamClock& stream, const SenderReport& report);
