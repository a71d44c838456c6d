// The live view's window title: which camera, and how the connection stands.
#pragma once

#include <string>

enum class LiveState { connecting, live, reconnecting };

// "CONNECTING", "LIVE" or "RECONNECTING".
const char* live_state_text(LiveState state);

// "H.264 Player  [<address without its password>]  <state>".
std::string live_view_title(const std::string& address, LiveState state);
