// Receiving a negotiated session's media: the pictures' and the sound's RTP
// over the session's transport (interleaved channels, or the two UDP port
// pairs waited on together), the RTCP sender reports of both, and the media
// clock that places pictures and sound on one time line. Used by the live
// session and the probe alike.
#pragma once

#include <cstdint>

#include "rtsp/depacketizer.h"
#include "rtsp/depacketizer_sound.h"
#include "rtsp/exchange.h"
#include "rtsp/interleaved.h"
#include "rtsp/media_clock.h"

struct StreamReceiver {
  DepacketizerState video;
  SoundDepacketizerState sound;
  MediaClock clock;
  InterleavedFrame frame;
  uint64_t started_ms = 0;  // receive times count from here (net_now_ms)
  uint64_t video_reports_taken = 0, sound_reports_taken = 0;  // over UDP
  // What came, for the probe.
  int frames = 0;                // interleaved frames
  int other_channel_frames = 0;  // on channels of no track
  int skipped_messages = 0;      // RTSP messages in the stream (keep-alive answers)
  int sender_reports = 0;
};

// Prepares to receive on a session just negotiated (or negotiated again):
// fresh depacketiser states for its codecs, a fresh clock, the streaming
// time-outs and, over UDP, the first receiver reports (which open the way
// through a NAT for the camera's packets).
void start_receiving(StreamReceiver& receiver, RtspSession& session, uint32_t now_ms);

// Seconds since start_receiving, on the steady clock.
double receiver_seconds(const StreamReceiver& receiver);

// Media time of the unit the picture sinks are given now.
double picture_unit_time(StreamReceiver& receiver);

// Media time of a sound unit of RTP time `rtp_time`.
double sound_unit_time(StreamReceiver& receiver, uint32_t rtp_time);

// One turn of receiving: waits at most the stream time-out (over UDP less
// while a reordering window waits at a gap) and hands on what came: picture
// units to `pictures` (read their times with picture_unit_time), sound units
// to `sound` (with their RTP times), sender reports to the clock. True when the
// camera sent something (over UDP only its own stream's packets count, and an
// RTSP message on the connection).
bool receive_stream_turn(RtspSession& session, StreamReceiver& receiver, const NalSinks& pictures,
                         const SoundUnitSink& sound);
