// The text readers of the control exchange on arbitrary response heads and
// session descriptions: the session identifier, time-out and Content-Length,
// the offered methods, the control URL and the SDP's parameter sets.
#include <string>

#include "fuzz_support.h"
#include "rtsp/address.h"
#include "rtsp/exchange.h"
#include "rtsp/sdp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string id = find_session_id(text);
  FUZZ_CHECK(id.find_first_of("\r;") == std::string::npos);
  if (!id.empty()) FUZZ_CHECK(id[0] != ' ' && text.find(id) != std::string::npos);
  (void)find_session_timeout(text);
  (void)find_content_length(text);
  (void)find_content_length_any_case(text);
  (void)server_offers_get_parameter(text);

  const std::string request_url = "rtsp://cam:554/live";
  const std::string control = choose_control_url(text, request_url);
  const bool absolute = control.compare(0, 7, "rtsp://") == 0;
  FUZZ_CHECK(absolute);
  if (control.compare(0, request_url.size(), request_url) != 0) {
    FUZZ_CHECK(text.find("a=control:" + control) != std::string::npos);  // taken as it is
  }

  for (const auto& unit : sprop_parameter_sets(text)) {
    // Four characters carry three bytes at most.
    FUZZ_CHECK(!unit.empty() && unit.size() * 4 <= size * 3);
  }
  return 0;
}
