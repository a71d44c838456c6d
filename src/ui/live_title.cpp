#include "ui/live_title.h"

#include "rtsp/address.h"

std::string live_view_title(const std::string& address, LiveState state) {
  return "H.264 Player  [" + address_without_password(address) + "]  " + live_state_text(state);
}
