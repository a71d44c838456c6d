// Blocking IPv4 TCP client sockets: POSIX sockets, or Windows sockets under
// _WIN32, behind the same few functions. Results follow recv/send: a count
// above 0 is data, 0 or less is a failure, a time-out or a closed connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct NetSocket {
  intptr_t handle = -1;     // file descriptor, or the SOCKET value on Windows
  bool peer_closed = false; // set once a receive saw the connection end (not a time-out)
  int receive_timeout_ms = 0;  // as last set; 0 when never set (receives may wait for ever)
  NetSocket() = default;
  NetSocket(NetSocket&& other) noexcept;
  NetSocket& operator=(NetSocket&& other) noexcept;
  NetSocket(const NetSocket&) = delete;
  NetSocket& operator=(const NetSocket&) = delete;
  ~NetSocket();  // closes the connection
};

// Starts the socket library (Windows only; nothing elsewhere). Safe to call again.
void net_startup();

// Resolves `host` for IPv4 only, and connects to the first address found; no
// other address is tried. False with `error` (a short human reason) on failure.
bool net_connect(const std::string& host, int port, NetSocket& socket, std::string& error);

// The same, giving up on a connection not made within `timeout_ms` (0: no
// limit of its own, the system's one applies).
bool net_connect_within(const std::string& host, int port, NetSocket& socket, std::string& error,
                        int timeout_ms);

// True while the socket holds an open connection.
bool net_is_open(const NetSocket& socket);

// Sets how long one receive may wait, in milliseconds (SO_RCVTIMEO).
void net_set_receive_timeout(NetSocket& socket, int milliseconds);

// Sets how long one send may wait, in milliseconds (SO_SNDTIMEO). A server
// that stops reading fills the connection's buffers; without a limit the
// next request would block the caller (and the window) for ever.
void net_set_send_timeout(NetSocket& socket, int milliseconds);

// When a message of several receives (a response head, a body, a frame) must
// have arrived: twice the receive time-out from now. A server that trickles
// its bytes keeps every single receive under the time-out, and without this
// would hold the caller (and the window) for hours. UINT64_MAX without a
// time-out.
uint64_t net_message_deadline(const NetSocket& socket);

// True once the steady clock has passed `deadline`.
bool net_deadline_passed(uint64_t deadline);

// One send; never raises SIGPIPE when the peer has gone.
long net_send(NetSocket& socket, const void* data, size_t size);

// One receive of at most `size` bytes. Retries a call interrupted by a signal;
// marks `peer_closed` when the connection ended or broke.
long net_recv(NetSocket& socket, void* data, size_t size);

// Closes the connection (nothing when already closed).
void net_close(NetSocket& socket);
