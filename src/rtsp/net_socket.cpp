#include "rtsp/net_socket.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif

namespace {

// Waits are cut into slices this long so that a cancel request is seen soon.
constexpr int kWaitSliceMs = 20;

// Both socket interfaces take the length as an int.
int clamp_length(size_t size) { return static_cast<int>(size > INT_MAX ? INT_MAX : size); }

#ifdef _WIN32
using NativeSocket = SOCKET;
const NativeSocket kNoSocket = INVALID_SOCKET;
void close_native(NativeSocket s) { closesocket(s); }
bool interrupted() { return WSAGetLastError() == WSAEINTR; }
bool connect_pending() { return WSAGetLastError() == WSAEWOULDBLOCK; }
bool set_non_blocking(NativeSocket s, bool on) {
  u_long value = on ? 1 : 0;
  return ioctlsocket(s, FIONBIO, &value) == 0;
}
// 1 when ready, 0 when the slice passed, -1 on an error. select works on
// every Windows version and for a single socket costs nothing more than WSAPoll.
int wait_native(NativeSocket s, bool for_write, int ms) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  int n = select(0, for_write ? nullptr : &ready, for_write ? &ready : nullptr, &failed, &limit);
  if (n < 0) return interrupted() ? 0 : -1;
  return n > 0 ? 1 : 0;  // a failed socket counts as ready: the call that follows reports it
}
#else
using NativeSocket = int;
const NativeSocket kNoSocket = -1;
void close_native(NativeSocket s) { close(s); }
bool interrupted() { return errno == EINTR; }
bool connect_pending() { return errno == EINPROGRESS; }
bool set_non_blocking(NativeSocket s, bool on) {
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(s, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}
int wait_native(NativeSocket s, bool for_write, int ms) {
  pollfd wait_for{s, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
  int n = poll(&wait_for, 1, ms);
  if (n < 0) return interrupted() ? 0 : -1;
  return n > 0 ? 1 : 0;  // POLLERR and POLLHUP count as ready: the call that follows reports them
}
#endif

NativeSocket native(const NetSocket& socket) { return static_cast<NativeSocket>(socket.handle); }

bool cancelled(const NetSocket& socket) { return socket.cancel && socket.cancel->load(); }

enum class WaitResult { ready, timed_out, failed };

// Waits in slices until the socket is ready, `timeout_ms` passed (0 or less:
// no limit) or the wait is cancelled (failed).
WaitResult wait_ready(const NetSocket& socket, NativeSocket s, bool for_write, int timeout_ms) {
  const uint64_t end = timeout_ms > 0 ? net_now_ms() + static_cast<uint64_t>(timeout_ms) : UINT64_MAX;
  while (true) {
    if (cancelled(socket)) return WaitResult::failed;
    const uint64_t now = net_now_ms();
    if (now >= end) return WaitResult::timed_out;
    const uint64_t left = end - now;
    int slice = left < static_cast<uint64_t>(kWaitSliceMs) ? static_cast<int>(left) : kWaitSliceMs;
    int n = wait_native(s, for_write, slice);
    if (n < 0) return WaitResult::failed;
    if (n > 0) return WaitResult::ready;
  }
}

// Connects without blocking and waits for the outcome at most `timeout_ms`;
// the socket stays non-blocking (every later call waits for readiness first).
bool connect_within(const NetSocket& owner, NativeSocket s, const sockaddr* address, int length,
                    int timeout_ms) {
  if (!set_non_blocking(s, true)) return false;
#ifdef _WIN32
  bool connected = ::connect(s, address, length) == 0;
#else
  bool connected = ::connect(s, address, static_cast<socklen_t>(length)) == 0;
#endif
  if (connected) return true;
  if (!connect_pending()) return false;
  if (wait_ready(owner, s, true, timeout_ms) != WaitResult::ready) return false;
  int error = 0;
#ifdef _WIN32
  int size = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) return false;
#else
  socklen_t size = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return false;
#endif
  return error == 0;
}

bool would_block() {
#ifdef _WIN32
  return WSAGetLastError() == WSAEWOULDBLOCK;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}


#ifdef _WIN32
using SocketLength = int;
#else
using SocketLength = socklen_t;
#endif

sockaddr_storage& storage_of(NetAddress& address) {
  static_assert(sizeof(NetAddress::bytes) >= sizeof(sockaddr_storage), "NetAddress holds any socket address");
  return *reinterpret_cast<sockaddr_storage*>(address.bytes);
}

const sockaddr_storage& storage_of(const NetAddress& address) {
  return *reinterpret_cast<const sockaddr_storage*>(address.bytes);
}

void store_address(const sockaddr_storage& from, SocketLength length, NetAddress& address) {
  address = NetAddress{};
  if ((from.ss_family != AF_INET && from.ss_family != AF_INET6) || length <= 0) return;
  const size_t size = static_cast<size_t>(length) < sizeof(sockaddr_storage) ? static_cast<size_t>(length)
                                                                           : sizeof(sockaddr_storage);
  std::memcpy(address.bytes, &from, size);
  address.length = static_cast<int>(size);
}

// The host as 16 bytes: an IPv6 address as it is, an IPv4 one in its mapped form.
bool host_bytes(const NetAddress& address, uint8_t out[16]) {
  const sockaddr_storage& a = storage_of(address);
  if (a.ss_family == AF_INET6) {
    std::memcpy(out, &reinterpret_cast<const sockaddr_in6*>(&a)->sin6_addr, 16);
    return true;
  }
  if (a.ss_family != AF_INET) return false;
  std::memset(out, 0, 10);
  out[10] = out[11] = 0xFF;
  std::memcpy(out + 12, &reinterpret_cast<const sockaddr_in*>(&a)->sin_addr, 4);
  return true;
}

}  // namespace

NetSocket::NetSocket(NetSocket&& other) noexcept
    : handle(std::exchange(other.handle, -1)),
      peer_closed(other.peer_closed),
      receive_timeout_ms(other.receive_timeout_ms),
      send_timeout_ms(other.send_timeout_ms),
      cancel(other.cancel) {}

NetSocket& NetSocket::operator=(NetSocket&& other) noexcept {
  if (this != &other) {
    net_close(*this);
    handle = std::exchange(other.handle, -1);
    peer_closed = other.peer_closed;
    receive_timeout_ms = other.receive_timeout_ms;
    send_timeout_ms = other.send_timeout_ms;
    cancel = other.cancel;
  }
  return *this;
}

NetSocket::~NetSocket() { net_close(*this); }

void net_startup() {
#ifdef _WIN32
  // Started once per process; the matching WSACleanup runs at exit.
  static const bool started = [] {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    std::atexit([] { WSACleanup(); });
    return true;
  }();
  (void)started;
#endif
}

bool net_is_open(const NetSocket& socket) { return socket.handle != -1; }

uint64_t net_now_ms() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool net_connect(const std::string& host, int port, NetSocket& socket, std::string& error) {
  return net_connect_within(host, port, socket, error, kDefaultConnectTimeoutMs);
}

bool net_connect_within(const std::string& host, int port, NetSocket& socket, std::string& error,
                        int timeout_ms) {
  net_close(socket);
  socket.peer_closed = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;  // a camera may have only an IPv6 address
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    error = "cannot resolve host \"" + host + "\"";
    return false;
  }
  int count = 0;
  for (const addrinfo* a = found; a; a = a->ai_next) ++count;
  const int limit = timeout_ms > 0 ? timeout_ms : kDefaultConnectTimeoutMs;
  const uint64_t end = net_now_ms() + static_cast<uint64_t>(limit);
  NativeSocket connected = kNoSocket;
  bool created = false;
  // A name may give an address the camera does not answer on (an IPv6 one
  // for an IPv4-only camera): the next one is tried, each getting its share
  // of the time left.
  for (const addrinfo* a = found; a && connected == kNoSocket && !cancelled(socket); a = a->ai_next, --count) {
    NativeSocket s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == kNoSocket) continue;
    created = true;
    const uint64_t now = net_now_ms();
    const int share = now >= end ? 1 : static_cast<int>((end - now) / static_cast<uint64_t>(count));
    if (connect_within(socket, s, a->ai_addr, static_cast<int>(a->ai_addrlen), share > 0 ? share : 1))
      connected = s;
    else
      close_native(s);
  }
  freeaddrinfo(found);
  if (connected == kNoSocket) {
    const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
    error = created ? "cannot connect to " + shown + ":" + std::to_string(port) : "cannot create a socket";
    return false;
  }
  socket.handle = static_cast<intptr_t>(connected);
  return true;
}

void net_set_receive_timeout(NetSocket& socket, int milliseconds) {
  socket.receive_timeout_ms = milliseconds;
}

void net_set_send_timeout(NetSocket& socket, int milliseconds) {
  socket.send_timeout_ms = milliseconds;
}

uint64_t net_message_deadline(const NetSocket& socket) {
  if (socket.receive_timeout_ms <= 0) return UINT64_MAX;
  return net_now_ms() + 2 * static_cast<uint64_t>(socket.receive_timeout_ms);
}

bool net_deadline_passed(uint64_t deadline) { return net_now_ms() > deadline; }

long net_send(NetSocket& socket, const void* data, size_t size) {
  if (!net_is_open(socket)) return -1;
  for (;;) {
    long n = ::send(native(socket), static_cast<const char*>(data), clamp_length(size), MSG_NOSIGNAL);
    if (n < 0 && interrupted()) continue;
    if (n < 0 && would_block()) {
      if (wait_ready(socket, native(socket), true, socket.send_timeout_ms) != WaitResult::ready)
        return -1;
      continue;
    }
    return n;
  }
}

long net_recv(NetSocket& socket, void* data, size_t size) {
  if (!net_is_open(socket)) return -1;
  for (;;) {
    WaitResult waited = wait_ready(socket, native(socket), false, socket.receive_timeout_ms);
    if (waited == WaitResult::timed_out) return -1;
    if (waited == WaitResult::failed) {
      socket.peer_closed = true;
      return -1;
    }
    long n = ::recv(native(socket), static_cast<char*>(data), clamp_length(size), 0);
    if (n < 0 && (interrupted() || would_block())) continue;
    if (n <= 0) socket.peer_closed = true;
    return n;
  }
}

void net_close(NetSocket& socket) {
  if (!net_is_open(socket)) return;
  close_native(native(socket));
  socket.handle = -1;
}

NetAddress net_peer(const NetSocket& socket) {
  NetAddress address;
  if (!net_is_open(socket)) return address;
  sockaddr_storage peer{};
  SocketLength size = sizeof peer;
  if (getpeername(native(socket), reinterpret_cast<sockaddr*>(&peer), &size) != 0) return address;
  store_address(peer, size, address);
  return address;
}

bool net_numeric_address(const std::string& text, int port, NetAddress& address) {
  address = NetAddress{};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (text.empty() || getaddrinfo(text.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
    return false;
  sockaddr_storage copy{};
  const size_t length = found->ai_addrlen < sizeof copy ? found->ai_addrlen : sizeof copy;
  std::memcpy(&copy, found->ai_addr, length);
  freeaddrinfo(found);
  store_address(copy, static_cast<SocketLength>(length), address);
  return address.length > 0;
}

std::string net_address_text(const NetAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  const sockaddr_storage& a = storage_of(address);
  if (address.length == 0) return "";
  if (a.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
    if (!inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) return "";
  } else if (a.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
    if (!inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) return "";
  } else {
    return "";
  }
  return text;
}

int net_address_port(const NetAddress& address) {
  const sockaddr_storage& a = storage_of(address);
  if (address.length == 0) return 0;
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&a)->sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&a)->sin6_port);
  return 0;
}

void net_set_address_port(NetAddress& address, int port) {
  sockaddr_storage& a = storage_of(address);
  const uint16_t value = htons(static_cast<uint16_t>(port));
  if (address.length == 0) return;
  if (a.ss_family == AF_INET) reinterpret_cast<sockaddr_in*>(&a)->sin_port = value;
  if (a.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6*>(&a)->sin6_port = value;
}

bool net_address_is_ipv6(const NetAddress& address) {
  return address.length > 0 && storage_of(address).ss_family == AF_INET6;
}

bool net_same_host(const NetAddress& a, const NetAddress& b) {
  uint8_t first[16], second[16];
  return a.length > 0 && b.length > 0 && host_bytes(a, first) && host_bytes(b, second) &&
         std::memcmp(first, second, sizeof first) == 0;
}

bool net_bind_udp(int port, bool ipv6, NetSocket& socket, std::string& error) {
  net_close(socket);
  socket.peer_closed = false;
  NativeSocket s = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
  if (s == kNoSocket) {
    error = "cannot create a UDP socket";
    return false;
  }
  sockaddr_storage local{};
  SocketLength length = 0;
  if (ipv6) {
    // Dual stack where the system allows it: a camera reached over IPv6 may
    // still name an IPv4 source for its media.
    int v6_only = 0;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6_only), sizeof v6_only);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&local);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_any;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in6);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&local);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_ANY);
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in);
  }
  if (::bind(s, reinterpret_cast<sockaddr*>(&local), length) != 0 || !set_non_blocking(s, true)) {
    close_native(s);
    error = "cannot bind UDP port " + std::to_string(port);
    return false;
  }
#ifdef _WIN32
  // Windows reports an ICMP "port unreachable" for an earlier datagram (a
  // receiver report to a server that has gone) as a failed receive; RTP
  // keeps coming on this port regardless, so that report is turned off.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif
  BOOL report_resets = FALSE;
  DWORD returned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report_resets, sizeof report_resets, nullptr, 0, &returned, nullptr,
           nullptr);
#endif
  // A burst of a large key picture must not overflow the system's default
  // buffer; the system may grant less (Linux caps it at net.core.rmem_max).
  int buffer = kUdpReceiveBufferBytes;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
  socket.handle = static_cast<intptr_t>(s);
  return true;
}

int net_receive_buffer_bytes(const NetSocket& socket) {
  if (!net_is_open(socket)) return 0;
  int buffer = 0;
  SocketLength size = sizeof buffer;
  if (getsockopt(native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&buffer), &size) != 0) return 0;
  return buffer;
}

int net_local_port(const NetSocket& socket) {
  if (!net_is_open(socket)) return 0;
  sockaddr_storage local{};
  SocketLength size = sizeof local;
  if (getsockname(native(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
  NetAddress address;
  store_address(local, size, address);
  return net_address_port(address);
}

bool net_bind_udp_pair(bool ipv6, NetSocket& even, NetSocket& odd, std::string& error) {
  // Let the system pick a port, step to the even one at or below it, and try
  // the pair; ports in use are skipped by trying again.
  for (int attempt = 0; attempt < 32; ++attempt) {
    NetSocket probe;
    if (!net_bind_udp(0, ipv6, probe, error)) return false;
    int port = net_local_port(probe) & ~1;
    net_close(probe);
    if (port < 1024) continue;
    std::string ignored;
    if (net_bind_udp(port, ipv6, even, ignored) && net_bind_udp(port + 1, ipv6, odd, ignored)) return true;
    net_close(even);
    net_close(odd);
  }
  error = "no free pair of UDP ports for RTP and RTCP";
  return false;
}

long net_receive_datagram(NetSocket& socket, void* data, size_t size, NetAddress& from, bool wait) {
  from = NetAddress{};
  if (!net_is_open(socket)) return -1;
  for (;;) {
    if (cancelled(socket)) {
      socket.peer_closed = true;
      return -1;
    }
    if (wait) {
      WaitResult waited = wait_ready(socket, native(socket), false, socket.receive_timeout_ms);
      if (waited == WaitResult::timed_out) return -1;
      if (waited == WaitResult::failed) {
        socket.peer_closed = true;
        return -1;
      }
    }
    sockaddr_storage sender{};
    SocketLength sender_size = sizeof sender;
    long n = ::recvfrom(native(socket), static_cast<char*>(data), clamp_length(size), 0,
                        reinterpret_cast<sockaddr*>(&sender), &sender_size);
    if (n < 0 && interrupted()) continue;
    if (n < 0 && would_block() && wait) continue;
    // Nothing queued, or an error a datagram socket may report for an
    // earlier send (the next datagram is unaffected).
    if (n < 0) return -1;
    store_address(sender, sender_size, from);
    return n;
  }
}

namespace {

// 1 when one of the open sockets is ready to read, 0 when the slice passed, -1 on an error.
int wait_any_native(NetSocket* const* sockets, size_t count, int ms) {
#ifdef _WIN32
  fd_set ready;
  FD_ZERO(&ready);
  for (size_t i = 0; i < count; ++i)
    if (net_is_open(*sockets[i])) FD_SET(native(*sockets[i]), &ready);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  int n = select(0, &ready, nullptr, nullptr, &limit);
  if (n < 0) return interrupted() ? 0 : -1;
  return n > 0 ? 1 : 0;
#else
  pollfd waits[8];
  nfds_t used = 0;
  for (size_t i = 0; i < count && used < 8; ++i)
    if (net_is_open(*sockets[i])) waits[used++] = pollfd{native(*sockets[i]), POLLIN, 0};
  int n = poll(waits, used, ms);
  if (n < 0) return interrupted() ? 0 : -1;
  return n > 0 ? 1 : 0;
#endif
}

}  // namespace

bool net_wait_any_readable(NetSocket* const* sockets, size_t count, int timeout_ms) {
  bool any_open = false;
  for (size_t i = 0; i < count; ++i) any_open = any_open || net_is_open(*sockets[i]);
  if (!any_open) return false;
  const uint64_t end = timeout_ms > 0 ? net_now_ms() + static_cast<uint64_t>(timeout_ms) : UINT64_MAX;
  while (true) {
    if (cancelled(*sockets[0])) return false;
    const uint64_t now = net_now_ms();
    if (now >= end) return false;
    const uint64_t left = end - now;
    const int slice = left < static_cast<uint64_t>(kWaitSliceMs) ? static_cast<int>(left) : kWaitSliceMs;
    const int n = wait_any_native(sockets, count, slice);
    if (n < 0) return false;
    if (n > 0) return true;
  }
}

bool net_send_datagram(NetSocket& socket, const NetAddress& to, const void* data, size_t size) {
  if (!net_is_open(socket) || to.length == 0) return false;
  sockaddr_storage local{};
  SocketLength local_size = sizeof local;
  if (getsockname(native(socket), reinterpret_cast<sockaddr*>(&local), &local_size) != 0) return false;
  sockaddr_storage target = storage_of(to);
  SocketLength target_size = static_cast<SocketLength>(to.length);
  if (local.ss_family == AF_INET6 && target.ss_family == AF_INET) {
    // An IPv6 socket reaches an IPv4 host by its mapped address.
    sockaddr_in6 mapped{};
    mapped.sin6_family = AF_INET6;
    mapped.sin6_port = reinterpret_cast<const sockaddr_in*>(&target)->sin_port;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&mapped.sin6_addr);
    bytes[10] = bytes[11] = 0xFF;
    std::memcpy(bytes + 12, &reinterpret_cast<const sockaddr_in*>(&target)->sin_addr, 4);
    std::memcpy(&target, &mapped, sizeof mapped);
    target_size = sizeof mapped;
  } else if (local.ss_family != target.ss_family) {
    return false;
  }
  long n = ::sendto(native(socket), static_cast<const char*>(data), clamp_length(size), 0,
                    reinterpret_cast<const sockaddr*>(&target), target_size);
  return n == static_cast<long>(size);
}
