// Digest authentication in the control exchange, against a scripted server:
// which requests are asked again, what every later request carries (keep-alive
// and TEARDOWN included), stale nonces, refused credentials and header variants.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "rtsp/digest.h"
#include "rtsp/exchange.h"
#include "scripted_server.h"

namespace {

const std::string kSdp = "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:track1\r\n";

std::string ok(const std::string& headers = "", const std::string& body = "") {
  std::string text = "RTSP/1.0 200 OK\r\nCSeq: 0\r\n" + headers;
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

std::string unauthorized(const std::string& authenticate_lines, const std::string& body = "") {
  std::string text = "RTSP/1.0 401 Unauthorized\r\nCSeq: 0\r\n" + authenticate_lines;
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

const std::string kOptions = ok("Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n");
const std::string kDescribe = ok("Content-Type: application/sdp\r\n", kSdp);
const std::string kSetup = ok("Session: S1;timeout=60\r\n");
const std::string kPlay = ok("Session: S1\r\n");

// The parameters of a request's "Authorization: Digest" line; empty without one.
std::map<std::string, std::string> digest_fields(const std::string& request) {
  std::map<std::string, std::string> fields;
  size_t at = request.find("\r\nAuthorization: Digest ");
  if (at == std::string::npos) return fields;
  std::string line = request.substr(at + 24, request.find("\r\n", at + 2) - at - 24);
  size_t pos = 0;
  while (pos < line.size()) {
    size_t eq = line.find('=', pos);
    if (eq == std::string::npos) break;
    std::string name = line.substr(pos, eq - pos);
    std::string value;
    pos = eq + 1;
    if (line[pos] == '"') {
      for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] == '\\') ++pos;
        value += line[pos];
      }
      ++pos;
    } else {
      size_t end = line.find(',', pos);
      value = line.substr(pos, end - pos);
      pos = end == std::string::npos ? line.size() : end;
    }
    fields[name] = value;
    while (pos < line.size() && (line[pos] == ',' || line[pos] == ' ')) ++pos;
  }
  return fields;
}

// What one request must carry: Basic, nothing, or Digest for a nonce with a count.
struct Expected {
  const char* method;
  const char* auth;   // "Basic", "none", or a nonce
  const char* nc;     // for Digest with a qop, else ""
};

struct DigestCase {
  const char* what;
  std::vector<std::string> replies;
  const char* credentials;
  const char* message;  // "" when the session opens
  std::vector<Expected> requests;
  DigestAlgorithm algorithm = DigestAlgorithm::md5;
};

// Answers the requests in turn, then records each later request until the client closes.
Script answer_then_listen(std::vector<std::string> replies) {
  return [replies = std::move(replies)](ScriptedConnection& connection) {
    for (const std::string& reply : replies)
      if (scripted_read_request(connection).empty() || !scripted_send(connection, reply)) return;
    while (!scripted_read_request(connection).empty()) {
    }
  };
}

void check_request(const std::string& request, const Expected& expected, const std::string& url,
                   DigestAlgorithm algorithm) {
  SCOPED_TRACE(request);
  ASSERT_EQ(request.substr(0, request.find(' ')), expected.method);
  const std::string auth = expected.auth;
  if (auth == "Basic" || auth == "none") {
    EXPECT_EQ(request.find("Authorization: Basic ") != std::string::npos, auth == "Basic");
    EXPECT_EQ(request.find("Digest"), std::string::npos);
    return;
  }
  EXPECT_EQ(request.find("Basic"), std::string::npos);
  std::map<std::string, std::string> f = digest_fields(request);
  EXPECT_EQ(f["username"], "admin");
  EXPECT_EQ(f["realm"], "cam");
  EXPECT_EQ(f["nonce"], auth);
  EXPECT_EQ(f["nc"], expected.nc);
  const std::string request_uri = request.substr(request.find(' ') + 1, request.find(" RTSP/1.0") - request.find(' ') - 1);
  EXPECT_EQ(f["uri"], request_uri);
  EXPECT_EQ(request_uri.rfind(url, 0), 0u);
  DigestChallenge challenge;
  challenge.realm = "cam";
  challenge.nonce = auth;
  challenge.algorithm = algorithm;
  // The password typed as "p%40ss%3A1" is "p@ss:1".
  EXPECT_EQ(f["response"], digest_response(challenge, "admin", "p@ss:1", expected.method, request_uri,
                                           f["qop"], f["nc"], f["cnonce"]));
}

TEST(RtspDigest, RequestsAreAskedAgainAndLaterOnesCarryDigest) {
  const std::string md5_auth = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"N1\", qop=\"auth\", opaque=\"o\"\r\n";
  const std::string both = "WWW-Authenticate: Basic realm=\"cam\"\r\n" + md5_auth;
  const std::string bare = "WWW-Authenticate: Digest realm=cam,nonce=N1\r\n";
  const std::string stale = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"N2\", qop=\"auth\", stale=TRUE\r\n";
  const std::string sha = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"N1\", algorithm=SHA-256, qop=auth\r\n";
  const std::string md5_and_sha =
      "WWW-Authenticate: Digest realm=\"cam\", nonce=\"S\", algorithm=SHA-256, qop=auth, "
      "Basic realm=\"cam\"\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=\"N1\", algorithm=MD5\r\n";
  const char* typed = "admin:p%40ss%3A1";
  const DigestCase cases[] = {
      {"Digest preferred to Basic on OPTIONS, qop auth",
       {unauthorized(both), kOptions, kDescribe, kSetup, kPlay}, typed, "",
       {{"OPTIONS", "Basic", ""}, {"OPTIONS", "N1", "00000001"}, {"DESCRIBE", "N1", "00000002"},
        {"SETUP", "N1", "00000003"}, {"PLAY", "N1", "00000004"}, {"OPTIONS", "N1", "00000005"},
        {"TEARDOWN", "N1", "00000006"}}},
      {"bare values and no qop, asked on DESCRIBE; the 401 body is skipped",
       {kOptions, unauthorized(bare, "Unauthorized"), kDescribe, kSetup, kPlay}, typed, "",
       {{"OPTIONS", "Basic", ""}, {"DESCRIBE", "Basic", ""}, {"DESCRIBE", "N1", ""}, {"SETUP", "N1", ""},
        {"PLAY", "N1", ""}, {"OPTIONS", "N1", ""}, {"TEARDOWN", "N1", ""}}},
      {"a stale nonce on SETUP takes the new one",
       {kOptions, unauthorized(md5_auth), kDescribe, unauthorized(stale), kSetup, kPlay}, typed, "",
       {{"OPTIONS", "Basic", ""}, {"DESCRIBE", "Basic", ""}, {"DESCRIBE", "N1", "00000001"},
        {"SETUP", "N1", "00000002"}, {"SETUP", "N2", "00000001"}, {"PLAY", "N2", "00000002"},
        {"OPTIONS", "N2", "00000003"}, {"TEARDOWN", "N2", "00000004"}}},
      {"MD5 chosen from several challenges in several headers",
       {kOptions, unauthorized(md5_and_sha), kDescribe, kSetup, kPlay}, typed, "",
       {{"OPTIONS", "Basic", ""}, {"DESCRIBE", "Basic", ""}, {"DESCRIBE", "N1", ""}, {"SETUP", "N1", ""},
        {"PLAY", "N1", ""}, {"OPTIONS", "N1", ""}, {"TEARDOWN", "N1", ""}}},
      {"SHA-256 when only that is offered",
       {unauthorized(sha), kOptions, kDescribe, kSetup, kPlay}, typed, "",
       {{"OPTIONS", "Basic", ""}, {"OPTIONS", "N1", "00000001"}, {"DESCRIBE", "N1", "00000002"},
        {"SETUP", "N1", "00000003"}, {"PLAY", "N1", "00000004"}, {"OPTIONS", "N1", "00000005"},
        {"TEARDOWN", "N1", "00000006"}},
       DigestAlgorithm::sha256},
      {"refused credentials end with 401 after one more try",
       {kOptions, unauthorized(md5_auth), unauthorized(md5_auth)}, typed, "401",
       {{"OPTIONS", "Basic", ""}, {"DESCRIBE", "Basic", ""}, {"DESCRIBE", "N1", "00000001"}}},
      {"refused on OPTIONS too: one more try on each",
       {unauthorized(md5_auth), unauthorized(md5_auth), unauthorized(md5_auth), unauthorized(md5_auth)}, typed, "401",
       {{"OPTIONS", "Basic", ""}, {"OPTIONS", "N1", "00000001"}, {"DESCRIBE", "N1", "00000002"},
        {"DESCRIBE", "N1", "00000001"}}},
      {"no credentials: 401 at once", {unauthorized(md5_auth)}, "", "401", {{"OPTIONS", "none", ""}}},
      {"an unusable challenge is not answered",
       {kOptions, unauthorized("WWW-Authenticate: Digest realm=cam, nonce=N1, algorithm=MD5-sess\r\n")}, typed,
       "401", {{"OPTIONS", "Basic", ""}, {"DESCRIBE", "Basic", ""}}},
  };
  for (const DigestCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    auto server = start_scripted_server(answer_then_listen(c.replies), error);
    ASSERT_TRUE(server) << error;
    std::string address = scripted_server_url(*server);
    if (*c.credentials) address.insert(7, std::string(c.credentials) + "@");
    RtspSession session;
    RtspOutcome outcome = open_rtsp_session(address, session);
    EXPECT_EQ(outcome.message, c.message) << outcome.reason;
    if (outcome.ok) {
      begin_streaming(session, 0);
      EXPECT_TRUE(keep_session_alive(session, 3600u * 1000u));
      teardown_rtsp(session);
    }
    finish_scripted_server(*server);
    // No request line or header ever holds the password, typed or decoded.
    EXPECT_EQ(server->received.find("p@ss"), std::string::npos);
    EXPECT_EQ(server->received.find("p%40ss"), std::string::npos);
    ASSERT_EQ(server->requests.size(), c.requests.size()) << server->received;
    for (size_t i = 0; i < c.requests.size(); ++i)
      check_request(server->requests[i], c.requests[i], scripted_server_url(*server), c.algorithm);
  }
}

TEST(RtspDigest, APasswordWithABareAtSignIsNotEchoed) {
  RtspSession session;
  RtspOutcome outcome = open_rtsp_session("rtsp://admin:se@cret@127.0.0.1:1/x", session);
  EXPECT_EQ(outcome.message, "ERR");
  EXPECT_EQ(outcome.reason.find("cret"), std::string::npos) << outcome.reason;
  EXPECT_NE(outcome.reason.find("%40"), std::string::npos) << outcome.reason;
}

}  // namespace
