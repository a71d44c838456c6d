// Feeding fuzz input to code that reads a NetSocket: the bytes go into one
// end of a local stream socket pair whose sending side is then shut, so the
// reader sees exactly these bytes and then the end of the connection, never
// a wait. What the reader sends back is buffered on the other end and dropped.
#pragma once

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
