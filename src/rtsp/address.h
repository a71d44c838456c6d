// The typed rtsp:// address, the Base64 codec and the Basic credentials line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RtspAddress {
  std::string host;         // as typed, case kept; an IPv6 literal without its brackets
  int32_t port = 554;       // 554 when the address names none
  std::string path = "/";   // always begins with "/"
  std::string credentials;  // text between "rtsp://" and the first "@", verbatim; may be empty
  std::string request_url;  // "rtsp://" + host ("[" host "]" for IPv6) + ":" + port + path
};

// Fills `address` from the typed text; true when it starts with "rtsp://" (any
// letter case) and names a non-empty host. An IPv6 literal is typed in
// brackets ("[::1]:8554"; a zone as "%25eth0"); text after its "]" other than
// ":" and a port makes the address invalid. No other percent-decoding, no
// resolution.
bool parse_rtsp_address(const std::string& text, RtspAddress& address);

// Reads a decimal integer the way C's atoi does (leading white space, optional
// sign, digits up to the first non-digit; 0 without digits), saturating at the
// 32-bit limits instead of overflowing.
int32_t parse_decimal_prefix(std::string_view text);

// True when the port can name a TCP port (1 to 65535).
bool port_is_usable(int32_t port);

// Standard Base64 with "=" padding (RFC 4648 section 4); empty in, empty out.
std::string base64_encode(std::string_view bytes);

// Decodes standard Base64; padding may be left out. False on any other
// character or an impossible length (`bytes` is then unspecified).
bool base64_decode(std::string_view text, std::vector<uint8_t>& bytes);

// Replaces every "%" followed by two hex digits with the byte they name, so a
// user name or password may hold "@", ":" or "/"; other "%" signs stay as typed.
std::string percent_decode(std::string_view text);

// Splits typed credentials at their first ":" into user name and password (an
// empty password without one), each percent-decoded.
void split_credentials(const std::string& credentials, std::string& user, std::string& password);

// The address with any password left out ("rtsp://user@host..."), for showing
// or printing; text that is not an address with credentials comes back as it is.
std::string address_without_password(const std::string& text);

// The password of an address as typed (after the ":" that follows the user
// name, up to the "@"); empty when it has none.
std::string password_of_address(const std::string& text);

// `address` with `password` put after its user name (replacing any there);
// the address as it is when it names no user or `password` is empty.
std::string address_with_password(const std::string& address, const std::string& password);

// "Authorization: Basic " + Base64(user ":" password) + "\r\n" with both parts
// percent-decoded (a user name alone stays alone), or empty without credentials.
std::string authorization_line(const std::string& credentials);
