// SPDX-License-Identifier: MIT
// hldm-sim: a small HLDM DDNS service on one TCP port, for the demo and the
// end-to-end tests.  Per connection: an 11-byte greeting with a fresh
// 10-character salt, one encoded request line, one reply, close.  It keeps
// registrations in memory and prints one line per connection on stdout.
//
// Test-only modes make it misbehave: a 10-byte (short-greeting) or 12-byte
// (long-greeting) greeting, no greeting at all (silent), a close right after
// the accept (hangup), a reset instead of the reply (close), or the reply
// without the close (no-close); --only limits the last two to one request
// kind.  It always stops by itself after --max-seconds or --max-connections.
#include <namreg/common.h>
#include <namreg/ddnsclient.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Mode {
  kNormal,
  kShortGreeting,
  kLongGreeting,
  kSilent,
  kHangUp,
  kCloseWithoutReply,
  kReplyWithoutClose
};

struct Options {
  std::string address = "127.0.0.1";
  int port = 3495;
  int max_seconds = 300;
  int max_connections = 0;  // 0: no limit besides the time
  Mode mode = Mode::kNormal;
  std::string only;                // request kind the reply modes apply to ("" = all)
  std::string reply;               // fixed reply text instead of the service's answer
  int change_window = 600;         // seconds in which a MAC cannot register again
  std::vector<std::string> seeds;  // host=MAC registrations present at start
};

struct Registration {
  std::string mac;
  std::string email;
  std::string key;
  std::string address;
  int port = -1;
  bool online = true;
};

std::map<std::string, Registration> g_hosts;               // host name -> registration
std::map<std::string, Clock::time_point> g_last_register;  // MAC -> last register

void Usage() {
  std::fputs(
      "usage: hldm-sim [--address A] [--port P] [--max-seconds N] [--max-connections N]\n"
      "                [--mode normal|short-greeting|long-greeting|silent|hangup|close|no-close]\n"
      "                [--only register|requestkey|checkhostname|checkip|update|offline]\n"
      "                [--reply TEXT] [--change-window SECONDS] [--seed HOST=MAC]...\n",
      stderr);
  std::exit(2);
}

bool ParseMode(const std::string &text, Mode *mode) {
  static const std::map<std::string, Mode> kModes = {{"normal", Mode::kNormal},
                                                     {"short-greeting", Mode::kShortGreeting},
                                                     {"long-greeting", Mode::kLongGreeting},
                                                     {"silent", Mode::kSilent},
                                                     {"hangup", Mode::kHangUp},
                                                     {"close", Mode::kCloseWithoutReply},
                                                     {"no-close", Mode::kReplyWithoutClose}};
  auto it = kModes.find(text);
  if (it == kModes.end()) return false;
  *mode = it->second;
  return true;
}

Options ParseOptions(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage();
      return argv[++i];
    };
    if (a == "--address")
      o.address = value();
    else if (a == "--port")
      o.port = std::atoi(value().c_str());
    else if (a == "--max-seconds")
      o.max_seconds = std::atoi(value().c_str());
    else if (a == "--max-connections")
      o.max_connections = std::atoi(value().c_str());
    else if (a == "--mode") {
      if (!ParseMode(value(), &o.mode)) Usage();
    } else if (a == "--only")
      o.only = value();
    else if (a == "--reply")
      o.reply = value();
    else if (a == "--change-window")
      o.change_window = std::atoi(value().c_str());
    else if (a == "--seed")
      o.seeds.push_back(value());
    else
      Usage();
  }
  if (o.max_seconds <= 0 || o.port <= 0 || o.port > 65535) Usage();
  return o;
}

std::string NewSalt(std::mt19937 &rng) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string salt;
  for (int i = 0; i < 10; ++i) salt += kChars[rng() % (sizeof kChars - 1)];
  return salt;
}

std::string HashPassword(const std::string &mac, const std::string &salt) {
  char out[33];
  MD5_StringHex(out, (mac + "." + salt + ".HALDRIM").c_str());
  return out;
}

bool IsValidMac(const std::string &mac) {
  if (mac.size() != 12) return false;
  for (char c : mac)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return mac != "000000000000" && mac != "FFFFFFFFFFFF" && mac != "ffffffffffff";
}

// "a=1&b=2" pairs (a word without "=" is kept with an empty value).
std::map<std::string, std::string> Fields(const std::string &text) {
  std::map<std::string, std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(start, end - start);
    size_t eq = part.find('=');
    if (eq == std::string::npos)
      out[part] = "";
    else
      out[part.substr(0, eq)] = part.substr(eq + 1);
    start = end + 1;
  }
  return out;
}

std::vector<std::string> Split(const std::string &text, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(sep, start);
    out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

// The service's answer to one decoded request; `kind` names the request.
std::string Answer(const Options &o, const std::string &request, const std::string &salt,
                   const std::string &peer, std::string *kind) {
  const std::string bad = "retc=9:bad request:";
  if (request.rfind("checkIP&", 0) == 0) {
    *kind = "checkip";
    return request.substr(8) == salt ? "retc=0:" + peer + ":" : bad;
  }
  if (request.rfind("forgetpassword&", 0) == 0) {
    *kind = "requestkey";
    auto f = Fields(request.substr(15));
    if (f["salt"] != salt) return bad;
    auto it = g_hosts.find(f["hostname"]);
    return it != g_hosts.end() && it->second.email == f["email"] ? "retc=0:" : "retc=1:";
  }
  if (request.rfind("checkHostname&", 0) == 0) {
    *kind = "checkhostname";
    auto f = Fields(request.substr(14));
    if (f["salt"] != salt) return bad;
    auto it = g_hosts.find(f["hostname"]);
    if (it == g_hosts.end()) return "retc=0:";
    return it->second.mac == f["MAC"] ? "retc=2:" : "retc=1:";
  }
  if (request.rfind("salt=", 0) == 0) {
    *kind = "register";
    auto f = Fields(request);
    if (f["salt"] != salt) return bad;
    const std::string &mac = f["MAC"];
    const std::string &host = f["hostname"];
    if (!IsValidMac(mac)) return "retc=3:";
    auto it = g_hosts.find(host);
    if (it != g_hosts.end() && it->second.mac != mac) return "retc=4:";
    auto last = g_last_register.find(mac);
    if (last != g_last_register.end() &&
        Clock::now() - last->second < std::chrono::seconds(o.change_window))
      return "retc=2:";
    for (auto h = g_hosts.begin(); h != g_hosts.end();) {  // one host name per camera
      if (h->second.mac == mac && h->first != host)
        h = g_hosts.erase(h);
      else
        ++h;
    }
    Registration r;
    r.mac = mac;
    r.email = f["email"];
    r.key = f["key"];
    r.address = peer;
    r.port = f.count("port") ? std::atoi(f["port"].c_str()) : -1;
    g_hosts[host] = r;
    g_last_register[mac] = Clock::now();
    return "retc=0:" + host + ":" + peer + ":";
  }
  // update "salt:MAC:hash:host:fw:0:address[:port]", offline "salt:MAC:hash:host:fw:1"
  std::vector<std::string> p = Split(request, ':');
  if (p.size() >= 6 && (p[5] == "0" || p[5] == "1")) {
    const bool offline = p[5] == "1";
    *kind = offline ? "offline" : "update";
    if (p[0] != salt || p[2] != HashPassword(p[1], salt)) return bad;
    auto it = g_hosts.find(p[3]);
    if (it == g_hosts.end() || it->second.mac != p[1]) return "retc=1:";
    if (offline) {
      it->second.online = false;
      return "retc=2:";
    }
    if (p.size() >= 7) it->second.address = p[6];
    if (p.size() >= 8) it->second.port = std::atoi(p[7].c_str());
    it->second.online = true;
    return "retc=0:";
  }
  *kind = "unknown";
  return bad;
}

bool SendAll(int fd, const std::string &data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// One line ending in "\r\n" (or what came before the peer closed), waiting
// at most 10 seconds.
std::string ReadLine(int fd) {
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (line.size() < 4096) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[512];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
    size_t end = line.find("\r\n");
    if (end != std::string::npos) return line.substr(0, end);
  }
  return line;
}

std::string Decode(const std::string &encoded) {
  std::vector<unsigned char> out(encoded.size() + 2);
  int32_t capacity = static_cast<int32_t>(out.size());
  int32_t n = HALDStrCodec_Decode(encoded.c_str(), static_cast<int32_t>(encoded.size()), out.data(),
                                  &capacity);
  if (n < 0) return std::string();
  return std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
}

// Closes with a reset, so the client's read fails instead of seeing an end.
void Reset(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
}

void Serve(const Options &o, int fd, const std::string &peer, int number, std::mt19937 &rng,
           std::vector<int> *held) {
  if (o.mode == Mode::kHangUp) {
    std::printf("%d %s hangup (closed before the greeting)\n", number, peer.c_str());
    close(fd);
    return;
  }
  const std::string salt = NewSalt(rng);
  std::string greeting = salt + "\n";
  const char *mode_name = nullptr;
  switch (o.mode) {
    case Mode::kShortGreeting:
      greeting = salt;
      mode_name = "short-greeting";
      break;
    case Mode::kLongGreeting:
      greeting = salt + "\r\n";
      mode_name = "long-greeting";
      break;
    case Mode::kSilent:
      mode_name = "silent";
      break;
    default:
      break;
  }
  if (o.mode != Mode::kSilent) SendAll(fd, greeting);
  const std::string line = ReadLine(fd);
  if (line.empty()) {
    std::printf("%d %s %s(no request)\n", number, peer.c_str(),
                mode_name != nullptr ? (std::string(mode_name) + " ").c_str() : "");
    close(fd);
    return;
  }
  const std::string request = Decode(line);
  std::string kind = "undecodable";
  std::string reply = Answer(o, request, salt, peer, &kind);
  if (!o.reply.empty() && (o.only.empty() || o.only == kind)) reply = o.reply;
  const bool applies = o.only.empty() || o.only == kind;
  if (o.mode == Mode::kCloseWithoutReply && applies) {
    std::printf("%d %s %s \"%s\" -> (reset without reply)\n", number, peer.c_str(), kind.c_str(),
                request.c_str());
    Reset(fd);
    return;
  }
  SendAll(fd, reply);
  std::printf("%d %s %s \"%s\" -> \"%s\"\n", number, peer.c_str(), kind.c_str(), request.c_str(),
              reply.c_str());
  if (o.mode == Mode::kReplyWithoutClose && applies) {
    held->push_back(fd);  // closed when the client gives up, or at exit
    return;
  }
  close(fd);
}

}  // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const Options o = ParseOptions(argc, argv);
  for (const std::string &seed : o.seeds) {
    size_t eq = seed.find('=');
    if (eq == std::string::npos) Usage();
    Registration r;
    r.mac = seed.substr(eq + 1);
    g_hosts[seed.substr(0, eq)] = r;
  }

  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(o.port));
  if (inet_pton(AF_INET, o.address.c_str(), &addr.sin_addr) != 1 ||
      bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(listener, 16) != 0) {
    std::perror("hldm-sim: listen");
    return 1;
  }
  std::printf("hldm-sim listening on %s:%d\n", o.address.c_str(), o.port);

  std::mt19937 rng(std::random_device{}());
  std::vector<int> held;
  const auto deadline = Clock::now() + std::chrono::seconds(o.max_seconds);
  int served = 0;
  while (o.max_connections == 0 || served < o.max_connections) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    // Held connections: close those whose client has gone.
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (int h : held) fds.push_back({h, POLLIN, 0});
    if (poll(fds.data(), fds.size(), static_cast<int>(left)) <= 0) continue;
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents != 0) {
        close(fds[i].fd);
        held.erase(std::find(held.begin(), held.end(), fds[i].fd));
      }
    }
    if (!(fds[0].revents & POLLIN)) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    int fd = accept(listener, reinterpret_cast<sockaddr *>(&from), &len);
    if (fd < 0) continue;
    char peer[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &from.sin_addr, peer, sizeof peer);
    Serve(o, fd, peer, ++served, rng, &held);
  }
  for (int h : held) close(h);
  close(listener);
  std::printf("hldm-sim stopping after %d connection(s)\n", served);
  return 0;
}
