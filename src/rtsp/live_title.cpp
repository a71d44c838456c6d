#include "rtsp/live_title.h"

#include "rtsp/address.h"

const char* live_state_text(LiveState state) {
  switch (state) {
    case LiveState::connecting: return "CONNECTING";
    case LiveState::live: return "LIVE";
    case LiveState::reconnecting: return "RECONNECTING";
  }
  return "";
}

std::string live_view_title(const std::string& address, LiveState state) {
  return "H.264 Player  [" + address_without_password(address) + "]  " + live_state_text(state);
}
