// A one-connection TCP server on loopback whose behaviour is a script run in
// its own thread: it answers with canned bytes and records every byte it hears,
// for tests that check exact request bytes and odd server behaviour.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct ScriptedServer;

// The accepted connection, as the script sees it.
struct ScriptedConnection {
  int fd = -1;
  ScriptedServer* server = nullptr;
};

using Script = std::function<void(ScriptedConnection&)>;

struct ScriptedServer {
  int listen_fd = -1;
  int port = 0;
  std::thread thread;
  // Filled by the script's thread; read them only after finish_scripted_server.
  std::string received;               // every byte the client sent, in order
  std::vector<std::string> requests;  // each request head read by scripted_read_request
  bool accepted = false;              // a client connected
  ScriptedServer() = default;
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;
  ~ScriptedServer();  // finishes the script
};

// Listens on a free loopback port and runs `script` on the first connection
// (waiting at most 10 s for it). Null with `error` when it cannot listen.
std::unique_ptr<ScriptedServer> start_scripted_server(Script script, std::string& error);

// Waits for the script to end (the client must have closed, or 10 s of silence pass).
void finish_scripted_server(ScriptedServer& server);

// "rtsp://127.0.0.1:<port>" + path.
std::string scripted_server_url(const ScriptedServer& server, const std::string& path = "/cam");

// Reads one request head (up to and including the blank line) and records it.
// Empty when the client closed or stayed silent for 10 s.
std::string scripted_read_request(ScriptedConnection& connection);

// Like scripted_read_request, but gives up after `max_ms` of silence.
std::string scripted_read_request_within(ScriptedConnection& connection, int max_ms);

// Sends all bytes; false when the client is gone.
bool scripted_send(ScriptedConnection& connection, const std::string& bytes);

// Reads and records everything until the client closes (or 10 s of silence).
void scripted_read_until_close(ScriptedConnection& connection);

// A script answering the n-th request with replies[n]; after the last reply
// it records what else arrives until the client closes.
Script reply_in_turn(std::vector<std::string> replies);

// An interleaved frame: "$", channel, 16-bit big-endian length, data.
std::string interleaved(int channel, const std::string& data);

// A scripted server's UDP side: RTP from an even port, RTCP from the odd one
// after it, both bound on `address`. Closed when destroyed.
struct ScriptedUdpPorts {
  int rtp_fd = -1;
  int rtcp_fd = -1;
  int rtp_port = 0;  // the RTCP port is rtp_port + 1
  ScriptedUdpPorts() = default;
  ScriptedUdpPorts(const ScriptedUdpPorts&) = delete;
  ScriptedUdpPorts& operator=(const ScriptedUdpPorts&) = delete;
  ~ScriptedUdpPorts();
};

// Binds a free even/odd pair on `address` (an IPv4 loopback address); false when none was found.
bool open_scripted_udp_ports(ScriptedUdpPorts& ports, const char* address = "127.0.0.1");

// A UDP socket bound on `address` at `port` (0: any); -1 on failure.
int bind_scripted_udp(const char* address, int port);

// Sends one datagram from `fd` to 127.0.0.1:`port`; false when it did not go.
bool scripted_send_datagram(int fd, int port, const std::string& bytes);

// The first port of a SETUP request's "client_port=", or 0.
int client_port_of(const std::string& setup_request);
