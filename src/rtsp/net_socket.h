// IPv4 client sockets (TCP for the control connection, UDP for RTP when a
// server will not interleave): POSIX sockets, or Windows sockets under _WIN32,
// behind the same few functions. Results follow recv/send: a count above 0 is
// data, 0 or less is a failure, a time-out or a closed connection.
//
// Every wait (connect, receive, send) is a poll (select on Windows) in short
// slices, never a socket time-out option: Windows leaves a socket's state
// undefined after an SO_RCVTIMEO time-out, and slices let another thread
// cancel a wait within a few tens of milliseconds.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct NetSocket {
  intptr_t handle = -1;     // file descriptor, or the SOCKET value on Windows
  bool peer_closed = false; // set once a receive saw the connection end (not a time-out)
  int receive_timeout_ms = 0;  // longest wait of one receive; 0: no limit
  int send_timeout_ms = 0;     // longest wait of one send; 0: no limit
  // When set and true, every wait ends at once as if the connection had closed.
  const std::atomic<bool>* cancel = nullptr;
  NetSocket() = default;
  NetSocket(NetSocket&& other) noexcept;
  NetSocket& operator=(NetSocket&& other) noexcept;
  NetSocket(const NetSocket&) = delete;
  NetSocket& operator=(const NetSocket&) = delete;
  ~NetSocket();  // closes the connection
};

// How long a connect may take when the caller names no limit.
constexpr int kDefaultConnectTimeoutMs = 5000;

// Starts the socket library (Windows only; nothing elsewhere). Safe to call again.
void net_startup();

// Resolves `host` for IPv4 only, and connects to the first address found
// within kDefaultConnectTimeoutMs; no other address is tried. False with
// `error` (a short human reason) on failure.
bool net_connect(const std::string& host, int port, NetSocket& socket, std::string& error);

// The same, giving up on a connection not made within `timeout_ms` (0 or less:
// kDefaultConnectTimeoutMs). Honours `socket.cancel` while waiting.
bool net_connect_within(const std::string& host, int port, NetSocket& socket, std::string& error,
                        int timeout_ms);

// True while the socket holds an open connection (or a bound UDP socket).
bool net_is_open(const NetSocket& socket);

// Sets how long one receive may wait, in milliseconds.
void net_set_receive_timeout(NetSocket& socket, int milliseconds);

// Sets how long one send may wait, in milliseconds. A server that stops
// reading fills the connection's buffers; without a limit the next request
// would block the caller for ever.
void net_set_send_timeout(NetSocket& socket, int milliseconds);

// When a message of several receives (a response head, a body, a frame) must
// have arrived: twice the receive time-out from now. A server that trickles
// its bytes keeps every single receive under the time-out, and without this
// would hold the caller for hours. UINT64_MAX without a time-out.
uint64_t net_message_deadline(const NetSocket& socket);

// True once the steady clock has passed `deadline`.
bool net_deadline_passed(uint64_t deadline);

// Milliseconds of the steady clock.
uint64_t net_now_ms();

// One send, after waiting at most the send time-out for room; never raises
// SIGPIPE when the peer has gone.
long net_send(NetSocket& socket, const void* data, size_t size);

// One receive of at most `size` bytes, after waiting at most the receive
// time-out for data (-1 on a time-out, `peer_closed` untouched). Retries a call
// interrupted by a signal; marks `peer_closed` when the connection ended or
// broke, or the wait was cancelled. On a UDP socket it receives one datagram.
long net_recv(NetSocket& socket, void* data, size_t size);

// Closes the connection (nothing when already closed).
void net_close(NetSocket& socket);

// The IPv4 address of the connected peer as dotted text; empty when unknown.
std::string net_peer_address(const NetSocket& socket);

// Binds a UDP socket on all local IPv4 addresses at `port` (0: any free
// port). False with `error` when the port is taken or no socket can be made.
bool net_bind_udp(int port, NetSocket& socket, std::string& error);

// The local port a socket is bound to; 0 when unknown.
int net_local_port(const NetSocket& socket);

// Binds two UDP sockets on a free even port and the odd port after it, as RTP
// and RTCP want them. False with `error` when no pair was found.
bool net_bind_udp_pair(NetSocket& even, NetSocket& odd, std::string& error);

// Sends one datagram to `address`:`port` from a UDP socket; false on failure.
bool net_send_to(NetSocket& socket, const std::string& address, int port, const void* data,
                 size_t size);
