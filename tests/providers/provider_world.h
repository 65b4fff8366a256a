// The providers' test world: every provider host name resolves to 127.0.0.1
// through a name server on 127.0.0.1:53, and small HTTP peers on loopback
// ports answer each request with a reply the test chooses and keep the
// request text for byte-exact checks.
#ifndef NAMREG_TESTS_PROVIDERS_PROVIDER_WORLD_H
#define NAMREG_TESTS_PROVIDERS_PROVIDER_WORLD_H

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client_fixture.h"
#include "provider_internal.h"
#include <poll.h>
#include <sys/socket.h>

#include <chrono>

#include "fake_dns.h"
#include "peers.h"

namespace provtest {

// Every fixed provider host, plus the names tests use as configured servers.
inline nrtest::Names ProviderNames() {
  nrtest::Names names;
  for (uint32_t i = 0; i < namreg::kProviderHostCount; ++i)
    names.emplace_back(namreg::kProviderHosts[i], "127.0.0.1");
  names.emplace_back("ddns.configured.example", "127.0.0.1");
  return names;
}

// A whole HTTP response with a Content-Length body.
inline std::string Reply(const std::string &body, const std::string &status = "200 OK",
                         const std::string &extra_headers = "") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + extra_headers + "\r\n" + body;
}

// Reads one request header (up to the empty line) within timeout_ms.
inline std::string ReadRequest(int fd, int timeout_ms = 5000) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (text.find("\r\n\r\n") == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[2048];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

// An HTTP peer on 127.0.0.1:port: `answer` gives the reply for the request
// text and the 1-based connection number; every request is kept.
class HttpPeer {
 public:
  using Answer = std::function<std::string(const std::string &request, int number)>;
  HttpPeer(uint16_t port, Answer answer)
      : answer_(std::move(answer)),
        server_(
            [this](int fd, const std::string &, int index) {
              const int number = index + 1;
              std::string request = ReadRequest(fd);
              {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
              }
              nrtest::SendAll(fd, answer_(request, number));
              nrtest::PeerCloses(fd, 2000);
            },
            port, nrtest::ScriptServer::Read::kNothing) {}
  bool ok() const { return server_.ok(); }
  bool WaitIdle() const { return server_.WaitIdle(); }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  Answer answer_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  nrtest::ScriptServer server_;
};

// The whole header block a GET sends; `authorization` is the Basic
// credentials text ("user:password" base64) or empty for none.
inline std::string ExpectedGet(const std::string &path, const std::string &host, uint16_t port,
                               const std::string &user_agent = "IPCAM",
                               const std::string &authorization = "") {
  std::string text = "GET " + path + " HTTP/1.1\r\nAccept: */*\r\nHost: " + host;
  if (port != 80) text += ":" + std::to_string(port);
  text += "\r\nUser-Agent: " + user_agent +
          "\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n";
  if (!authorization.empty()) text += "Authorization: Basic " + authorization + "\r\n";
  return text + "\r\n";
}

}  // namespace provtest

#endif  // NAMREG_TESTS_PROVIDERS_PROVIDER_WORLD_H
