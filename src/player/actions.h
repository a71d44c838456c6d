// The two actions that are not recording paths. The player leaves with them
// (keys C and R), the start menu returns them, and the action loop tells them
// from paths by whole, case-sensitive comparison.
#pragma once

constexpr const char* kConvertAction = "__CONVERT__";
constexpr const char* kRtspAction = "__RTSP__";
