// SPDX-License-Identifier: MIT
// tunnel-sim: a device that serves HTTP tunnels on one TCP port, for the
// demo and the end-to-end tests.  A session is a GET channel and a POST
// channel with the same "x-sessioncookie"; once both are up the device
// writes its 20-byte answer on the GET channel and from then on echoes
// every byte of the POST channel back on the GET channel (bytes that come
// with the POST channel's header are its query text, not tunnel data).  A tunnelled
// request (a POST with its own Content-Length) is answered with an empty
// 200; its body is echoed on the session's GET channel, and the body
// "channel=1" asks for the one-channel form, which is always accepted.
//
// --mode sets the answer to a two-channel open: accept, accept-upper,
// refuse, silent (none), garbage (an unknown text) or close (the GET
// channel is closed instead).  The simulator stops by itself after
// --max-seconds, or once --max-connections were served and closed; it
// prints one line per connection on stdout.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxHeader = 4096;  // a longer header closes the connection
constexpr size_t kMaxBody = 65536;   // a tunnelled request's body at most

struct Options {
  std::string address = "127.0.0.1";
  int port = 8554;
  int max_seconds = 300;
  int max_connections = 0;  // 0: no limit besides the time
  std::string mode = "accept";
};

enum class Kind { kNew, kGet, kPost, kRequest };

struct Conn {
  int fd = -1;
  Kind kind = Kind::kNew;
  std::string in;
  std::string cookie;
  size_t body_wanted = 0;
};

std::string HeaderValue(const std::string &head, const char *name) {
  size_t at = 0;
  const size_t length = strlen(name);
  while ((at = head.find("\r\n", at)) != std::string::npos) {
    at += 2;
    if (strncasecmp(head.c_str() + at, name, length) == 0 &&
        head.compare(at + length, 2, ": ") == 0) {
      size_t start = at + length + 2;
      return head.substr(start, head.find("\r\n", start) - start);
    }
  }
  return "";
}

bool SendAll(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ParseOptions(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char *name) -> const char * {
      if (a != name || i + 1 >= argc) return nullptr;
      return argv[++i];
    };
    if (const char *v = value("--address")) {
      o->address = v;
    } else if (const char *p = value("--port")) {
      o->port = atoi(p);
    } else if (const char *s = value("--max-seconds")) {
      o->max_seconds = atoi(s);
    } else if (const char *c = value("--max-connections")) {
      o->max_connections = atoi(c);
    } else if (const char *m = value("--mode")) {
      o->mode = m;
    } else {
      return false;
    }
  }
  static const char *const kModes[] = {"accept", "accept-upper", "refuse",
                                       "silent", "garbage",      "close"};
  for (const char *m : kModes)
    if (o->mode == m) return o->port > 0 && o->port < 65536 && o->max_seconds > 0;
  return false;
}

class Device {
 public:
  explicit Device(const Options &o) : options_(o) {}

  int Run() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(options_.port));
    if (inet_pton(AF_INET, options_.address.c_str(), &sin.sin_addr) != 1 ||
        bind(listener_, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0 ||
        listen(listener_, 16) != 0) {
      fprintf(stderr, "tunnel-sim: cannot listen on %s:%d\n", options_.address.c_str(),
              options_.port);
      return 1;
    }
    printf("listening %s:%d mode=%s\n", options_.address.c_str(), options_.port,
           options_.mode.c_str());
    fflush(stdout);
    const Clock::time_point until = Clock::now() + std::chrono::seconds(options_.max_seconds);
    for (;;) {
      const bool accepting = options_.max_connections == 0 || accepted_ < options_.max_connections;
      if (!accepting && conns_.empty()) break;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0) break;
      std::vector<pollfd> fds;
      if (accepting) fds.push_back({listener_, POLLIN, 0});
      for (const Conn &c : conns_) fds.push_back({c.fd, POLLIN, 0});
      int n =
          poll(fds.data(), fds.size(), static_cast<int>(left.count() > 1000 ? 1000 : left.count()));
      if (n <= 0) continue;
      for (const pollfd &p : fds) {
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        if (p.fd == listener_) {
          Accept();
        } else {
          Read(p.fd);
        }
      }
    }
    for (const Conn &c : conns_) close(c.fd);
    close(listener_);
    printf("stopped after %d connections\n", accepted_);
    return 0;
  }

 private:
  void Accept() {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    ++accepted_;
    Conn c;
    c.fd = fd;
    conns_.push_back(c);
  }

  Conn *Find(int fd) {
    for (Conn &c : conns_)
      if (c.fd == fd) return &c;
    return nullptr;
  }

  void Drop(int fd, const char *why) {
    for (size_t i = 0; i < conns_.size(); ++i) {
      if (conns_[i].fd != fd) continue;
      Conn &c = conns_[i];
      for (auto &s : sessions_) {
        if (s.second.first == fd) s.second.first = -1;
        if (s.second.second == fd) s.second.second = -1;
      }
      printf("close %s cookie=%s (%s)\n", KindName(c.kind), c.cookie.c_str(), why);
      fflush(stdout);
      close(fd);
      conns_.erase(conns_.begin() + static_cast<long>(i));
      return;
    }
  }

  static const char *KindName(Kind k) {
    switch (k) {
      case Kind::kGet:
        return "get-channel";
      case Kind::kPost:
        return "post-channel";
      case Kind::kRequest:
        return "request";
      default:
        return "connection";
    }
  }

  void Read(int fd) {
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) {
      Drop(fd, "peer closed");
      return;
    }
    Conn *c = Find(fd);
    if (c == nullptr) return;
    if (c->kind == Kind::kPost) {
      // Tunnel data: echoed on the session's GET channel.
      Echo(c->cookie, std::string(buf, static_cast<size_t>(n)));
      return;
    }
    c->in.append(buf, static_cast<size_t>(n));
    if (c->kind == Kind::kNew) {
      size_t end = c->in.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (c->in.size() > kMaxHeader) Drop(fd, "header too long");
        return;
      }
      Header(c, c->in.substr(0, end + 2));
      c = Find(fd);
      if (c == nullptr) return;
      c->in.erase(0, end + 4);
    }
    if (c->kind == Kind::kPost) {
      // What came with the POST channel's header is its query text; later
      // bytes are tunnel data.
      printf("post-channel query=%s\n", c->in.c_str());
      fflush(stdout);
      c->in.clear();
    } else if (c->kind == Kind::kRequest && c->in.size() >= c->body_wanted) {
      Request(c);
    }
  }

  void Header(Conn *c, const std::string &head) {
    c->cookie = HeaderValue(head, "x-sessioncookie");
    const bool get = head.compare(0, 4, "GET ") == 0;
    const bool post = head.compare(0, 5, "POST ") == 0;
    const std::string length = HeaderValue(head, "Content-Length");
    if (c->cookie.empty() || (!get && !post)) {
      SendAll(c->fd, "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
      Drop(c->fd, "not a tunnel request");
      return;
    }
    if (get) {
      c->kind = Kind::kGet;
      sessions_[c->cookie].first = c->fd;
      printf("get-channel cookie=%s\n", c->cookie.c_str());
      SendAll(c->fd, "HTTP/1.0 200 OK\r\nContent-Type: application/x-hldm-tunnelled\r\n\r\n");
    } else if (length == "32767") {
      c->kind = Kind::kPost;
      sessions_[c->cookie].second = c->fd;
      printf("post-channel cookie=%s\n", c->cookie.c_str());
      Answer(c->cookie);
    } else {
      c->kind = Kind::kRequest;
      c->body_wanted = static_cast<size_t>(strtoul(length.c_str(), nullptr, 10));
      if (c->body_wanted > kMaxBody) {
        Drop(c->fd, "body too long");
        return;
      }
      printf("request cookie=%s length=%zu\n", c->cookie.c_str(), c->body_wanted);
    }
    fflush(stdout);
  }

  // The two-channel answer, by mode.
  void Answer(const std::string &cookie) {
    int get = sessions_[cookie].first;
    if (get < 0) return;
    const std::string &m = options_.mode;
    if (m == "accept") SendAll(get, "http tunnel accept=1");
    if (m == "accept-upper") SendAll(get, "HTTP TUNNEL ACCEPT=1");
    if (m == "refuse") SendAll(get, "http tunnel accept=0");
    if (m == "garbage") SendAll(get, "http tunnel accept=?");
    if (m == "close") Drop(get, "answer mode close");
  }

  void Request(Conn *c) {
    const std::string body = c->in.substr(0, c->body_wanted);
    SendAll(c->fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    if (body == "channel=1") {
      int get = sessions_[c->cookie].first;
      if (get >= 0) SendAll(get, "http tunnel accept=1");
    } else {
      Echo(c->cookie, body);
    }
    Drop(c->fd, "request served");
  }

  void Echo(const std::string &cookie, const std::string &data) {
    auto it = sessions_.find(cookie);
    if (it == sessions_.end() || it->second.first < 0 || data.empty()) return;
    SendAll(it->second.first, data);
  }

  Options options_;
  int listener_ = -1;
  int accepted_ = 0;
  std::vector<Conn> conns_;
  std::map<std::string, std::pair<int, int>> sessions_;  // cookie -> GET, POST channel
};

}  // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    fprintf(stderr,
            "usage: tunnel-sim [--address A] [--port P] [--max-seconds S] "
            "[--max-connections N]\n"
            "                  [--mode accept|accept-upper|refuse|silent|garbage|close]\n");
    return 2;
  }
  return Device(options).Run();
}
