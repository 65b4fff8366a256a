// Small servers for the DDNS client tests, each on its own thread: a TCP
// server that runs a script per connection, and a fake name server that
// answers A queries from a table (NXDOMAIN for other names) or stays silent.
#ifndef NAMREG_TESTS_DDNSCLIENT_TEST_SERVERS_H
#define NAMREG_TESTS_DDNSCLIENT_TEST_SERVERS_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ddnstest {

inline bool SendAll(int fd, const std::string &data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// Reads until "\r\n", the peer's close, or timeout_ms; returns what came.
inline std::string ReadLine(int fd, int timeout_ms = 5000) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return line;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return line;
    char buf[1024];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return line;
    line.append(buf, static_cast<size_t>(n));
    if (line.find("\r\n") != std::string::npos) return line;
  }
}

// True when the peer closes within timeout_ms (reads and drops any data).
inline bool PeerCloses(int fd, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[1024];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
}

// A TCP listener on 127.0.0.1 (port 0: any free port) running `script` for
// each accepted connection, one at a time; the script owns nothing, the
// server closes the connection after it.
class ScriptServer {
 public:
  using Script = std::function<void(int fd, int number)>;
  explicit ScriptServer(Script script, uint16_t port = 0) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(listener_, 8) != 0) {
      close(listener_);
      listener_ = -1;
      return;
    }
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  ScriptServer(const ScriptServer &) = delete;
  ScriptServer &operator=(const ScriptServer &) = delete;

  bool ok() const { return listener_ >= 0; }
  uint16_t port() const { return port_; }
  int connections() const { return connections_; }
  // Waits (at most timeout_ms) until no connection is waiting and no script
  // runs, so a descriptor count taken afterwards sees none of the server's.
  bool WaitIdle(int timeout_ms = 3000) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{listener_, POLLIN, 0};
      if (!busy_ && poll(&p, 1, 0) == 0 && !busy_) return true;
      usleep(5000);
    }
    return false;
  }

 private:
  void Run() {
    // Stops only once no connection is waiting: a client that connected and
    // went away before the first accept still gets its script run.
    for (;;) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) {
        if (stop_) break;
        continue;
      }
      busy_ = true;
      int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) {
        busy_ = false;
        continue;
      }
      int number = ++connections_;
      script_(fd, number);
      close(fd);
      busy_ = false;
    }
  }

  Script script_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<bool> busy_{false};
  std::thread thread_;
};

// A name server on 127.0.0.1:53 (inside the test world).  Names in the table
// get one A record; others get NXDOMAIN; AAAA and other types get an empty
// answer.  Silent: no answer at all.
using Names = std::map<std::string, std::string>;

class FakeDns {
 public:
  explicit FakeDns(std::map<std::string, std::string> table, bool silent = false)
      : table_(std::move(table)), silent_(silent) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(53);
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeDns() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  FakeDns(const FakeDns &) = delete;
  FakeDns &operator=(const FakeDns &) = delete;
  bool ok() const { return fd_ >= 0; }
  int queries() const { return queries_; }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      unsigned char q[512];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(fd_, q, sizeof q, 0, reinterpret_cast<sockaddr *>(&from), &len);
      if (n < 17) continue;
      ++queries_;
      if (silent_) continue;
      // Question name.
      std::string name;
      size_t i = 12;
      while (i < static_cast<size_t>(n) && q[i] != 0) {
        size_t l = q[i];
        if (!name.empty()) name += '.';
        name.append(reinterpret_cast<const char *>(q + i + 1),
                    std::min(l, static_cast<size_t>(n) - i - 1));
        i += l + 1;
      }
      size_t qend = i + 5;  // zero byte, type, class
      if (qend > static_cast<size_t>(n)) continue;
      const int qtype = (q[i + 1] << 8) | q[i + 2];
      std::vector<unsigned char> r(q, q + qend);
      r[2] = 0x81;  // QR, RD
      r[3] = 0x80;  // RA, NOERROR
      r[6] = r[7] = r[8] = r[9] = r[10] = r[11] = 0;
      r[4] = 0;
      r[5] = 1;
      auto it = table_.find(name);
      if (it == table_.end()) {
        r[3] = 0x83;  // NXDOMAIN
      } else if (qtype == 1) {
        r[7] = 1;
        const unsigned char rr[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4};
        r.insert(r.end(), rr, rr + sizeof rr);
        in_addr addr{};
        inet_pton(AF_INET, it->second.c_str(), &addr);
        const unsigned char *b = reinterpret_cast<const unsigned char *>(&addr.s_addr);
        r.insert(r.end(), b, b + 4);
      }
      sendto(fd_, r.data(), r.size(), 0, reinterpret_cast<sockaddr *>(&from), len);
    }
  }

  std::map<std::string, std::string> table_;
  bool silent_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> queries_{0};
  std::thread thread_;
};

}  // namespace ddnstest

#endif  // NAMREG_TESTS_DDNSCLIENT_TEST_SERVERS_H
