// SPDX-License-Identifier: MIT
// Scripted TCP and UDP peers for tests.
#include "peers.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace nrtest {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads into *text until done(*text) holds, the peer closes, the time is
// up, or stop_fd (when not -1) becomes readable.
template <typename Done>
void ReadUntil(int fd, std::string *text, Done done, int timeout_ms, int stop_fd = -1) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done(*text)) {
    const int left = MsLeft(deadline);
    if (left == 0) return;
    pollfd p[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int n = poll(p, stop_fd >= 0 ? 2 : 1, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || (stop_fd >= 0 && (p[1].revents & POLLIN))) return;
    char buf[4096];
    const ssize_t got = recv(fd, buf, sizeof buf, 0);
    if (got <= 0) return;
    text->append(buf, static_cast<size_t>(got));
  }
}

bool HasLine(const std::string &text) {
  return text.find("\r\n") != std::string::npos;
}

// True once a whole request (header and announced body) is in `text`.
bool HasHttpRequest(const std::string &text) {
  const size_t end = text.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  size_t body = 0;
  size_t at = 0;
  while ((at = text.find("\r\n", at)) != std::string::npos && at < end) {
    at += 2;
    if (strncasecmp(text.c_str() + at, "Content-Length:", 15) == 0)
      body = static_cast<size_t>(strtoul(text.c_str() + at + 15, nullptr, 10));
  }
  return text.size() >= end + 4 + body;
}

void CloseAll(std::initializer_list<int *> fds) {
  for (int *fd : fds) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

}  // namespace

// ---- Helpers -------------------------------------------------------------------

bool SendAll(int fd, const std::string &data) {
  size_t off = 0;
  while (off < data.size()) {
    const ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

bool SendSlowly(int fd, const std::string &data, int interval_ms, size_t piece,
                const std::function<bool(int ms)> &keep_going) {
  if (piece == 0) piece = 1;
  for (size_t off = 0; off < data.size(); off += piece) {
    if (off > 0) {
      if (keep_going) {
        if (!keep_going(interval_ms)) return false;
      } else {
        usleep(static_cast<useconds_t>(interval_ms) * 1000);
      }
    }
    if (!SendAll(fd, data.substr(off, piece))) return false;
  }
  return true;
}

std::string ReadLine(int fd, int timeout_ms) {
  std::string text;
  ReadUntil(fd, &text, HasLine, timeout_ms);
  return text;
}

std::string ReadHttpRequest(int fd, int timeout_ms) {
  std::string text;
  ReadUntil(fd, &text, HasHttpRequest, timeout_ms);
  return text;
}

std::string ReadBytes(int fd, size_t count, int timeout_ms) {
  std::string text;
  ReadUntil(
      fd, &text, [count](const std::string &t) { return t.size() >= count; }, timeout_ms);
  return text;
}

bool PeerCloses(int fd, int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const int left = MsLeft(deadline);
    if (left == 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    char buf[1024];
    if (recv(fd, buf, sizeof buf, 0) <= 0) return true;
  }
}

// ---- ScriptServer ----------------------------------------------------------------

ScriptServer::ScriptServer(Script script, uint16_t port, Read read) {
  Start(std::move(script), "127.0.0.1", port, read);
}

bool ScriptServer::Start(Script script, const std::string &address, uint16_t port, Read read) {
  Stop();
  script_ = std::move(script);
  read_ = read;
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
  socklen_t len = sizeof sin;
  if (bind(fd_, reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0 || listen(fd_, 16) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr *>(&sin), &len) != 0 ||
      pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    CloseAll({&fd_, &stop_pipe_[0], &stop_pipe_[1]});
    return false;
  }
  port_ = ntohs(sin.sin_port);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void ScriptServer::Stop() {
  if (thread_.joinable()) {
    const char c = 'x';
    (void)!write(stop_pipe_[1], &c, 1);
    thread_.join();
  }
  CloseAll({&fd_, &stop_pipe_[0], &stop_pipe_[1]});
}

std::vector<std::string> ScriptServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool ScriptServer::Pause(int ms) {
  pollfd p{stop_pipe_[0], POLLIN, 0};
  return poll(&p, 1, ms) == 0;
}

bool ScriptServer::WaitIdle(int timeout_ms) const {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  do {
    pollfd p{fd_, POLLIN, 0};
    if (!busy_ && poll(&p, 1, 0) == 0 && !busy_) return true;
    usleep(5000);
  } while (MsLeft(deadline) > 0);
  return false;
}

void ScriptServer::ServeOne(int conn) {
  const int index = connections_++;
  std::string received;
  if (read_ == Read::kLine)
    ReadUntil(conn, &received, HasLine, 5000, stop_pipe_[0]);
  else if (read_ == Read::kHttpRequest)
    ReadUntil(conn, &received, HasHttpRequest, 5000, stop_pipe_[0]);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(received);
  }
  script_(conn, received, index);
  close(conn);
}

void ScriptServer::Serve() {
  for (;;) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    const bool stopping = (p[1].revents & POLLIN) != 0;
    if (stopping) {
      // A client that connected just before the stop still gets its script.
      pollfd q{fd_, POLLIN, 0};
      if (poll(&q, 1, 0) <= 0) return;
    } else if (!(p[0].revents & POLLIN)) {
      continue;
    }
    busy_ = true;
    const int conn = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn >= 0) ServeOne(conn);
    busy_ = false;
  }
}

// ---- UdpPeer ---------------------------------------------------------------------

bool UdpPeer::Start(const std::string &address, uint16_t port, Script script, std::string *error) {
  Stop();
  script_ = std::move(script);
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    if (error) *error = strerror(errno);
    Stop();
    return false;
  }
  int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = inet_addr(address.c_str());
  socklen_t len = sizeof sa;
  if (bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
    if (error) *error = "bind " + address + ":" + std::to_string(port) + ": " + strerror(errno);
    Stop();
    return false;
  }
  port_ = ntohs(sa.sin_port);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void UdpPeer::Stop() {
  if (thread_.joinable()) {
    const char c = 0;
    (void)!write(stop_pipe_[1], &c, 1);
    thread_.join();
  }
  CloseAll({&fd_, &stop_pipe_[0], &stop_pipe_[1]});
}

std::vector<Bytes> UdpPeer::received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

sockaddr_in UdpPeer::sender() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sender_;
}

void UdpPeer::Serve() {
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    uint8_t buf[4096];
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    const ssize_t n =
        recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &from_len);
    if (n < 0) continue;
    const Bytes datagram(buf, buf + n);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(datagram);
      sender_ = from;
    }
    for (const Bytes &reply : script_(datagram))
      sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), from_len);
  }
}

bool SendDatagramFrom(const std::string &from_address, uint16_t from_port, const sockaddr_in &to,
                      const Bytes &data) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(from_port);
  sa.sin_addr.s_addr = inet_addr(from_address.c_str());
  const bool ok = bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 &&
                  sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                         sizeof to) == static_cast<ssize_t>(data.size());
  close(fd);
  return ok;
}

}  // namespace nrtest
