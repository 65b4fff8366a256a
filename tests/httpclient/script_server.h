// A scripted HTTP peer for tests: a thread that accepts TCP connections on
// a loopback address, reads each request (header and a Content-Length body)
// and hands the connection to a script that writes whatever the test wants:
// odd statuses, cut headers, silence, early closes.
#ifndef NAMREG_TESTS_HTTPCLIENT_SCRIPT_SERVER_H
#define NAMREG_TESTS_HTTPCLIENT_SCRIPT_SERVER_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nrtest {

class ScriptServer {
 public:
  // (connection, request text, 0-based connection number); the connection is
  // closed when the script returns.
  using Script = std::function<void(int fd, const std::string &request, int index)>;

  ScriptServer() = default;
  ~ScriptServer() { Stop(); }
  ScriptServer(const ScriptServer &) = delete;
  ScriptServer &operator=(const ScriptServer &) = delete;

  // Listens on address:port (port 0: any free one).
  bool Start(Script script, const std::string &address = "127.0.0.1", uint16_t port = 0);
  void Stop();
  uint16_t port() const { return port_; }
  std::vector<std::string> requests();
  // Sleeps up to ms, returning early (false) when the server is stopping.
  bool Pause(int ms);

  // Writes all of text; false when the peer is gone.
  static bool SendAll(int fd, const std::string &text);

 private:
  void Serve();
  int fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  Script script_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

}  // namespace nrtest

#endif  // NAMREG_TESTS_HTTPCLIENT_SCRIPT_SERVER_H
