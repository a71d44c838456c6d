// Feeding fuzz input to code that reads a NetSocket: the bytes go into one
// end of a local stream socket pair whose sending side is then shut, so the
// reader sees exactly these bytes and then the end of the connection, never
// a wait. What the reader sends back is buffered on the other end and dropped.
// For UDP, datagrams are sent over loopback from a server's ports or strangers'.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "rtsp/net_socket.h"

// Socket buffers hold a little over 200 KB; larger inputs are not fed.
constexpr size_t kMaxFedBytes = 150000;

struct FedSocket {
  NetSocket reader;
  int peer = -1;
  FedSocket() = default;
  FedSocket(const FedSocket&) = delete;
  FedSocket& operator=(const FedSocket&) = delete;
  ~FedSocket() {
    if (peer != -1) close(peer);
  }
};

// False when the input is too large to buffer.
inline bool feed_socket(const uint8_t* data, size_t size, FedSocket& fed) {
  if (size > kMaxFedBytes) return false;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) std::abort();
  int buffer = 1 << 20;
  setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  setsockopt(ends[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  fed.reader.handle = ends[0];
  fed.peer = ends[1];
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = send(fed.peer, data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) std::abort();
    sent += static_cast<size_t>(n);
  }
  shutdown(fed.peer, SHUT_WR);
  return true;
}

// The senders a UDP fuzz target uses: the server's RTP port and the RTCP port
// after it on 127.0.0.1, another port there, and another host (127.0.0.2) at
// the server's RTP port number.
struct UdpSenders {
  int fds[4] = {-1, -1, -1, -1};
  int server_port = 0;
  UdpSenders() = default;
  UdpSenders(const UdpSenders&) = delete;
  UdpSenders& operator=(const UdpSenders&) = delete;
  ~UdpSenders() {
    for (int fd : fds)
      if (fd != -1) close(fd);
  }
};

inline int bind_fuzz_udp(const char* address, int port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || inet_pton(AF_INET, address, &local.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// False when no even/odd pair (or the other sockets) could be bound.
inline bool open_udp_senders(UdpSenders& senders) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    int probe = bind_fuzz_udp("127.0.0.1", 0);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (probe < 0 || getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) != 0) return false;
    close(probe);
    const int even = ntohs(local.sin_port) & ~1;
    senders.fds[0] = bind_fuzz_udp("127.0.0.1", even);
    senders.fds[1] = senders.fds[0] < 0 ? -1 : bind_fuzz_udp("127.0.0.1", even + 1);
    if (senders.fds[1] >= 0) {
      senders.server_port = even;
      senders.fds[2] = bind_fuzz_udp("127.0.0.1", 0);
      senders.fds[3] = bind_fuzz_udp("127.0.0.2", even);
      return senders.fds[2] >= 0 && senders.fds[3] >= 0;
    }
    if (senders.fds[0] >= 0) close(senders.fds[0]);
    senders.fds[0] = -1;
  }
  return false;
}

// Sends one datagram from sender `which` to 127.0.0.1:`port`; false when it did not go.
inline bool send_from(const UdpSenders& senders, int which, int port, const uint8_t* data, size_t size) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sendto(senders.fds[which], data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(size);
}

// Takes away whatever waits on a UDP socket.
inline void drain_udp(NetSocket& socket) {
  uint8_t scratch[65536];
  NetAddress from;
  while (net_receive_datagram(socket, scratch, sizeof scratch, from, false) >= 0) {
  }
  socket.peer_closed = false;
}
