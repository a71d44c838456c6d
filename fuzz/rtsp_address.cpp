// The typed address, the Base64 codec and the credentials line on arbitrary
// text: a parsed address's request URL reads back as the same address, and
// Base64 decodes back to what it encoded.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "rtsp/address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  RtspAddress address;
  if (parse_rtsp_address(text, address)) {
    FUZZ_CHECK(!address.host.empty());
    FUZZ_CHECK(!address.path.empty() && address.path[0] == '/');
    FUZZ_CHECK(address.credentials.find('@') == std::string::npos);
    FUZZ_CHECK(address.host.find('/') == std::string::npos);
    FUZZ_CHECK(address.request_url.rfind("rtsp://", 0) == 0);
    // The request URL names the same place: read again, it gives the same
    // host (an IPv6 one out of its brackets), port and path. An "@" in it
    // would split it anew, and brackets are never part of a host.
    if (address.request_url.find('@') == std::string::npos && address.host.find_first_of("[]") == std::string::npos) {
      RtspAddress again;
      FUZZ_CHECK(parse_rtsp_address(address.request_url, again));
      FUZZ_CHECK(again.host == address.host && again.port == address.port && again.path == address.path);
      FUZZ_CHECK(again.request_url == address.request_url);
    }
    // Everything typed after the scheme is kept somewhere, in order.
    FUZZ_CHECK(text.size() >= 7 + address.host.size() + address.credentials.size());
    const std::string line = authorization_line(address.credentials);
    FUZZ_CHECK(address.credentials.empty() ? line.empty()
                                           : line.rfind("Authorization: Basic ", 0) == 0 &&
                                                 line.size() >= 2 && line.substr(line.size() - 2) == "\r\n");
  }
  (void)parse_decimal_prefix(text);

  const std::string encoded = base64_encode(text);
  FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
  std::vector<uint8_t> decoded;
  FUZZ_CHECK(base64_decode(encoded, decoded));
  FUZZ_CHECK(decoded == std::vector<uint8_t>(data, data + size));
  std::vector<uint8_t> any;
  if (base64_decode(text, any)) FUZZ_CHECK(any.size() <= size);
  return 0;
}
