// SPDX-License-Identifier: MIT
// Scripted network peers for tests: a TCP server that runs a script on
// every connection, a UDP peer that answers every datagram from a script,
// and the small socket helpers the scripts are written with.  Each peer
// serves on a thread of its own, records what it received, and stops (and
// closes everything) when the object goes.
//
//   nrtest::ScriptServer server;
//   ASSERT_TRUE(server.Start([](int fd, const std::string &request, int index) {
//     nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
//   }));
//   ... connect to 127.0.0.1:server.port() ...
//   EXPECT_EQ(server.requests().size(), 1u);
#ifndef NAMREG_TESTS_SUPPORT_PEERS_H
#define NAMREG_TESTS_SUPPORT_PEERS_H

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nrtest {

using Bytes = std::vector<uint8_t>;

// ---- Helpers for scripts -------------------------------------------------

// Writes all of `data`; false when the peer is gone.
bool SendAll(int fd, const std::string &data);
// Writes `data` in pieces of `piece` bytes, waiting `interval_ms` before
// each piece after the first (a slow drip); false when the peer is gone or
// `keep_going` (when given) answers false.
bool SendSlowly(int fd, const std::string &data, int interval_ms, size_t piece = 1,
                const std::function<bool(int ms)> &keep_going = nullptr);
// Reads until "\r\n" has arrived, the peer closes, or timeout_ms passed;
// returns what came.
std::string ReadLine(int fd, int timeout_ms = 5000);
// Reads one HTTP request: the header up to its blank line and as many body
// bytes as its Content-Length announces (or what came until timeout_ms).
std::string ReadHttpRequest(int fd, int timeout_ms = 5000);
// Reads exactly `count` bytes, or what came until the close or timeout_ms.
std::string ReadBytes(int fd, size_t count, int timeout_ms = 5000);
// True when the peer closes within timeout_ms (data that comes is dropped).
bool PeerCloses(int fd, int timeout_ms);

// ---- TCP -------------------------------------------------------------------

// A TCP listener that serves one connection at a time: it reads what `Read`
// says, records it, and hands the connection to the script; the connection
// is closed when the script returns.
class ScriptServer {
 public:
  enum class Read {
    kNothing,      // the script reads for itself (greeting protocols)
    kLine,         // one line, up to its "\r\n"
    kHttpRequest,  // one HTTP request with its Content-Length body
  };
  // (connection, what was read first, 0-based connection number)
  using Script = std::function<void(int fd, const std::string &received, int index)>;

  ScriptServer() = default;
  // Starts at once on 127.0.0.1:port (port 0: any free one); check ok().
  explicit ScriptServer(Script script, uint16_t port = 0, Read read = Read::kNothing);
  ~ScriptServer() { Stop(); }
  ScriptServer(const ScriptServer &) = delete;
  ScriptServer &operator=(const ScriptServer &) = delete;

  bool Start(Script script, const std::string &address = "127.0.0.1", uint16_t port = 0,
             Read read = Read::kHttpRequest);
  // Serves the connections already waiting, then stops listening.  Scripts
  // that wait through Pause() are cut short.
  void Stop();

  bool ok() const { return fd_ >= 0; }
  uint16_t port() const { return port_; }
  int connections() const { return connections_; }
  // What was read before each script ran, in connection order.
  std::vector<std::string> requests();
  // Sleeps up to ms; false (at once) when the server is stopping.
  bool Pause(int ms);
  // Waits (at most timeout_ms) until no connection waits and no script
  // runs, so a descriptor count taken afterwards sees none of the server's.
  bool WaitIdle(int timeout_ms = 3000) const;

 private:
  void Serve();
  void ServeOne(int conn);

  int fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  Read read_ = Read::kHttpRequest;
  Script script_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::atomic<int> connections_{0};
  std::atomic<bool> busy_{false};
};

// ---- UDP -------------------------------------------------------------------

// A UDP socket that hands every datagram to a script and sends back the
// datagrams the script returns (none: silence), from the same address and
// port.  Tests that want an answer from elsewhere use sender() and a socket
// of their own.
class UdpPeer {
 public:
  using Script = std::function<std::vector<Bytes>(const Bytes &datagram)>;

  UdpPeer() = default;
  ~UdpPeer() { Stop(); }
  UdpPeer(const UdpPeer &) = delete;
  UdpPeer &operator=(const UdpPeer &) = delete;

  // Binds address:port (port 0: any free one); false with the reason.
  bool Start(const std::string &address, uint16_t port, Script script,
             std::string *error = nullptr);
  void Stop();
  uint16_t port() const { return port_; }
  // Every datagram received so far.
  std::vector<Bytes> received();
  // The address and port the last datagram came from.
  sockaddr_in sender();

 private:
  void Serve();
  int fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  Script script_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Bytes> received_;
  sockaddr_in sender_{};
};

// Sends one datagram from a fresh socket bound to from_address (port 0: any)
// to `to`; false when it could not be sent.
bool SendDatagramFrom(const std::string &from_address, uint16_t from_port, const sockaddr_in &to,
                      const Bytes &data);

}  // namespace nrtest

#endif  // NAMREG_TESTS_SUPPORT_PEERS_H
