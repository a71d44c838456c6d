#include "rtsp/stream_receiver.h"

#include <algorithm>

#include "rtsp/transport_udp.h"

namespace {

constexpr int kVideoClockRate = 90000;

void take_report(StreamReceiver& receiver, StreamClock& stream, const uint8_t* data, size_t size) {
  SenderReport report;
  if (!find_sender_report(data, size, report)) return;
  take_sender_report(receiver.clock, stream, report);
  ++receiver.sender_reports;
}

bool receive_interleaved(RtspSession& session, StreamReceiver& receiver, const NalSinks& pictures,
                         const SoundUnitSink& sound) {
  InterleavedFrame& frame = receiver.frame;
  const bool got = read_interleaved_frame(session.socket, frame);
  if (!got) {
    if (!frame.skipped_message.empty()) ++receiver.skipped_messages;
    return !frame.skipped_message.empty();
  }
  ++receiver.frames;
  const int video = session.video_channel;
  const int sound_channel = session.sound_set_up ? session.sound_channel : -10;
  if (frame.channel == video) {
    depacketize_rtp(frame.data.data(), frame.data.size(), receiver.video, pictures);
  } else if (frame.channel == video + 1) {
    take_report(receiver, receiver.clock.video, frame.data.data(), frame.data.size());
  } else if (frame.channel == sound_channel) {
    depacketize_sound(frame.data.data(), frame.data.size(), receiver.sound, sound);
  } else if (frame.channel == sound_channel + 1) {
    take_report(receiver, receiver.clock.sound, frame.data.data(), frame.data.size());
  } else {
    ++receiver.other_channel_frames;
  }
  return true;
}

void take_udp_reports(StreamReceiver& receiver, const UdpTransport& udp, uint64_t& taken, StreamClock& stream) {
  if (udp.reports == taken) return;
  taken = udp.reports;
  take_sender_report(receiver.clock, stream, udp.last_report);
  ++receiver.sender_reports;
}

bool receive_udp(RtspSession& session, StreamReceiver& receiver, const NalSinks& pictures,
                 const SoundUnitSink& sound) {
  drain_control_answers(session);
  // The first wait ends by the stream time-out, or sooner where a window
  // waits at a gap (its packets are handed on once the wait is over).
  uint64_t wait = static_cast<uint64_t>(session.stream_timeout_ms > 0 ? session.stream_timeout_ms : 500);
  wait = std::min(wait, udp_wait_left_ms(session.udp));
  if (session.sound_set_up) wait = std::min(wait, udp_wait_left_ms(session.sound_udp));
  NetSocket* sockets[] = {&session.udp.rtp, &session.sound_udp.rtp};
  if (wait > 0) net_wait_any_readable(sockets, session.sound_set_up ? 2 : 1, static_cast<int>(wait));
  bool alive = receive_udp_packets(session.udp, false, udp_picture_sink(receiver.video, pictures));
  take_udp_reports(receiver, session.udp, receiver.video_reports_taken, receiver.clock.video);
  if (!session.sound_set_up) return alive;
  SoundDepacketizerState& state = receiver.sound;
  const RtpPacketSink sound_sink = [&state, &sound](const uint8_t* packet, size_t size, uint32_t lost) {
    if (lost > 0) note_sound_packet_loss(state);
    depacketize_sound(packet, size, state, sound);
  };
  alive = receive_udp_packets(session.sound_udp, false, sound_sink) || alive;
  take_udp_reports(receiver, session.sound_udp, receiver.sound_reports_taken, receiver.clock.sound);
  return alive;
}

}  // namespace

void start_receiving(StreamReceiver& receiver, RtspSession& session, uint32_t now_ms) {
  receiver.video = DepacketizerState{};
  receiver.video.codec = session.codec;
  receiver.sound = SoundDepacketizerState{};
  receiver.sound.sound = session.sound;
  receiver.clock = make_media_clock(kVideoClockRate, session.sound_set_up ? session.sound.clock_rate : 0);
  receiver.started_ms = net_now_ms();
  receiver.video_reports_taken = receiver.sound_reports_taken = 0;
  begin_streaming(session, now_ms);
  if (!session.over_udp) return;
  net_set_receive_timeout(session.udp.rtp, session.stream_timeout_ms);
  send_receiver_report(session.udp);
  if (session.sound_set_up) send_receiver_report(session.sound_udp);
}

double receiver_seconds(const StreamReceiver& receiver) {
  return static_cast<double>(net_now_ms() - receiver.started_ms) / 1000.0;
}

double picture_unit_time(StreamReceiver& receiver) {
  return media_time(receiver.clock, receiver.clock.video, receiver.video.unit_timestamp, receiver_seconds(receiver));
}

double sound_unit_time(StreamReceiver& receiver, uint32_t rtp_time) {
  return media_time(receiver.clock, receiver.clock.sound, rtp_time, receiver_seconds(receiver));
}

bool receive_stream_turn(RtspSession& session, StreamReceiver& receiver, const NalSinks& pictures,
                         const SoundUnitSink& sound) {
  return session.over_udp ? receive_udp(session, receiver, pictures, sound)
                          : receive_interleaved(session, receiver, pictures, sound);
}
