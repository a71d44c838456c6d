// The RTSP/1.0 control exchange: OPTIONS, DESCRIBE, SETUP (RTP interleaved on
// channels 0-1 of the same TCP connection, or RTP over UDP when the server
// refuses that), PLAY, keep-alive while streaming, and TEARDOWN. Requests are
// built from fixed texts; every answer's status line is read, and its head
// searched for a few headers.
//
// Typical use by a network worker (each wait is cut short by `cancel`; at most
// 5 s per read while negotiating, 500 ms while streaming):
//   RtspSession session;
//   session.cancel = &stop_flag;
//   RtspOutcome outcome = open_rtsp_session(typed_text, session);
//   if (!outcome.ok) { report outcome.message ("ERR" or "401") and the reason; return; }
//   decoder = open_unit_decoder_for(session.codec, 2);     // unit_decoder.h
//   state.codec = session.codec;
//   feed_sdp_parameter_sets(session.sdp, sinks);           // depacketizer.h
//   begin_streaming(session, now);
//   each turn: keep_session_alive(session, now);
//              over TCP: if (read_interleaved_frame(session.socket, frame))
//                          handle_interleaved_frame(frame, state, sinks);  // interleaved.h
//              over UDP: receive_udp_turn(session.udp, state, sinks);  // transport_udp.h
//   teardown_rtsp(session);
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <string>

#include "rtsp/address.h"
#include "rtsp/digest.h"
#include "rtsp/net_socket.h"
#include "rtsp/sdp.h"
#include "rtsp/transport_udp.h"

// Limits that keep a broken or hostile server from making the client grow without bound.
constexpr size_t kMaxResponseHeadBytes = 64 * 1024;
constexpr int32_t kMaxDescribeBodyBytes = 1024 * 1024;

struct RtspSession {
  NetSocket socket;                 // the RTSP (TCP) connection of the run
  int32_t cseq = 1;                 // next CSeq; every built request takes one
  std::string authorization_line;   // Basic credentials line, or empty
  std::string user;                 // percent-decoded credentials, for Digest answers
  std::string password;
  DigestAuth digest;                // once active, every request carries Digest instead of Basic
  std::string request_url;          // from the address; OPTIONS, DESCRIBE, PLAY, TEARDOWN go here
  std::string sdp;                  // body of the DESCRIBE answer, or empty
  std::string control_url;          // where SETUP went
  std::string session_id;           // value of the SETUP answer's "Session:" header
  VideoCodec codec = VideoCodec::h264;  // from the SDP's a=rtpmap
  std::string codec_name = "H264";      // as the SDP names it
  bool prefer_udp = false;          // ask for RTP over UDP first (TCP interleaved when refused)
  bool over_udp = false;            // the SETUP that worked asked for UDP
  UdpTransport udp;                 // the RTP and RTCP ports while over_udp
  int video_channel = 0;            // interleaved channel of the pictures' RTP (RTCP on the next)
  // The sound track: set up beside the pictures on the same transport when
  // the SDP has one in a codec that plays. Without it the pictures still show.
  bool want_sound = true;           // false: the sound track is not set up
  SdpSound sound;                   // from the SDP
  bool sound_set_up = false;        // its SETUP worked: sound arrives
  std::string sound_control_url;
  std::string sound_note;           // why there is no sound, when the SDP has some ("" otherwise)
  int sound_channel = 2;            // interleaved channel of the sound's RTP (RTCP on the next)
  UdpTransport sound_udp;           // its ports while over_udp
  // When set and true, every wait ends at once (the user left).
  const std::atomic<bool>* cancel = nullptr;
  // Time-outs of one receive, in ms; tests shorten them before connecting.
  int exchange_timeout_ms = 5000;
  int stream_timeout_ms = 500;
  int connect_timeout_ms = 5000;     // longest wait for the connection to be made
  // Keep-alive while streaming: servers drop a session that stays silent for
  // its time-out, so a request goes out at half of it.
  std::string keep_alive_method = "OPTIONS";  // "GET_PARAMETER" when the server offers it
  int32_t session_timeout_s = 60;             // the Session header's "timeout=", else 60
  uint32_t last_request_ms = 0;               // caller's clock when the last request went out
};

// The end of a step: ok, or the message the user is to see ("ERR" or "401")
// with a short reason in plain words for a console or a log.
struct RtspOutcome {
  bool ok = false;
  std::string message;
  std::string reason;
};

// The request text: request line, CSeq (then incremented), the authorization
// line (Digest once a challenge was taken up, else Basic or none), the extra
// header lines (each ending in CR LF), and the blank line.
std::string build_request(RtspSession& session, const std::string& method, const std::string& url,
                          const std::string& extra_headers);

// Sends every byte, calling send until done; false as soon as one send fails.
bool send_all(NetSocket& socket, const std::string& text);

// Receives exactly `count` bytes into `buffer`; false on a closed connection
// or when the bytes are still short at net_message_deadline. A receive that
// times out before the deadline keeps what came and waits on.
bool recv_exact(NetSocket& socket, uint8_t* buffer, size_t count);

// The same with the deadline given (UINT64_MAX: none; then a time-out fails).
bool recv_exact_until(NetSocket& socket, uint8_t* buffer, size_t count, uint64_t deadline);

// Receives and throws away exactly `count` bytes, in pieces through a small
// buffer on the stack; false as recv_exact fails.
bool discard_exact(NetSocket& socket, size_t count);

// Reads a response head one byte at a time up to and including the blank line.
// A time-out before the first byte, a closed connection or net_message_deadline
// ends it early (possibly empty), still true; a pause after the first byte is
// waited out up to the deadline.
// False when the head grows past kMaxResponseHeadBytes.
bool read_response_head(NetSocket& socket, std::string& head);

// The identifier of the first "Session:" header (exact case): after the
// spaces, up to CR, ";" or the end. Empty when there is none.
std::string find_session_id(const std::string& head);

// The seconds of a ";timeout=" parameter on the first "Session:" header; 0 when absent.
int32_t find_session_timeout(const std::string& head);

// The value of the first "Content-Length:" (exact case), read like atoi; 0 when absent.
int32_t find_content_length(const std::string& head);

// The same for a "Content-Length:" header name in any letter case.
int32_t find_content_length_any_case(const std::string& head);

// True when the OPTIONS answer's "Public:" header lists GET_PARAMETER.
bool server_offers_get_parameter(const std::string& options_head);

// The SETUP URL from the SDP's first "a=control:" at or after "m=video":
// absolute "rtsp://" values as they are, "*" for the request URL, others
// appended to the request URL with "/"; request URL + "/trackID=0" without one.
std::string choose_control_url(const std::string& sdp, const std::string& request_url);

// The status code of a response head ("RTSP/1.0 401 ..." gives 401); 0 when
// the first line is not a status line.
int response_status(const std::string& head);

// The reason phrase of the status line ("Unsupported transport"); empty when none.
std::string response_reason(const std::string& head);

// Why an answer ends the run, for the user: "SETUP answered 461 Unsupported
// transport", "no answer to OPTIONS", or "the OPTIONS answer is not an RTSP
// status line".
std::string answer_failure(const char* method, const std::string& head);

// True for 2xx status codes.
inline bool status_is_success(int status) { return status >= 200 && status <= 299; }

// After a 401 answer: when credentials were given and the answer carries a
// usable Digest challenge, takes it up (new nonce, count from 1) and returns
// true: the request is to be sent once more.
bool take_up_digest_challenge(RtspSession& session, const std::string& head);

// Resolves and connects, sets the exchange time-out, resets CSeq to 1 and
// builds the authorization line; Digest starts off. A port outside 1-65535 is refused unsent.
RtspOutcome connect_rtsp(const RtspAddress& address, RtspSession& session);

// The value of the first "interleaved=a-b" of the answer's Transport header: a;
// `fallback` when there is none.
int interleaved_channel(const std::string& head, int fallback);

// The SETUP URL of an a=control value: absolute "rtsp://" values as they are,
// "*" for the request URL, others appended to the request URL with "/";
// `missing` when the value is empty.
std::string control_url_of(const std::string& value, const std::string& request_url,
                           const std::string& missing);

// Runs OPTIONS, DESCRIBE, SETUP and PLAY on a connected session. A request
// answered with 401 and a Digest challenge is sent once more with Digest.
// Every answer's status is read: 401 goes the credentials way (an OPTIONS 401
// with credentials given is let pass), any other non-2xx ends the run with the
// method, code and reason, except a refused SETUP, which is tried once more
// with the other transport (TCP interleaved first unless `prefer_udp`). A codec
// other than H.264 or H.265 (or H.265 with decoding order numbers) ends the run
// before SETUP. The sound track, when the SDP has one that plays (and
// `want_sound`), gets its own SETUP on the transport the pictures got; when
// that is refused the pictures come without sound (`sound_note` says why).
// On failure the sockets are closed and the outcome says "401"
// (credentials missing or refused) or "ERR".
RtspOutcome negotiate_rtsp(RtspSession& session);

// Parses the typed address, connects and negotiates; "ERR" when the address
// does not parse. On success the session is ready for begin_streaming.
RtspOutcome open_rtsp_session(const std::string& address_text, RtspSession& session);

// Lowers the receive time-out to the streaming one and starts the keep-alive
// clock at `now_ms` (any millisecond clock the caller keeps using).
void begin_streaming(RtspSession& session, uint32_t now_ms);

// Half the session time-out, in ms (30 s when the server announced none).
uint32_t keep_alive_interval_ms(const RtspSession& session);

// Sends the keep-alive request (with the Session header) when half the session
// time-out has passed since the last request; never waits for the answer,
// which arrives in the stream and is skipped there. True when one was sent.
bool keep_session_alive(RtspSession& session, uint32_t now_ms);

// The RTSP connection's receive waits and a streaming turn over UDP: true when
// an RTSP message (the answer to a keep-alive) waits on the connection; it is
// then read and thrown away. Marks the socket closed when the server hung up.
bool drain_control_answers(RtspSession& session);

// Sends TEARDOWN without reading an answer, and closes the connection.
void teardown_rtsp(RtspSession& session);
