#include "rtsp/net_socket.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif

namespace {

// Both socket interfaces take the length as an int.
int clamp_length(size_t size) { return static_cast<int>(size > INT_MAX ? INT_MAX : size); }

#ifdef _WIN32
using NativeSocket = SOCKET;
const NativeSocket kNoSocket = INVALID_SOCKET;
void close_native(NativeSocket s) { closesocket(s); }
bool timed_out() { return WSAGetLastError() == WSAETIMEDOUT; }
bool interrupted() { return WSAGetLastError() == WSAEINTR; }
#else
using NativeSocket = int;
const NativeSocket kNoSocket = -1;
void close_native(NativeSocket s) { close(s); }
bool timed_out() { return errno == EAGAIN || errno == EWOULDBLOCK; }
bool interrupted() { return errno == EINTR; }
#endif

NativeSocket native(const NetSocket& socket) { return static_cast<NativeSocket>(socket.handle); }


// Connects without blocking, waits for the outcome at most `timeout_ms`, and
// puts the socket back into blocking mode.
#ifdef _WIN32
bool connect_within(NativeSocket s, const sockaddr* address, int length, int timeout_ms) {
  u_long on = 1, off = 0;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return false;
  bool connected = ::connect(s, address, length) == 0;
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int error = 0;
    int size = sizeof error;
    connected = select(0, nullptr, &writable, &failed, &limit) == 1 && FD_ISSET(s, &writable) &&
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                error == 0;
  }
  return ioctlsocket(s, FIONBIO, &off) == 0 && connected;
}
#else
bool connect_within(NativeSocket s, const sockaddr* address, int length, int timeout_ms) {
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  bool connected = ::connect(s, address, static_cast<socklen_t>(length)) == 0;
  if (!connected && errno == EINPROGRESS) {
    pollfd wait_for{s, POLLOUT, 0};
    int ready;
    do {
      ready = poll(&wait_for, 1, timeout_ms);  // an interrupted wait starts over: bounded anyway
    } while (ready < 0 && errno == EINTR);
    int error = 0;
    socklen_t size = sizeof error;
    connected = ready == 1 && getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  return fcntl(s, F_SETFL, flags) == 0 && connected;
}
#endif

}  // namespace

NetSocket::NetSocket(NetSocket&& other) noexcept
    : handle(std::exchange(other.handle, -1)),
      peer_closed(other.peer_closed),
      receive_timeout_ms(other.receive_timeout_ms) {}

NetSocket& NetSocket::operator=(NetSocket&& other) noexcept {
  if (this != &other) {
    net_close(*this);
    handle = std::exchange(other.handle, -1);
    peer_closed = other.peer_closed;
    receive_timeout_ms = other.receive_timeout_ms;
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

bool net_connect(const std::string& host, int port, NetSocket& socket, std::string& error) {
  return net_connect_within(host, port, socket, error, 0);
}

bool net_connect_within(const std::string& host, int port, NetSocket& socket, std::string& error,
                        int timeout_ms) {
  net_close(socket);
  socket.peer_closed = false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    error = "cannot resolve host \"" + host + "\"";
    return false;
  }
  NativeSocket s = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (s == kNoSocket) {
    freeaddrinfo(found);
    error = "cannot create a socket";
    return false;
  }
  bool connected = timeout_ms > 0
                       ? connect_within(s, found->ai_addr, static_cast<int>(found->ai_addrlen), timeout_ms)
                       : ::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
  freeaddrinfo(found);
  if (!connected) {
    close_native(s);
    error = "cannot connect to " + host + ":" + std::to_string(port);
    return false;
  }
  socket.handle = static_cast<intptr_t>(s);
  return true;
}

static void set_timeout_option(NetSocket& socket, int option, int milliseconds) {
#ifdef _WIN32
  DWORD value = static_cast<DWORD>(milliseconds);
  setsockopt(native(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
             sizeof value);
#else
  timeval value{};
  value.tv_sec = milliseconds / 1000;
  value.tv_usec = (milliseconds % 1000) * 1000;
  setsockopt(native(socket), SOL_SOCKET, option, &value, sizeof value);
#endif
}

void net_set_receive_timeout(NetSocket& socket, int milliseconds) {
  if (!net_is_open(socket)) return;
  socket.receive_timeout_ms = milliseconds;
  set_timeout_option(socket, SO_RCVTIMEO, milliseconds);
}

void net_set_send_timeout(NetSocket& socket, int milliseconds) {
  if (!net_is_open(socket)) return;
  set_timeout_option(socket, SO_SNDTIMEO, milliseconds);
}

static uint64_t steady_now_ms() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t net_message_deadline(const NetSocket& socket) {
  if (socket.receive_timeout_ms <= 0) return UINT64_MAX;
  return steady_now_ms() + 2 * static_cast<uint64_t>(socket.receive_timeout_ms);
}

bool net_deadline_passed(uint64_t deadline) { return steady_now_ms() > deadline; }

long net_send(NetSocket& socket, const void* data, size_t size) {
  if (!net_is_open(socket)) return -1;
  for (;;) {
    long n = ::send(native(socket), static_cast<const char*>(data), clamp_length(size), MSG_NOSIGNAL);
    if (n < 0 && interrupted()) continue;
    return n;
  }
}

long net_recv(NetSocket& socket, void* data, size_t size) {
  if (!net_is_open(socket)) return -1;
  for (;;) {
    long n = ::recv(native(socket), static_cast<char*>(data), clamp_length(size), 0);
    if (n < 0 && interrupted()) continue;
    if (n == 0 || (n < 0 && !timed_out())) socket.peer_closed = true;
    return n;
  }
}

void net_close(NetSocket& socket) {
  if (!net_is_open(socket)) return;
  close_native(native(socket));
  socket.handle = -1;
}
