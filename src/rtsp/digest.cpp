#include "rtsp/digest.h"

#include <cstdio>
#include <random>
#include <string_view>

#include "rtsp/ascii_case.h"
#include "rtsp/hashes.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The values of every "WWW-Authenticate:" header line.
std::vector<std::string> authenticate_header_values(const std::string& head) {
  static const char kName[] = "www-authenticate:";
  std::vector<std::string> values;
  for (size_t line = 0; line < head.size();) {
    size_t end = head.find_first_of("\r\n", line);
    if (end == std::string::npos) end = head.size();
    if (starts_with_ignoring_case(head, line, kName) && line + sizeof kName - 1 <= end)
      values.push_back(head.substr(line + sizeof kName - 1, end - line - (sizeof kName - 1)));
    line = end + 1;
  }
  return values;
}

// Reads a quoted string starting at the opening quote; backslash escapes the
// next character. An unterminated string runs to the end.
std::string read_quoted(const std::string& text, size_t& pos) {
  std::string value;
  ++pos;
  while (pos < text.size() && text[pos] != '"') {
    if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
    value += text[pos++];
  }
  if (pos < text.size()) ++pos;
  return value;
}

std::string read_token(const std::string& text, size_t& pos, const char* stops) {
  size_t start = pos;
  while (pos < text.size() && !is_blank(text[pos]) && std::string_view(stops).find(text[pos]) == std::string_view::npos)
    ++pos;
  return text.substr(start, pos - start);
}

void apply_qop_list(const std::string& list, DigestChallenge& challenge) {
  challenge.qop_listed = true;
  size_t pos = 0;
  while (pos < list.size()) {
    while (pos < list.size() && (is_blank(list[pos]) || list[pos] == ',')) ++pos;
    std::string option = read_token(list, pos, ",");
    if (equals_ignoring_case(option, "auth")) challenge.qop_auth = true;
    if (equals_ignoring_case(option, "auth-int")) challenge.qop_auth_int = true;
  }
}

void apply_parameter(const std::string& name, const std::string& value, DigestChallenge& challenge) {
  if (equals_ignoring_case(name, "realm")) {
    challenge.realm = value;
  } else if (equals_ignoring_case(name, "nonce")) {
    challenge.nonce = value;
  } else if (equals_ignoring_case(name, "opaque")) {
    challenge.opaque = value;
  } else if (equals_ignoring_case(name, "stale")) {
    challenge.stale = equals_ignoring_case(value, "true");
  } else if (equals_ignoring_case(name, "qop")) {
    apply_qop_list(value, challenge);
  } else if (equals_ignoring_case(name, "algorithm")) {
    challenge.algorithm_name = value;
    challenge.algorithm_known = true;
    if (equals_ignoring_case(value, "MD5"))
      challenge.algorithm = DigestAlgorithm::md5;
    else if (equals_ignoring_case(value, "SHA-256"))
      challenge.algorithm = DigestAlgorithm::sha256;
    else
      challenge.algorithm_known = false;
  }
}

// One header value: schemes, each followed by its comma-separated parameters.
void parse_challenges(const std::string& value, std::vector<DigestChallenge>& found) {
  bool in_digest = false;
  size_t pos = 0;
  while (pos < value.size()) {
    while (pos < value.size() && (is_blank(value[pos]) || value[pos] == ',')) ++pos;
    if (pos >= value.size()) break;
    std::string token = read_token(value, pos, ",=\"");
    if (token.empty()) {  // a stray "=" or quoted text out of place
      if (value[pos] == '"')
        read_quoted(value, pos);
      else
        ++pos;
      continue;
    }
    size_t after = pos;
    while (after < value.size() && is_blank(value[after])) ++after;
    if (after < value.size() && value[after] == '=') {
      pos = after + 1;
      while (pos < value.size() && is_blank(value[pos])) ++pos;
      std::string parameter =
          pos < value.size() && value[pos] == '"' ? read_quoted(value, pos) : read_token(value, pos, ",");
      if (in_digest) apply_parameter(token, parameter, found.back());
      continue;
    }
    in_digest = equals_ignoring_case(token, "Digest");
    if (in_digest) found.emplace_back();
  }
}

bool usable(const DigestChallenge& challenge) {
  return !challenge.nonce.empty() && challenge.algorithm_known &&
         (!challenge.qop_listed || challenge.qop_auth || challenge.qop_auth_int);
}

std::string hash(DigestAlgorithm algorithm, const std::string& text) {
  return algorithm == DigestAlgorithm::sha256 ? sha256_hex(text) : md5_hex(text);
}

std::string quoted(const std::string& value) {
  std::string text = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') text += '\\';
    text += c;
  }
  return text + "\"";
}

bool has_control_characters(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// RFC 8187 extended value: UTF-8, then every byte outside the safe set as %XX.
std::string extended_value(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "UTF-8''";
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    bool safe = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
    if (safe) {
      out += c;
    } else {
      out += '%';
      out += kDigits[b >> 4];
      out += kDigits[b & 15];
    }
  }
  return out;
}

}  // namespace

std::vector<DigestChallenge> parse_digest_challenges(const std::string& head) {
  std::vector<DigestChallenge> found;
  for (const std::string& value : authenticate_header_values(head)) parse_challenges(value, found);
  return found;
}

bool choose_digest_challenge(const std::vector<DigestChallenge>& challenges, DigestChallenge& chosen) {
  for (DigestAlgorithm wanted : {DigestAlgorithm::md5, DigestAlgorithm::sha256}) {
    for (const DigestChallenge& challenge : challenges) {
      if (usable(challenge) && challenge.algorithm == wanted) {
        chosen = challenge;
        return true;
      }
    }
  }
  return false;
}

std::string digest_response(const DigestChallenge& challenge, const std::string& user,
                            const std::string& password, const std::string& method,
                            const std::string& uri, const std::string& qop,
                            const std::string& nonce_count, const std::string& cnonce) {
  DigestAlgorithm algorithm = challenge.algorithm;
  std::string a1 = hash(algorithm, user + ":" + challenge.realm + ":" + password);
  std::string a2_text = method + ":" + uri;
  if (qop == "auth-int") a2_text += ":" + hash(algorithm, "");
  std::string a2 = hash(algorithm, a2_text);
  if (qop.empty()) return hash(algorithm, a1 + ":" + challenge.nonce + ":" + a2);
  return hash(algorithm, a1 + ":" + challenge.nonce + ":" + nonce_count + ":" + cnonce + ":" + qop +
                             ":" + a2);
}

std::string make_cnonce() {
  std::random_device source;
  char text[17];
  std::snprintf(text, sizeof text, "%08x%08x", static_cast<unsigned>(source()),
                static_cast<unsigned>(source()));
  return text;
}

void adopt_digest_challenge(DigestAuth& auth, const DigestChallenge& challenge) {
  auth.active = true;
  auth.challenge = challenge;
  auth.nonce_count = 0;
  auth.cnonce = make_cnonce();
}

std::string digest_authorization_line(DigestAuth& auth, const std::string& user,
                                      const std::string& password, const std::string& method,
                                      const std::string& uri) {
  const DigestChallenge& challenge = auth.challenge;
  std::string qop = !challenge.qop_listed ? "" : challenge.qop_auth ? "auth" : "auth-int";
  char count[9];
  std::snprintf(count, sizeof count, "%08x", static_cast<unsigned>(++auth.nonce_count));
  std::string line = "Authorization: Digest ";
  line += has_control_characters(user) ? "username*=" + extended_value(user)
                                       : "username=" + quoted(user);
  line += ", realm=" + quoted(challenge.realm);
  line += ", nonce=" + quoted(challenge.nonce);
  line += ", uri=" + quoted(uri);
  line += ", response=\"" +
          digest_response(challenge, user, password, method, uri, qop, count, auth.cnonce) + "\"";
  if (!challenge.algorithm_name.empty()) line += ", algorithm=" + challenge.algorithm_name;
  if (!challenge.opaque.empty()) line += ", opaque=" + quoted(challenge.opaque);
  if (!qop.empty()) line += ", qop=" + qop + ", nc=" + count + ", cnonce=" + quoted(auth.cnonce);
  return line + "\r\n";
}
