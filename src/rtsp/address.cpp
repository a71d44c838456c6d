#include "rtsp/address.h"

#include <climits>

#include "rtsp/ascii_case.h"

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int32_t parse_decimal_prefix(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT_MAX} + 1) value = int64_t{INT_MAX} + 1;  // saturate, keep reading digits
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(value > INT_MAX ? INT_MAX : value);
}

bool port_is_usable(int32_t port) { return port >= 1 && port <= 65535; }

namespace {

// Splits "[literal]:port" or "[literal]"; false when the "]" is missing or
// followed by anything but ":" and the port.
bool split_bracketed_host(const std::string& host_port, RtspAddress& address) {
  const size_t close = host_port.find(']');
  if (close == std::string::npos) return false;
  // A zone ("fe80::1%25eth0") is written with an escaped "%".
  address.host = percent_decode(std::string_view(host_port).substr(1, close - 1));
  const std::string after = host_port.substr(close + 1);
  if (after.empty()) {
    address.port = 554;
    return true;
  }
  if (after[0] != ':') return false;
  address.port = parse_decimal_prefix(std::string_view(after).substr(1));
  return true;
}

// The host as it goes into a URL: an IPv6 literal (it holds ":") in brackets,
// its zone's "%" escaped again.
std::string url_host(const std::string& host) {
  if (host.find(':') == std::string::npos) return host;
  std::string escaped;
  for (char c : host) escaped += c == '%' ? std::string("%25") : std::string(1, c);
  return "[" + escaped + "]";
}

}  // namespace

bool parse_rtsp_address(const std::string& text, RtspAddress& address) {
  if (!starts_with_ignoring_case(text, 0, "rtsp://")) return false;
  std::string rest = text.substr(7);
  // The first "@" anywhere ends the credentials, even one inside the path.
  address.credentials.clear();
  size_t at = rest.find('@');
  if (at != std::string::npos) {
    address.credentials = rest.substr(0, at);
    rest = rest.substr(at + 1);
  }
  size_t slash = rest.find('/');
  std::string host_port = rest.substr(0, slash);
  address.path = slash == std::string::npos ? "/" : rest.substr(slash);
  address.host.clear();
  address.port = 554;
  if (!host_port.empty() && host_port[0] == '[') {
    if (!split_bracketed_host(host_port, address)) return false;
  } else {
    size_t colon = host_port.rfind(':');
    if (colon != std::string::npos) {
      address.host = host_port.substr(0, colon);
      address.port = parse_decimal_prefix(std::string_view(host_port).substr(colon + 1));
    } else {
      address.host = host_port;
    }
  }
  address.request_url = "rtsp://" + url_host(address.host) + ":" + std::to_string(address.port) + address.path;
  return !address.host.empty();
}

std::string base64_encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                 uint8_t(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kBase64Alphabet[(v >> shift) & 63];
  }
  size_t left = bytes.size() - i;
  if (left > 0) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (left == 2) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += left == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool base64_decode(std::string_view text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  size_t end = text.size();
  int padding = 0;
  while (end > 0 && text[end - 1] == '=' && padding < 2) {
    --end;
    ++padding;
  }
  if (padding > 0 && text.size() % 4 != 0) return false;
  if (end % 4 == 1) return false;  // one leftover character cannot hold a byte
  uint32_t bits = 0;
  int bit_count = 0;
  for (size_t i = 0; i < end; ++i) {
    int v = base64_value(text[i]);
    if (v < 0) return false;
    bits = (bits << 6) | uint32_t(v);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      bytes.push_back(static_cast<uint8_t>((bits >> bit_count) & 0xFF));
    }
  }
  return true;
}

std::string percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    int high = i + 2 < text.size() && text[i] == '%' ? hex_value(text[i + 1]) : -1;
    int low = high >= 0 ? hex_value(text[i + 2]) : -1;
    if (low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void split_credentials(const std::string& credentials, std::string& user, std::string& password) {
  // Split before decoding: an escaped ":" belongs to the user name.
  size_t colon = credentials.find(':');
  user = percent_decode(std::string_view(credentials).substr(0, colon));
  password = colon == std::string::npos ? ""
                                        : percent_decode(std::string_view(credentials).substr(colon + 1));
}

std::string address_without_password(const std::string& text) {
  if (!starts_with_ignoring_case(text, 0, "rtsp://")) return text;
  size_t at = text.find('@', 7);
  if (at == std::string::npos) return text;
  size_t colon = text.find(':', 7);
  if (colon == std::string::npos || colon > at) return text;
  return text.substr(0, colon) + text.substr(at);
}

std::string password_of_address(const std::string& text) {
  if (!starts_with_ignoring_case(text, 0, "rtsp://")) return "";
  const size_t at = text.find('@', 7);
  if (at == std::string::npos) return "";
  const size_t colon = text.find(':', 7);
  if (colon == std::string::npos || colon > at) return "";
  return text.substr(colon + 1, at - colon - 1);
}

std::string address_with_password(const std::string& address, const std::string& password) {
  const std::string bare = address_without_password(address);
  if (password.empty() || !starts_with_ignoring_case(bare, 0, "rtsp://")) return bare;
  const size_t at = bare.find('@', 7);
  if (at == std::string::npos || at == 7) return bare;
  return bare.substr(0, at) + ":" + password + bare.substr(at);
}

std::string authorization_line(const std::string& credentials) {
  if (credentials.empty()) return "";
  std::string user, password;
  split_credentials(credentials, user, password);
  bool has_password = credentials.find(':') != std::string::npos;
  return "Authorization: Basic " + base64_encode(has_password ? user + ":" + password : user) + "\r\n";
}
