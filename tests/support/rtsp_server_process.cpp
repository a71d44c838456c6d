#include "rtsp_server_process.h"

#ifdef _WIN32
// Under Wine the server runs on the Linux side, started by the host runner.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <random>

#include "host_runner.h"
#include "rtsp/net_socket.h"
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

#ifdef _WIN32
std::string python_program() { return "python3"; }  // the runner's is /usr/bin/python3
#else
// python3-gi is a Debian package of the system interpreter; a python3 found
// first on PATH (pyenv, venv) usually cannot import it.
std::string python_program() {
  if (access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
  return "python3";
}
#endif

std::vector<std::string> server_arguments(const RtspTestServerOptions& options) {
  std::vector<std::string> args = {python_program(),
                                   std::string(H264_SOURCE_DIR) + "/tests/support/rtsp_test_server.py",
                                   "--port", std::to_string(options.port), "--mount", options.mount,
                                   "--pattern", options.pattern, "--codec", options.codec,
                                   "--size", options.size};
  if (options.udp_only) args.push_back("--udp-only");
  if (!options.user.empty()) {
    args.insert(args.end(), {"--user", options.user, "--password", options.password});
    if (options.digest) args.push_back("--digest");
  }
  if (options.params_in_sdp_only) args.push_back("--params-in-sdp-only");
  if (options.bitrate_kbps > 0) args.insert(args.end(), {"--bitrate", std::to_string(options.bitrate_kbps)});
  if (options.aggregate) args.push_back("--aggregate");
  if (options.count > 0) args.insert(args.end(), {"--count", std::to_string(options.count)});
  if (!options.sound.empty()) args.insert(args.end(), {"--sound", options.sound});
  if (options.sound_first) args.push_back("--sound-first");
  if (!options.file.empty()) args.insert(args.end(), {"--file", options.file});
  args.insert(args.end(), {"--address", options.address});
  return args;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int port_from_log(const std::string& log) {
  size_t at = log.find("PORT ");
  if (at == std::string::npos || log.find('\n', at) == std::string::npos) return 0;
  return std::atoi(log.c_str() + at + 5);
}

#ifdef _WIN32

using NativeSocket = SOCKET;
void close_native(NativeSocket s) { closesocket(s); }
bool valid_native(NativeSocket s) { return s != INVALID_SOCKET; }

// A log file on the Linux side's /tmp (Wine's drive Z:), written there by
// the server and read here.
std::string new_log_path() {
  std::random_device random;
  return "Z:/tmp/rtsp_test_server_" + std::to_string(random()) + std::to_string(random()) + ".log";
}

bool spawn_server(const std::vector<std::string>& args, const std::string& log_path, pid_t& pid,
                  std::string& error) {
  const long started = host_spawn(args, log_path, error);
  pid = static_cast<pid_t>(started);
  return started > 0;
}

bool server_exited(pid_t) { return false; }  // the log's time limit tells instead

#else

using NativeSocket = int;
void close_native(NativeSocket s) { close(s); }
bool valid_native(NativeSocket s) { return s >= 0; }

bool spawn_server(const std::vector<std::string>& args, const std::string& log_path, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

std::string new_log_path() {
  char log_template[] = "/tmp/rtsp_test_server_XXXXXX";
  int log_fd = mkstemp(log_template);
  if (log_fd < 0) return "";
  close(log_fd);
  return log_template;
}

bool spawn_server(const std::vector<std::string>& args, const std::string& log_path, pid_t& pid,
                  std::string&) {
  return spawn_server(args, log_path, pid);
}

bool server_exited(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

#endif

// True when a TCP connection to `address`:`port` is accepted.
bool accepts_connections(const std::string& address, int port) {
#ifdef _WIN32
  net_startup();
#endif
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) return false;
  NativeSocket fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  bool ok = valid_native(fd) && connect(fd, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
  if (valid_native(fd)) close_native(fd);
  freeaddrinfo(found);
  return ok;
}

}  // namespace

#ifdef _WIN32
RtspServerProcess::~RtspServerProcess() {
  if (pid > 0) host_signal(pid, 15);  // SIGTERM; the runner reaps it
  if (!log_path.empty()) std::remove(log_path.c_str());
}
#else
RtspServerProcess::~RtspServerProcess() {
  if (pid > 0) {
    kill(pid, SIGTERM);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
      gone = waitpid(pid, &status, WNOHANG) == pid;
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!gone) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
  }
  if (!log_path.empty()) unlink(log_path.c_str());
}
#endif

std::unique_ptr<RtspServerProcess> start_rtsp_test_server(const RtspTestServerOptions& options,
                                                          std::string& error) {
  auto server = std::make_unique<RtspServerProcess>();
  server->mount = options.mount;
  server->address = options.address;
  server->log_path = new_log_path();
  if (server->log_path.empty()) {
    error = "cannot create the server's log file";
    return nullptr;
  }
  std::vector<std::string> args = server_arguments(options);
  std::string why;
  if (!spawn_server(args, server->log_path, server->pid, why)) {
    error = "cannot start " + args[0] + " for the RTSP test server " + why;
    return nullptr;
  }
  for (int waited_ms = 0; waited_ms < 10000; waited_ms += 20) {
    if (server_exited(server->pid)) {
      server->pid = -1;
      error = "the RTSP test server exited at start:\n" + read_file(server->log_path);
      return nullptr;
    }
    int port = port_from_log(read_file(server->log_path));
    if (port > 0 && accepts_connections(options.address, port)) {
      server->port = port;
      return server;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  error = "the RTSP test server did not accept connections within 10 s:\n" +
          read_file(server->log_path);
  return nullptr;
}

void silence_rtsp_test_server(const RtspServerProcess& server) {
#ifdef _WIN32
  if (server.pid > 0) host_signal(server.pid, 10);  // SIGUSR1 on Linux
#else
  if (server.pid > 0) kill(server.pid, SIGUSR1);
#endif
}

std::string rtsp_test_server_url(const RtspServerProcess& server, const std::string& credentials) {
  std::string url = "rtsp://";
  if (!credentials.empty()) url += credentials + "@";
  const bool ipv6 = server.address.find(':') != std::string::npos;
  url += ipv6 ? "[" + server.address + "]" : server.address;
  return url + ":" + std::to_string(server.port) + server.mount;
}

int rtsp_test_server_pictures_sent(const RtspServerProcess& server) {
  // "SENT n" at the start of a line ("SOUND_SENT n" is the sound's).
  const std::string log = "\n" + rtsp_test_server_log(server);
  const size_t at = log.rfind("\nSENT ");
  return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + 6);
}

std::string rtsp_test_server_log(const RtspServerProcess& server) {
  return read_file(server.log_path);
}

bool wait_for_rtsp_test_server_log(const RtspServerProcess& server, const std::string& text,
                                   int max_ms) {
  for (int waited_ms = 0;; waited_ms += 20) {
    if (rtsp_test_server_log(server).find(text) != std::string::npos) return true;
    if (waited_ms >= max_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
