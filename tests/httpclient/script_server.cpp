#include "script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace nrtest {

bool ScriptServer::Start(Script script, const std::string &address, uint16_t port) {
  script_ = std::move(script);
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
  if (bind(fd_, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0 || listen(fd_, 16) != 0) {
    close(fd_);
    fd_ = -1;
    return false;
  }
  socklen_t len = sizeof(sin);
  getsockname(fd_, reinterpret_cast<sockaddr *>(&sin), &len);
  port_ = ntohs(sin.sin_port);
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) return false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void ScriptServer::Stop() {
  if (thread_.joinable()) {
    char c = 'x';
    (void)!write(stop_pipe_[1], &c, 1);
    thread_.join();
  }
  for (int *p : {&fd_, &stop_pipe_[0], &stop_pipe_[1]}) {
    if (*p >= 0) close(*p);
    *p = -1;
  }
}

std::vector<std::string> ScriptServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool ScriptServer::Pause(int ms) {
  pollfd p{stop_pipe_[0], POLLIN, 0};
  return poll(&p, 1, ms) == 0;
}

bool ScriptServer::SendAll(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void ScriptServer::Serve() {
  for (int index = 0;; ++index) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN)) return;
    int conn = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) continue;
    // Read the header, then as many body bytes as it announces.
    std::string request;
    size_t body_wanted = 0;
    size_t header_end = std::string::npos;
    for (;;) {
      if (header_end != std::string::npos && request.size() >= header_end + 4 + body_wanted) break;
      pollfd q[2] = {{conn, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
      if (poll(q, 2, 5000) <= 0 || (q[1].revents & POLLIN)) break;
      char buf[4096];
      ssize_t n = recv(conn, buf, sizeof(buf), 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
      if (header_end == std::string::npos) {
        header_end = request.find("\r\n\r\n");
        if (header_end != std::string::npos) {
          std::string head = request.substr(0, header_end);
          size_t at = 0;
          while ((at = head.find("\r\n", at)) != std::string::npos) {
            at += 2;
            if (strncasecmp(head.c_str() + at, "Content-Length:", 15) == 0)
              body_wanted = static_cast<size_t>(strtoul(head.c_str() + at + 15, nullptr, 10));
          }
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    script_(conn, request, index);
    close(conn);
  }
}

}  // namespace nrtest
