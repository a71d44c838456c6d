// Runs tests/support/rtsp_test_server.py (GStreamer's RTSP server) as a child
// process on a free loopback port, for tests that need a real camera-like server.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

struct RtspTestServerOptions {
  std::string mount = "/test";
  std::string user;            // empty: no authentication
  std::string password;
  bool digest = false;         // Digest instead of Basic authentication
  bool params_in_sdp_only = false;  // SPS/PPS only in the SDP, never in the stream
  int port = 0;                     // 0: a free port the system chooses
  std::string pattern = "smpte";    // videotestsrc pattern: "smpte" bars, "blue", ...
  std::string codec = "h264";       // "h264" (x264) or "h265" (x265)
  bool udp_only = false;            // refuse TCP interleaving (461), serve RTP over UDP
  std::string size = "320x240";     // picture size
  int bitrate_kbps = 0;             // x264's target bit rate; 0: its own (2048)
  bool aggregate = false;           // STAP-A for small units (aggregate-mode=zero-latency)
  std::string address = "127.0.0.1";  // where it listens; "::1" for IPv6
  int count = 0;                    // pictures to send before the media stops; 0: no end
  std::string sound;                // "pcma", "pcmu", "aac", "aac-latm", "g726"; empty: no sound
  bool sound_first = false;         // the sound track first in the SDP
  std::string file;                 // an MP4 whose H.264 is served instead of a test picture
};

// A running server; destroying it kills the process and removes its log.
struct RtspServerProcess {
  pid_t pid = -1;
  int port = 0;
  std::string address;  // as listened on
  std::string mount;
  std::string log_path;
  RtspServerProcess() = default;
  RtspServerProcess(const RtspServerProcess&) = delete;
  RtspServerProcess& operator=(const RtspServerProcess&) = delete;
  ~RtspServerProcess();
};

// Starts the server and waits until it accepts connections (at most ~10 s).
// Null on failure, with `error` holding why and the server's own output.
std::unique_ptr<RtspServerProcess> start_rtsp_test_server(const RtspTestServerOptions& options,
                                                          std::string& error);

// Makes the streams already playing stop sending media while requests are
// still answered (the server prints "SILENCED").
void silence_rtsp_test_server(const RtspServerProcess& server);

// "rtsp://" + credentials (if not empty) + "@" + address ("[::1]" for IPv6) + ":<port>" + mount.
std::string rtsp_test_server_url(const RtspServerProcess& server, const std::string& credentials = "");

// Everything the server printed so far ("PORT n", "REQUEST <METHOD>" lines, errors).
std::string rtsp_test_server_log(const RtspServerProcess& server);

// The pictures the server sent on the stream that ended last ("SENT n" in its
// log), or -1 while none has ended.
int rtsp_test_server_pictures_sent(const RtspServerProcess& server);

// Waits (at most `max_ms`) until the server's log holds `text`; true when it does.
bool wait_for_rtsp_test_server_log(const RtspServerProcess& server, const std::string& text,
                                   int max_ms = 5000);
