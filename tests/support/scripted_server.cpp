#include "scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

namespace {

void set_receive_timeout(int fd, int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

void run_script(ScriptedServer* server, Script script) {
  pollfd pfd{server->listen_fd, POLLIN, 0};
  if (poll(&pfd, 1, 10000) != 1) return;
  ScriptedConnection connection;
  connection.fd = accept(server->listen_fd, nullptr, nullptr);
  if (connection.fd < 0) return;
  server->accepted = true;
  connection.server = server;
  set_receive_timeout(connection.fd, 10000);
  script(connection);
  close(connection.fd);
}

}  // namespace

ScriptedServer::~ScriptedServer() { finish_scripted_server(*this); }

std::unique_ptr<ScriptedServer> start_scripted_server(Script script, std::string& error) {
  auto server = std::make_unique<ScriptedServer>();
  server->listen_fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (server->listen_fd < 0 || bind(server->listen_fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      listen(server->listen_fd, 1) != 0 ||
      getsockname(server->listen_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    error = "the scripted server cannot listen on loopback";
    return nullptr;
  }
  server->port = ntohs(addr.sin_port);
  server->thread = std::thread(run_script, server.get(), std::move(script));
  return server;
}

void finish_scripted_server(ScriptedServer& server) {
  if (server.thread.joinable()) server.thread.join();
  if (server.listen_fd >= 0) close(server.listen_fd);
  server.listen_fd = -1;
}

std::string scripted_server_url(const ScriptedServer& server, const std::string& path) {
  return "rtsp://127.0.0.1:" + std::to_string(server.port) + path;
}

std::string scripted_read_request_within(ScriptedConnection& connection, int max_ms) {
  set_receive_timeout(connection.fd, max_ms);
  std::string head;
  char byte;
  while (recv(connection.fd, &byte, 1, 0) == 1) {
    head += byte;
    connection.server->received += byte;
    if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) break;
  }
  set_receive_timeout(connection.fd, 10000);
  if (!head.empty()) connection.server->requests.push_back(head);
  return head;
}

std::string scripted_read_request(ScriptedConnection& connection) {
  return scripted_read_request_within(connection, 10000);
}

bool scripted_send(ScriptedConnection& connection, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(connection.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void scripted_read_until_close(ScriptedConnection& connection) {
  char buffer[4096];
  ssize_t n;
  while ((n = recv(connection.fd, buffer, sizeof buffer, 0)) > 0)
    connection.server->received.append(buffer, static_cast<size_t>(n));
}

Script reply_in_turn(std::vector<std::string> replies) {
  return [replies = std::move(replies)](ScriptedConnection& connection) {
    for (const std::string& reply : replies) {
      if (scripted_read_request(connection).empty()) return;
      if (!scripted_send(connection, reply)) return;
    }
    scripted_read_until_close(connection);
  };
}

std::string interleaved(int channel, const std::string& data) {
  std::string frame = "$";
  frame += static_cast<char>(channel);
  frame += static_cast<char>((data.size() >> 8) & 0xFF);
  frame += static_cast<char>(data.size() & 0xFF);
  return frame + data;
}

ScriptedUdpPorts::~ScriptedUdpPorts() {
  if (rtp_fd >= 0) close(rtp_fd);
  if (rtcp_fd >= 0) close(rtcp_fd);
}

int bind_scripted_udp(const char* address, int port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || inet_pton(AF_INET, address, &addr.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

bool open_scripted_udp_ports(ScriptedUdpPorts& ports, const char* address) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    int probe = bind_scripted_udp(address, 0);
    if (probe < 0) return false;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
    close(probe);
    const int even = ntohs(addr.sin_port) & ~1;
    ports.rtp_fd = bind_scripted_udp(address, even);
    ports.rtcp_fd = ports.rtp_fd < 0 ? -1 : bind_scripted_udp(address, even + 1);
    if (ports.rtcp_fd >= 0) {
      ports.rtp_port = even;
      return true;
    }
    if (ports.rtp_fd >= 0) close(ports.rtp_fd);
    ports.rtp_fd = -1;
  }
  return false;
}

bool scripted_send_datagram(int fd, int port, const std::string& bytes) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(bytes.size());
}

int client_port_of(const std::string& setup_request) {
  size_t at = setup_request.find("client_port=");
  return at == std::string::npos ? 0 : std::atoi(setup_request.c_str() + at + 12);
}
