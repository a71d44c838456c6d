// Client sockets, IPv4 or IPv6 (TCP for the control connection, UDP for RTP
// when a server will not interleave): POSIX sockets, or Windows sockets under
// _WIN32, behind the same few functions. Results follow recv/send: a count
// above 0 is data, 0 or less is a failure, a time-out or a closed connection.
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

// A socket address of either family with its port, kept as bytes so that this
// header needs no system socket header. `length` 0: no address.
struct NetAddress {
  alignas(8) uint8_t bytes[128] = {};  // a sockaddr_in or sockaddr_in6
  int length = 0;
};

// How long a connect may take when the caller names no limit.
constexpr int kDefaultConnectTimeoutMs = 5000;

// The receive buffer a UDP socket asks for: a camera sends a key picture as
// one burst (a 4K one is 1-2 MB, over 1000 datagrams), and the system charges
// each datagram well over its payload (about 1 KB of bookkeeping more).
constexpr int kUdpReceiveBufferBytes = 8 * 1024 * 1024;

// Starts the socket library (Windows only; nothing elsewhere). Safe to call again.
void net_startup();

// Resolves `host` (a name, or an IPv4 or IPv6 literal without brackets) for
// either family and connects to the addresses found in the resolver's order,
// each in turn until one answers, all within kDefaultConnectTimeoutMs. False
// with `error` (a short human reason) on failure.
bool net_connect(const std::string& host, int port, NetSocket& socket, std::string& error);

// The same, giving up on a connection not made within `timeout_ms` (0 or less:
// kDefaultConnectTimeoutMs; the time is shared out among the addresses still
// to try). Honours `socket.cancel` while waiting; the name lookup itself
// cannot be cut short.
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

// The connected peer's address and port; length 0 when unknown.
NetAddress net_peer(const NetSocket& socket);

// Reads an IPv4 or IPv6 literal (no name lookup) with `port`; false when the
// text is not one.
bool net_numeric_address(const std::string& text, int port, NetAddress& address);

// The address without its port as text ("10.0.0.5", "::1"); empty for no address.
std::string net_address_text(const NetAddress& address);

// The port of an address (0 when none), and setting it.
int net_address_port(const NetAddress& address);
void net_set_address_port(NetAddress& address, int port);

// True for an IPv6 address (an IPv4-mapped one included).
bool net_address_is_ipv6(const NetAddress& address);

// True when both name the same host, whatever their ports; an IPv4 address
// and its IPv4-mapped IPv6 form are the same host.
bool net_same_host(const NetAddress& a, const NetAddress& b);

// Binds a UDP socket on all local addresses at `port` (0: any free port):
// IPv4, or with `ipv6` IPv6 also taking IPv4 where the system allows. Asks for
// a receive buffer of kUdpReceiveBufferBytes. False with `error` when the
// port is taken or no socket can be made.
bool net_bind_udp(int port, bool ipv6, NetSocket& socket, std::string& error);

// The receive buffer the system granted the socket, in bytes as it reports
// it (Linux reports twice what it lets the payloads take); 0 when unknown.
int net_receive_buffer_bytes(const NetSocket& socket);

// The local port a socket is bound to; 0 when unknown.
int net_local_port(const NetSocket& socket);

// Binds two UDP sockets (as net_bind_udp) on a free even port and the odd port
// after it, as RTP and RTCP want them. False with `error` when no pair was found.
bool net_bind_udp_pair(bool ipv6, NetSocket& even, NetSocket& odd, std::string& error);

// Receives one datagram of at most `size` bytes (a longer one is cut) and
// its sender: with `wait`, after waiting at most the receive time-out; else
// only one already queued. Its size (0 for an empty datagram), or -1 when
// none came (a cancelled wait also marks `peer_closed`).
long net_receive_datagram(NetSocket& socket, void* data, size_t size, NetAddress& from, bool wait);

// Waits at most `timeout_ms` (0 or less: no limit) until one of `count`
// sockets has something to receive; the first socket's `cancel` ends the wait.
// True when one has; false on a time-out, a cancel or when none is open.
bool net_wait_any_readable(NetSocket* const* sockets, size_t count, int timeout_ms);

// Sends one datagram to `to` from a UDP socket (an IPv4 address from an IPv6
// socket goes as its mapped form); false on failure.
bool net_send_datagram(NetSocket& socket, const NetAddress& to, const void* data, size_t size);
