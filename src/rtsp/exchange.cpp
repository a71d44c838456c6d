#include "rtsp/exchange.h"

#include <vector>

#include "rtsp/ascii_case.h"

namespace {

RtspOutcome success() { return {true, "", ""}; }

RtspOutcome failure(const std::string& message, const std::string& reason) {
  return {false, message, reason};
}

// Failure branches close the connection and send nothing more.
RtspOutcome fail_and_close(RtspSession& session, const std::string& message,
                           const std::string& reason) {
  net_close(session.socket);
  return failure(message, reason);
}

// The rest of the line that starts at `from` (without CR or LF).
std::string line_from(const std::string& text, size_t from) {
  size_t end = text.find_first_of("\r\n", from);
  return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

bool send_request(RtspSession& session, const std::string& method, const std::string& url,
                  const std::string& extra_headers) {
  return send_all(session.socket, build_request(session, method, url, extra_headers));
}

void discard_body(NetSocket& socket, const std::string& head);

// Sends a request and reads its answer's head; false when the head is over its
// limit. A 401 that Digest can answer is followed by the same request once more.
bool ask(RtspSession& session, const std::string& method, const std::string& url,
         const std::string& extra_headers, std::string& head) {
  send_request(session, method, url, extra_headers);
  if (!read_response_head(session.socket, head)) return false;
  if (!take_up_digest_challenge(session, head)) return true;
  discard_body(session.socket, head);
  send_request(session, method, url, extra_headers);
  return read_response_head(session.socket, head);
}

// Some servers give OPTIONS, SETUP or PLAY answers a body; reading it keeps the
// next head (or the first "$" frame) in step.
void discard_body(NetSocket& socket, const std::string& head) {
  int32_t length = find_content_length(head);
  if (length <= 0 || length > kMaxDescribeBodyBytes) return;
  discard_exact(socket, static_cast<size_t>(length));
}

bool read_describe_body(RtspSession& session, const std::string& head, std::string& reason) {
  session.sdp.clear();
  int32_t length = find_content_length(head);
  if (length <= 0) return true;
  if (length > kMaxDescribeBodyBytes) {
    reason = "the DESCRIBE answer announces " + std::to_string(length) +
             " bytes of SDP, more than 1 MiB";
    return false;
  }
  // Bytes that never arrive stay zero; the SDP is searched for text only.
  std::vector<uint8_t> body(static_cast<size_t>(length), 0);
  recv_exact(session.socket, body.data(), body.size());
  session.sdp.assign(body.begin(), body.end());
  return true;
}

RtspOutcome head_too_long(RtspSession& session, const char* method) {
  return fail_and_close(session, "ERR",
                        std::string("the ") + method + " answer's head passes 64 KiB");
}

}  // namespace

std::string build_request(RtspSession& session, const std::string& method, const std::string& url,
                          const std::string& extra_headers) {
  std::string request = method + " " + url + " RTSP/1.0\r\n";
  request += "CSeq: " + std::to_string(session.cseq++) + "\r\n";
  if (session.digest.active)
    request += digest_authorization_line(session.digest, session.user, session.password, method, url);
  else
    request += session.authorization_line;
  request += extra_headers;
  request += "\r\n";
  return request;
}

bool send_all(NetSocket& socket, const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    long n = net_send(socket, text.data() + sent, text.size() - sent);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool recv_exact_until(NetSocket& socket, uint8_t* buffer, size_t count, uint64_t deadline) {
  size_t got = 0;
  while (got < count) {
    long n = net_recv(socket, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (socket.peer_closed || deadline == UINT64_MAX) {
      return false;
    }
    // A pause (Wi-Fi) keeps what came; a trickle or a stall past the deadline gives up.
    if (got < count && net_deadline_passed(deadline)) return false;
  }
  return true;
}

bool recv_exact(NetSocket& socket, uint8_t* buffer, size_t count) {
  return recv_exact_until(socket, buffer, count, net_message_deadline(socket));
}

bool discard_exact(NetSocket& socket, size_t count) {
  uint8_t scratch[4096];
  const uint64_t deadline = net_message_deadline(socket);
  size_t left = count;
  while (left > 0) {
    const size_t piece = left < sizeof scratch ? left : sizeof scratch;
    if (!recv_exact_until(socket, scratch, piece, deadline)) return false;
    left -= piece;
  }
  return true;
}

bool read_response_head(NetSocket& socket, std::string& head) {
  head.clear();
  const uint64_t deadline = net_message_deadline(socket);
  char byte;
  while (true) {
    long n = net_recv(socket, &byte, 1);
    if (n <= 0) {
      // Silence before the first byte ends the read; a pause inside a head is waited out.
      if (socket.peer_closed || head.empty() || net_deadline_passed(deadline)) break;
      continue;
    }
    if (head.size() >= kMaxResponseHeadBytes) return false;
    head += byte;
    if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) break;
    if (net_deadline_passed(deadline)) break;  // trickled: ends early like a time-out
  }
  return true;
}

std::string find_session_id(const std::string& head) {
  size_t at = head.find("Session:");
  if (at == std::string::npos) return "";
  size_t start = at + 8;
  while (start < head.size() && head[start] == ' ') ++start;
  size_t end = head.find_first_of("\r;", start);
  return head.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int32_t find_session_timeout(const std::string& head) {
  size_t at = head.find("Session:");
  if (at == std::string::npos) return 0;
  std::string line = line_from(head, at);
  size_t semicolon = line.find(';');
  if (semicolon == std::string::npos) return 0;
  size_t timeout = find_ignoring_case(line, "timeout=", semicolon);
  if (timeout == std::string::npos) return 0;
  return parse_decimal_prefix(std::string_view(line).substr(timeout + 8));
}

int32_t find_content_length(const std::string& head) {
  size_t at = head.find("Content-Length:");
  if (at == std::string::npos) return 0;
  return parse_decimal_prefix(std::string_view(head).substr(at + 15));
}

int32_t find_content_length_any_case(const std::string& head) {
  size_t at = find_ignoring_case(head, "content-length:");
  if (at == std::string::npos) return 0;
  return parse_decimal_prefix(std::string_view(head).substr(at + 15));
}

bool server_offers_get_parameter(const std::string& options_head) {
  for (size_t at = find_ignoring_case(options_head, "public:"); at != std::string::npos;
       at = find_ignoring_case(options_head, "public:", at + 1)) {
    bool at_line_start = at == 0 || options_head[at - 1] == '\n';
    if (at_line_start && line_from(options_head, at).find("GET_PARAMETER") != std::string::npos)
      return true;
  }
  return false;
}

std::string control_url_of(const std::string& value, const std::string& request_url,
                           const std::string& missing) {
  if (value.empty()) return missing;
  if (value.size() >= 7 && value.compare(0, 7, "rtsp://") == 0) return value;
  if (value == "*") return request_url;
  return request_url + "/" + value;
}

std::string choose_control_url(const std::string& sdp, const std::string& request_url) {
  size_t from = sdp.find("m=video");
  if (from == std::string::npos) from = 0;
  size_t at = sdp.find("a=control:", from);
  if (at == std::string::npos) return request_url + "/trackID=0";
  size_t start = at + 10;
  size_t end = sdp.find('\n', start);
  std::string value = sdp.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (!value.empty() && value.back() == '\r') value.pop_back();
  // An empty value names the request URL with "/" after it, as it always did.
  return value.empty() ? request_url + "/" : control_url_of(value, request_url, "");
}

int interleaved_channel(const std::string& head, int fallback) {
  size_t at = find_ignoring_case(head, "interleaved=");
  if (at == std::string::npos) return fallback;
  size_t start = at + 12;
  if (start >= head.size() || head[start] < '0' || head[start] > '9') return fallback;
  const int32_t channel = parse_decimal_prefix(std::string_view(head).substr(start, 4));
  return channel >= 0 && channel <= 255 ? channel : fallback;
}

int response_status(const std::string& head) {
  if (head.compare(0, 5, "RTSP/") != 0) return 0;
  size_t space = head.find(' ');
  if (space == std::string::npos || space > head.find('\n')) return 0;
  int32_t code = parse_decimal_prefix(std::string_view(head).substr(space + 1, 4));
  return code >= 100 && code <= 999 ? code : 0;
}

std::string response_reason(const std::string& head) {
  if (response_status(head) == 0) return "";
  std::string line = line_from(head, 0);
  size_t code = line.find(' ');
  size_t reason = line.find(' ', code + 1);
  if (reason == std::string::npos) return "";
  return line.substr(reason + 1);
}

std::string answer_failure(const char* method, const std::string& head) {
  if (head.empty()) return std::string("no answer to ") + method;
  const int status = response_status(head);
  if (status == 0) return std::string("the ") + method + " answer is not an RTSP status line";
  std::string text = std::string(method) + " answered " + std::to_string(status);
  const std::string reason = response_reason(head);
  return reason.empty() ? text : text + " " + reason;
}

bool take_up_digest_challenge(RtspSession& session, const std::string& head) {
  if (session.authorization_line.empty() || response_status(head) != 401) return false;
  DigestChallenge challenge;
  if (!choose_digest_challenge(parse_digest_challenges(head), challenge)) return false;
  adopt_digest_challenge(session.digest, challenge);
  return true;
}

RtspOutcome connect_rtsp(const RtspAddress& address, RtspSession& session) {
  if (!port_is_usable(address.port))
    return failure("ERR", "port " + std::to_string(address.port) + " is outside 1 to 65535");
  // Host names never hold "@": this one is the rest of a password typed with
  // a bare "@", so it is not echoed in the reason.
  if (address.host.find('@') != std::string::npos)
    return failure("ERR", "the host part holds an \"@\"; type an \"@\" in a user name or password as %40");
  net_startup();
  session.socket.cancel = session.cancel;
  session.udp.rtp.cancel = session.cancel;
  session.sound_udp.rtp.cancel = session.cancel;
  std::string reason;
  if (!net_connect_within(address.host, address.port, session.socket, reason,
                          session.connect_timeout_ms))
    return failure("ERR", reason);
  net_set_receive_timeout(session.socket, session.exchange_timeout_ms);
  net_set_send_timeout(session.socket, session.exchange_timeout_ms);
  session.cseq = 1;
  session.authorization_line = authorization_line(address.credentials);
  split_credentials(address.credentials, session.user, session.password);
  session.digest = DigestAuth{};
  session.request_url = address.request_url;
  return success();
}

namespace {

// OPTIONS: a 401 without credentials ends the run; with them it is let pass
// (a camera may refuse OPTIONS yet accept the credentials on DESCRIBE).
RtspOutcome ask_options(RtspSession& session, bool has_credentials) {
  std::string head;
  if (!ask(session, "OPTIONS", session.request_url, "", head)) return head_too_long(session, "OPTIONS");
  const int status = response_status(head);
  if (status == 401 && !has_credentials)
    return fail_and_close(session, "401", "the server asks for credentials and none were given");
  if (status != 401 && !status_is_success(status))
    return fail_and_close(session, "ERR", answer_failure("OPTIONS", head));
  discard_body(session.socket, head);
  session.keep_alive_method = server_offers_get_parameter(head) ? "GET_PARAMETER" : "OPTIONS";
  return success();
}

// DESCRIBE, its SDP, the codec and the control URL.
RtspOutcome ask_describe(RtspSession& session, bool has_credentials) {
  std::string head;
  if (!ask(session, "DESCRIBE", session.request_url, "Accept: application/sdp\r\n", head))
    return head_too_long(session, "DESCRIBE");
  const int status = response_status(head);
  if (status == 401)
    return fail_and_close(session, "401",
                          has_credentials ? "the server refused the credentials"
                                          : "the server asks for credentials and none were given");
  if (!status_is_success(status)) return fail_and_close(session, "ERR", answer_failure("DESCRIBE", head));
  std::string reason;
  if (!read_describe_body(session, head, reason)) return fail_and_close(session, "ERR", reason);
  const std::string encoding = sdp_video_encoding(session.sdp);
  session.codec = video_codec_from_encoding(encoding);
  session.codec_name = encoding.empty() ? "H264" : encoding;
  if (session.codec == VideoCodec::unsupported)
    return fail_and_close(session, "ERR", "unsupported codec " + encoding);
  if (session.codec == VideoCodec::h265 && sdp_needs_decoding_order(session.sdp))
    return fail_and_close(session, "ERR",
                          "the H.265 stream needs decoding order numbers (sprop-max-don-diff), "
                          "which are not supported");
  session.control_url = choose_control_url(session.sdp, session.request_url);
  session.sound = sdp_sound(session.sdp);
  session.sound_set_up = false;
  session.sound_note.clear();
  if (session.sound.codec == SoundCodec::unsupported)
    session.sound_note = session.sound.unplayable + " is not played";
  session.sound_control_url =
      control_url_of(session.sound.control, session.request_url, session.request_url + "/trackID=1");
  return success();
}

// One SETUP with the given transport. `refused` is set (with the reason) when
// the server answered but not with 2xx, so the other transport may be tried.
RtspOutcome ask_setup(RtspSession& session, bool udp, bool& refused) {
  refused = false;
  std::string transport = "RTP/AVP/TCP;unicast;interleaved=0-1";
  if (udp) {
    std::string reason;
    if (!open_udp_transport(session.udp, net_address_is_ipv6(net_peer(session.socket)), reason)) {
      refused = true;
      return failure("ERR", reason);
    }
    transport = udp_transport_request(session.udp);
  }
  std::string head;
  if (!ask(session, "SETUP", session.control_url, "Transport: " + transport + "\r\n", head))
    return head_too_long(session, "SETUP");
  const int status = response_status(head);
  if (status == 401) return failure("401", "the server refused the credentials");
  if (!status_is_success(status)) {
    refused = !head.empty() && status != 0;
    discard_body(session.socket, head);
    return failure("ERR", answer_failure("SETUP", head));
  }
  session.session_id = find_session_id(head);
  if (session.session_id.empty()) return failure("ERR", "the SETUP answer carries no session identifier");
  int32_t timeout = find_session_timeout(head);
  session.session_timeout_s = timeout > 0 ? timeout : 60;
  session.over_udp = udp;
  if (udp) adopt_udp_transport_answer(session.udp, head, net_peer(session.socket));
  session.video_channel = udp ? 0 : interleaved_channel(head, 0);
  discard_body(session.socket, head);
  return success();
}

// SETUP with the preferred transport, then with the other one when refused.
RtspOutcome set_up_transport(RtspSession& session) {
  bool refused = false;
  RtspOutcome outcome = ask_setup(session, session.prefer_udp, refused);
  if (!outcome.ok && refused && !session.socket.peer_closed) {
    RtspOutcome second = ask_setup(session, !session.prefer_udp, refused);
    // The answer to the transport asked for last names the failure the user sees.
    outcome = second;
  }
  if (!session.over_udp || !outcome.ok) {
    net_close(session.udp.rtp);
    net_close(session.udp.rtcp);
  }
  if (!outcome.ok) net_close(session.socket);
  return outcome;
}

void close_sound_ports(RtspSession& session) {
  net_close(session.sound_udp.rtp);
  net_close(session.sound_udp.rtcp);
}

// SETUP of the sound track on the transport the pictures got. A refusal only
// leaves the sound out; false only when the answer's head passed its limit.
bool set_up_sound(RtspSession& session) {
  const SoundCodec codec = session.sound.codec;
  if (!session.want_sound || codec == SoundCodec::none || codec == SoundCodec::unsupported) return true;
  std::string transport = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(session.video_channel + 2) + "-" +
                          std::to_string(session.video_channel + 3);
  if (session.over_udp) {
    std::string reason;
    if (!open_udp_transport(session.sound_udp, net_address_is_ipv6(net_peer(session.socket)), reason)) {
      session.sound_note = "no ports for the sound: " + reason;
      return true;
    }
    transport = udp_transport_request(session.sound_udp);
  }
  std::string head;
  if (!ask(session, "SETUP", session.sound_control_url,
           "Transport: " + transport + "\r\nSession: " + session.session_id + "\r\n", head))
    return false;
  if (!status_is_success(response_status(head))) {
    session.sound_note = answer_failure("SETUP", head) + " for the sound";
    discard_body(session.socket, head);
    close_sound_ports(session);
    return true;
  }
  if (session.over_udp)
    adopt_udp_transport_answer(session.sound_udp, head, net_peer(session.socket));
  else
    session.sound_channel = interleaved_channel(head, session.video_channel + 2);
  discard_body(session.socket, head);
  session.sound_set_up = true;
  return true;
}

}  // namespace

RtspOutcome negotiate_rtsp(RtspSession& session) {
  const bool has_credentials = !session.authorization_line.empty();
  session.over_udp = false;
  RtspOutcome outcome = ask_options(session, has_credentials);
  if (outcome.ok) outcome = ask_describe(session, has_credentials);
  if (outcome.ok) outcome = set_up_transport(session);
  if (!outcome.ok) return outcome;
  // From here on the camera holds a session for us: a negotiation that ends
  // early (the user left while waiting, a broken answer) lets it go at once
  // rather than leaving it to time out, as cameras allow only a few.
  if (!set_up_sound(session)) {
    teardown_rtsp(session);
    return failure("ERR", "the SETUP answer's head passes 64 KiB");
  }

  std::string head;
  if (!ask(session, "PLAY", session.request_url,
           "Session: " + session.session_id + "\r\nRange: npt=0.000-\r\n", head)) {
    teardown_rtsp(session);
    return failure("ERR", "the PLAY answer's head passes 64 KiB");
  }
  if (!status_is_success(response_status(head))) {
    // Also where the wait for the answer was cut short by the user leaving.
    teardown_rtsp(session);
    return failure("ERR", answer_failure("PLAY", head));
  }
  discard_body(session.socket, head);
  return success();
}

RtspOutcome open_rtsp_session(const std::string& address_text, RtspSession& session) {
  RtspAddress address;
  if (!parse_rtsp_address(address_text, address))
    return failure("ERR", "not an rtsp:// address with a host");
  RtspOutcome outcome = connect_rtsp(address, session);
  if (!outcome.ok) return outcome;
  return negotiate_rtsp(session);
}

void begin_streaming(RtspSession& session, uint32_t now_ms) {
  net_set_receive_timeout(session.socket, session.stream_timeout_ms);
  net_set_send_timeout(session.socket, session.stream_timeout_ms);
  session.last_request_ms = now_ms;
}

uint32_t keep_alive_interval_ms(const RtspSession& session) {
  int32_t seconds = session.session_timeout_s > 0 ? session.session_timeout_s : 60;
  if (seconds > 86400) seconds = 86400;  // keeps the product inside 32 bits
  return static_cast<uint32_t>(seconds) * 500u;
}

bool keep_session_alive(RtspSession& session, uint32_t now_ms) {
  // Unsigned difference: correct across a wrap of the 32-bit clock.
  if (now_ms - session.last_request_ms < keep_alive_interval_ms(session)) return false;
  session.last_request_ms = now_ms;
  send_request(session, session.keep_alive_method, session.request_url,
               "Session: " + session.session_id + "\r\n");
  return true;
}

bool drain_control_answers(RtspSession& session) {
  NetSocket& socket = session.socket;
  const int saved = socket.receive_timeout_ms;
  socket.receive_timeout_ms = 1;
  char first;
  long n = net_recv(socket, &first, 1);
  socket.receive_timeout_ms = saved;
  if (n <= 0) return false;
  std::string rest;
  if (read_response_head(socket, rest)) discard_body(socket, std::string(1, first) + rest);
  return true;
}

void teardown_rtsp(RtspSession& session) {
  net_close(session.udp.rtp);
  net_close(session.udp.rtcp);
  net_close(session.sound_udp.rtp);
  net_close(session.sound_udp.rtcp);
  if (!net_is_open(session.socket)) return;
  send_request(session, "TEARDOWN", session.request_url, "Session: " + session.session_id + "\r\n");
  net_close(session.socket);
}
