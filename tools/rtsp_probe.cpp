// rtsp_probe [--udp] [--record FILE] URL [seconds]: connects to a camera the
// way the live view does (asking for RTP over UDP first with --udp), receives
// for a few seconds (5 by default), decodes, and prints what came: the SDP,
// the codec, the transport, the control URL, the session, the NAL units by
// type, what was dropped or lost over UDP, the decoded pictures and their
// size, and the sound ("Sound: PCMA 8000 Hz, 40000 samples decoded"). Every
// picture the decoder gives is counted, also those completed by aggregated
// units, and the decoder is drained at the end. With --record the stream is
// also written to FILE as a recording in the camera's layout. Exit status 1 on
// "ERR" or "401", when no picture was decoded or the recording failed, 2 on
// bad usage.
// The decoder helpers come with SDL's header, whose main wrapper this
// console program does not use.
#define SDL_MAIN_HANDLED
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/program_info.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "media/av_handles.h"
#include "media/nal_packet.h"
#include "media/sound_decoder.h"
#include "media/unit_decoder.h"
#include "rtsp/depacketizer.h"
#include "rtsp/exchange.h"
#include "rtsp/live_recorder.h"
#include "rtsp/stream_receiver.h"
#include "rtsp/transport_udp.h"

namespace {

struct ProbeDecoder {
  CodecContextPtr context;
  FramePtr frame;
  int pictures = 0;
  int width = 0;
  int height = 0;
};

struct ProbeCounts {
  std::map<int, int> units_by_type;
  int sdp_parameter_sets = 0;
  int frames = 0;
  int other_channel_frames = 0;
  int skipped_messages = 0;
  int keep_alives = 0;
  int sender_reports = 0;
  uint32_t pictures_dropped = 0;  // over UDP: pictures that lost a packet, dropped whole
};

struct ProbeSound {
  SoundDecoder decoder;
  bool plays = false;
  std::string note;           // why there is no sound, when the stream has some
  uint64_t units = 0;
  uint64_t units_not_decoded = 0;  // the decoder refused them
  uint64_t samples = 0;       // per channel
  std::vector<int16_t> buffer;
};

uint32_t now_ms() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool open_decoder(ProbeDecoder& decoder, VideoCodec codec) {
  decoder.context = open_unit_decoder_for(codec, 2);
  decoder.frame.reset(av_frame_alloc());
  return decoder.context && decoder.frame;
}

void count_picture(ProbeDecoder& decoder) {
  if (decoder.pictures++ == 0) {
    decoder.width = decoder.frame->width;
    decoder.height = decoder.frame->height;
  }
}

// Takes every picture the decoder has ready.
void collect_pictures(ProbeDecoder& decoder) {
  if (!decoder.context || !decoder.frame) return;
  while (avcodec_receive_frame(decoder.context.get(), decoder.frame.get()) == 0) count_picture(decoder);
}

// Sends one unit (null: the end of the stream) and takes the pictures it
// completes; a picture waiting in the decoder is taken first when the
// decoder refuses the unit until then.
void send_unit(ProbeDecoder& decoder, const uint8_t* data, size_t size) {
  if (!decoder.context || !decoder.frame || (data && size == 0)) return;
  PacketPtr packet = data ? make_nal_packet(data, size) : nullptr;
  if (data && !packet) return;
  send_packet_taking_waiting_pictures(decoder.context.get(), decoder.frame.get(), packet.get(),
                                      [&decoder] { count_picture(decoder); });
  collect_pictures(decoder);
}

const char* h265_unit_name(int type) {
  if (type <= 9) return "slice";
  if (type >= 16 && type <= 21) return "IRAP slice";
  switch (type) {
    case 32: return "VPS";
    case 33: return "SPS";
    case 34: return "PPS";
    case 35: return "access unit delimiter";
    case 39: case 40: return "SEI";
    default: return "other";
  }
}

const char* unit_name(int type) {
  switch (type) {
    case 1: return "slice";
    case 5: return "IDR slice";
    case 6: return "SEI";
    case 7: return "SPS";
    case 8: return "PPS";
    case 9: return "access unit delimiter";
    default: return "other";
  }
}

// Counts the NAL units of what the depacketiser hands on: one unit (H.264),
// or an access unit whose units are joined by 00 00 00 01 (H.265).
void count_units(ProbeCounts& counts, VideoCodec codec, const uint8_t* data, size_t size) {
  if (codec != VideoCodec::h265) {
    ++counts.units_by_type[data[0] & 0x1F];
    return;
  }
  size_t start = 0;
  while (start + 1 < size) {
    ++counts.units_by_type[(data[start] >> 1) & 0x3F];
    size_t next = start;
    while (next + 4 <= size && !(data[next] == 0 && data[next + 1] == 0 && data[next + 2] == 0 && data[next + 3] == 1)) ++next;
    if (next + 4 > size) break;
    start = next + 4;
  }
}

void open_sound(const RtspSession& session, ProbeSound& sound) {
  sound.note = session.sound_note;
  if (!session.sound_set_up) return;
  std::string error;
  sound.plays = open_sound_decoder(sound.decoder, session.sound.codec, session.sound.clock_rate,
                                   session.sound.channels, session.sound.aac_config, error);
  if (!sound.plays) sound.note = error;
}

void take_sound(StreamReceiver& receiver, ProbeSound& sound, LiveRecorder& recorder, const uint8_t* unit,
                size_t size, uint32_t rtp_time) {
  if (!sound.plays) return;
  const double media_s = sound_unit_time(receiver, rtp_time);
  ++sound.units;
  sound.buffer.clear();
  const int frames = decode_sound_unit(sound.decoder, unit, size, sound.buffer);
  if (frames <= 0) {
    ++sound.units_not_decoded;
    return;
  }
  sound.samples += static_cast<uint64_t>(frames);
  const bool as_received =
      sound.decoder.codec == SoundCodec::pcma && sound.decoder.rate == 8000 && sound.decoder.channels == 1;
  recorder_take_sound(recorder, as_received ? unit : nullptr, as_received ? size : 0, sound.buffer.data(), frames,
                      sound.decoder.rate, sound.decoder.channels, media_s);
}

void stream(RtspSession& session, int seconds, ProbeDecoder& decoder, ProbeSound& sound, LiveRecorder& recorder,
            ProbeCounts& counts) {
  StreamReceiver receiver;
  const uint32_t start = now_ms();
  start_receiving(receiver, session, start);
  NalSinks sinks;
  // Units that complete a picture alone count as much as any other.
  sinks.feed_nal = [&](const uint8_t* data, size_t size) {
    count_units(counts, session.codec, data, size);
    if (session.codec == VideoCodec::h264)
      recorder_take_unit(recorder, data, size, receiver.video.unit_timestamp, picture_unit_time(receiver));
    send_unit(decoder, data, size);
  };
  sinks.decode_and_show = sinks.feed_nal;
  NalSinks sdp_sinks;
  sdp_sinks.feed_nal = [&](const uint8_t* data, size_t size) {
    recorder_take_parameter_set(recorder, data, size);
    send_unit(decoder, data, size);
  };
  counts.sdp_parameter_sets = feed_sdp_parameter_sets(session.sdp, sdp_sinks);
  const SoundUnitSink sound_sink = [&](const uint8_t* unit, size_t size, uint32_t rtp_time) {
    take_sound(receiver, sound, recorder, unit, size, rtp_time);
  };
  while (now_ms() - start < static_cast<uint32_t>(seconds) * 1000u && !session.socket.peer_closed) {
    if (keep_session_alive(session, now_ms())) ++counts.keep_alives;
    receive_stream_turn(session, receiver, sinks, sound_sink);
  }
  // The pictures the decoder still holds.
  send_unit(decoder, nullptr, 0);
  counts.pictures_dropped = receiver.video.pictures_dropped;
  counts.frames = receiver.frames;
  counts.other_channel_frames = receiver.other_channel_frames;
  counts.skipped_messages = receiver.skipped_messages;
  counts.sender_reports = receiver.sender_reports;
}

void print_udp_report(const UdpTransport& udp, const ProbeCounts& counts) {
  const UdpCounts& c = udp.counts;
  auto n = [](uint64_t value) { return static_cast<unsigned long long>(value); };
  std::printf("UDP receive buffer: %d bytes granted (%d asked)\n", udp.receive_buffer_bytes,
              kUdpReceiveBufferBytes);
  std::printf("UDP datagrams: %llu, RTP packets in order: %llu, lost: %llu\n", n(c.datagrams),
              n(c.packets), n(c.lost));
  std::printf("Dropped: %llu from strangers, %llu of another stream, %llu not RTP, %llu late or"
              " twice, %llu strangers on the RTCP port\n",
              n(c.foreign), n(c.other_ssrc), n(c.not_rtp), n(c.late_or_duplicate), n(c.rtcp_foreign));
  std::printf("Pictures dropped for a lost packet: %u\n", counts.pictures_dropped);
}

void print_report(const RtspSession& session, const ProbeCounts& counts,
                  const ProbeDecoder& decoder) {
  if (session.over_udp)
    print_udp_report(session.udp, counts);
  else
    std::printf("Frames received: %d (%d on other channels)\n", counts.frames,
                counts.other_channel_frames);
  std::printf("Parameter sets from the SDP: %d\n", counts.sdp_parameter_sets);
  std::printf("NAL units by type:\n");
  for (const auto& [type, count] : counts.units_by_type)
    std::printf("  type %d (%s): %d\n", type,
                session.codec == VideoCodec::h265 ? h265_unit_name(type) : unit_name(type), count);
  std::printf("Keep-alive requests: %d (%s), answers skipped in the stream: %d\n",
              counts.keep_alives, session.keep_alive_method.c_str(), counts.skipped_messages);
  std::printf("Connection closed by the server: %s\n", session.socket.peer_closed ? "yes" : "no");
  std::printf("Pictures decoded: %d\n", decoder.pictures);
  std::printf("Picture size: %dx%d\n", decoder.width, decoder.height);
  std::printf("Sender reports: %d\n", counts.sender_reports);
}

void print_sound(const RtspSession& session, const ProbeSound& sound) {
  if (sound.plays) {
    std::printf("Sound: %s %d Hz, %llu samples decoded\n", sound_codec_name(session.sound.codec),
                sound.decoder.rate, static_cast<unsigned long long>(sound.samples));
    if (sound.decoder.channels > 1) std::printf("Sound channels: %d\n", sound.decoder.channels);
    if (sound.units_not_decoded > 0)
      std::printf("Sound units: %llu, %llu not decoded\n", static_cast<unsigned long long>(sound.units),
                  static_cast<unsigned long long>(sound.units_not_decoded));
  } else if (!sound.note.empty()) {
    std::printf("Sound: none played (%s)\n", sound.note.c_str());
  } else {
    std::printf("Sound: none in the stream\n");
  }
}

// Prints what was recorded; false when the recording failed.
bool print_recording(const LiveRecorder& recorder) {
  for (const std::string& path : recorder.finished) std::printf("Recorded: %s\n", path.c_str());
  if (recorder.pictures_dropped > 0) {
    std::printf("ERR: recording: %lld pictures of more than %zu MiB left out\n",
                static_cast<long long>(recorder.pictures_dropped), kMaxRecordedPictureBytes >> 20);
    return false;
  }
  if (recorder.error.empty()) return true;
  std::printf("ERR: recording: %s\n", recorder.error.c_str());
  return false;
}

// Takes "--record FILE" or "--record=FILE" out of the arguments (before any
// "--"); false with `problem` when FILE is missing.
bool take_record_option(std::vector<std::string>& args, std::string& file, std::string& problem) {
  for (size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
    const bool joined = args[i].rfind("--record=", 0) == 0;
    if (!joined && args[i] != "--record") continue;
    const bool has_value = joined || i + 1 < args.size();
    file = joined ? args[i].substr(9) : has_value ? args[i + 1] : "";
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i + (joined ? 1 : 2)));
    if (file.empty()) problem = "--record needs a FILE";
    return problem.empty();
  }
  return true;
}

const char* authentication_name(const RtspSession& session) {
  if (session.digest.active)
    return session.digest.challenge.algorithm == DigestAlgorithm::sha256 ? "Digest (SHA-256)" : "Digest (MD5)";
  return session.authorization_line.empty() ? "none" : "Basic";
}

// Whole seconds from 0 to a day, or -1 for anything else.
int seconds_argument(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const int seconds = std::atoi(text.c_str());
  return seconds <= 86400 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  use_utf8_console_output();
  const char program[] = "rtsp_probe";
  const char usage[] =
      "Usage: rtsp_probe [--udp] [--record FILE] rtsp://[user:password@]host[:port]/path [SECONDS]\n"
      "Connects to a camera (media over the RTSP connection, or over UDP with\n"
      "--udp), decodes its live pictures and sound for the given seconds (5) and\n"
      "prints the exchange, the pictures' count and size and the sound's codec,\n"
      "rate and samples. --record FILE also writes what came to FILE as a .264\n"
      "recording in the camera's layout (sound as 8000 Hz A-law). An IPv6 host\n"
      "goes in brackets: rtsp://[fe80::2]:554/path.\n";
  std::vector<std::string> args = program_arguments(argc, argv);
  std::string record_file, record_problem;
  if (!take_record_option(args, record_file, record_problem)) return refuse_command_line(program, record_problem, usage);
  const CommandLine line = parse_command_line(args, {"--udp"});
  if (const auto status = early_exit_status(line, program, usage)) return *status;
  if (line.operands.empty() || line.operands.size() > 2) {
    const char* problem = line.operands.empty() ? "no address named" : "too many arguments";
    return refuse_command_line(program, problem, usage);
  }
  const int seconds = line.operands.size() == 2 ? seconds_argument(line.operands[1]) : 5;
  if (seconds < 0) return refuse_command_line(program, "SECONDS is a whole number up to 86400", usage);

  RtspSession session;
  session.prefer_udp = line.has("--udp");
  RtspOutcome outcome = open_rtsp_session(line.operands.front(), session);
  if (!outcome.ok) {
    std::printf("%s: %s\n", outcome.message.c_str(), outcome.reason.c_str());
    return 1;
  }
  std::printf("SDP:\n%s\n", session.sdp.c_str());
  std::printf("Codec: %s\n", session.codec_name.c_str());
  std::printf("Transport: %s\n", session.over_udp ? "RTP over UDP" : "RTP interleaved over TCP");
  std::printf("Control URL: %s\n", session.control_url.c_str());
  std::printf("Session: %s (time-out %d s)\n", session.session_id.c_str(),
              session.session_timeout_s);
  std::printf("Authentication: %s\n", authentication_name(session));

  ProbeDecoder decoder;
  if (!open_decoder(decoder, session.codec))
    std::printf("No %s decoder: pictures are not decoded\n", session.codec_name.c_str());
  ProbeSound sound;
  open_sound(session, sound);
  LiveRecorder recorder;
  if (!record_file.empty()) {
    LiveRecorderSettings settings;
    settings.path = record_file;
    if (session.codec != VideoCodec::h264) {
      std::printf("ERR: recording: only H.264 streams can be recorded (recordings hold H.264)\n");
      teardown_rtsp(session);
      return 1;
    }
    start_live_recording(recorder, settings);
  }
  ProbeCounts counts;
  stream(session, seconds, decoder, sound, recorder, counts);
  teardown_rtsp(session);
  stop_live_recording(recorder);
  print_report(session, counts, decoder);
  print_sound(session, sound);
  const bool recorded = print_recording(recorder);
  if (decoder.pictures == 0) {
    std::printf("ERR: no picture was decoded\n");
    return 1;
  }
  if (sound.units > 0 && sound.samples == 0) {
    std::printf("ERR: the sound came but none of it decoded\n");
    return 1;
  }
  return recorded ? 0 : 1;
}
