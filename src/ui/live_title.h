// The live view's window title: which camera, and how the connection stands.
#pragma once

#include <string>

#include "rtsp/live_session.h"

// "H.264 Player  [<address without its password>]  <state word>".
std::string live_view_title(const std::string& address, LiveState state);
