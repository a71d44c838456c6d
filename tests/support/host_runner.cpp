#include "host_runner.h"

#ifdef _WIN32

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

#include "rtsp/net_socket.h"

namespace {

// Sends the NUL-separated request and reads the whole answer; false with the
// reason in `answer` when the runner cannot be reached.
bool exchange(const std::vector<std::string>& fields, std::string& answer) {
  const char* port = std::getenv("H264_HOST_RUNNER_PORT");
  if (!port || !*port) {
    answer = "H264_HOST_RUNNER_PORT is not set: run the Windows tests with scripts/test-windows.sh\n";
    return false;
  }
  net_startup();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s == INVALID_SOCKET ||
      connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (s != INVALID_SOCKET) closesocket(s);
    answer = "cannot reach the host runner on port " + std::string(port) + "\n";
    return false;
  }
  std::string request;
  for (size_t i = 0; i < fields.size(); ++i) request += (i ? std::string(1, '\0') : "") + fields[i];
  for (size_t sent = 0; sent < request.size();) {
    const int n = send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(s, SD_SEND);
  answer.clear();
  char buffer[65536];
  for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
  closesocket(s);
  return true;
}

// The number on the answer's first line; the rest goes to *rest.
long first_line_number(const std::string& answer, std::string* rest) {
  const size_t end = answer.find('\n');
  if (rest) *rest = end == std::string::npos ? "" : answer.substr(end + 1);
  return end == std::string::npos ? -1 : std::atol(answer.substr(0, end).c_str());
}

}  // namespace

int host_run(const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> fields = {"run"};
  fields.insert(fields.end(), args.begin(), args.end());
  std::string answer;
  if (!exchange(fields, answer)) {
    if (output) *output = answer;
    return -1;
  }
  return static_cast<int>(first_line_number(answer, output));
}

long host_spawn(const std::vector<std::string>& args, const std::string& log_path,
                std::string& error) {
  std::vector<std::string> fields = {"spawn", log_path};
  fields.insert(fields.end(), args.begin(), args.end());
  std::string answer;
  if (!exchange(fields, answer)) {
    error = answer;
    return -1;
  }
  const long pid = first_line_number(answer, &error);
  return pid;
}

bool host_signal(long pid, int number) {
  std::string answer;
  return exchange({"signal", std::to_string(pid), std::to_string(number)}, answer) &&
         first_line_number(answer, nullptr) == 0;
}

#else

int host_run(const std::vector<std::string>&, std::string* output) {
  if (output) *output = "the host runner is for Windows test programs only\n";
  return -1;
}

long host_spawn(const std::vector<std::string>&, const std::string&, std::string& error) {
  error = "the host runner is for Windows test programs only";
  return -1;
}

bool host_signal(long, int) { return false; }

#endif
