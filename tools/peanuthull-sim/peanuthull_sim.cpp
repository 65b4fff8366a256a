// SPDX-License-Identifier: MIT
// peanuthull-sim: a small PeanutHull control server (TCP) and update
// responder (UDP) on one address and port (6060 by default), for the demo
// and the end-to-end tests.
//
// TCP, one connection at a time: "220" greeting, AUTH ROUTER answered with a
// fresh base64 challenge, the login record checked byte by byte (user name,
// blank, transformed challenge time, client identification code, HMAC-MD5
// over the password it was given), REGI, CNFM with the chat identifier and
// the sequence number, QUIT.  UDP: each 20-byte request is deciphered with
// the session key and answered with the 24-byte reply, enciphered, the
// sender's address in the clear.  One line per exchange on stdout.
//
// Misbehaviour modes for the tests (--mode): auth-504, login-535, regi-507,
// regi-508, close-after-greeting, cnfm-one-number, bad-checksum, bad-padding,
// bad-chat, silent (no UDP reply); --sequence-offset N answers with the
// request's sequence number plus N; --greeting-delay MS greets that late
// (a slow control server).  It always stops by itself after
// --max-seconds or --max-exchanges.
#include <namreg/common.h>
#include <namreg/ddnsclient.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string address = DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS;
  int port = 6060;
  int max_seconds = 300;
  int max_exchanges = 0;  // 0: no limit besides the time
  std::string user = "user";
  std::string password = "secret";
  std::string mode = "normal";
  uint32_t chat = 0;  // 0: a random one per login
  uint32_t sequence = 1000;
  uint32_t sequence_offset = 0;
  bool zero_time = false;
  int greeting_delay_ms = 0;  // a slow control server: the greeting comes this late
};

struct Session {
  bool valid = false;
  uint32_t chat = 0;
};

void Usage() {
  std::fputs(
      "usage: peanuthull-sim [--address A] [--port P] [--max-seconds N] [--max-exchanges N]\n"
      "                      [--user NAME] [--password TEXT] [--chat N] [--sequence N]\n"
      "                      [--sequence-offset N] [--zero-time] [--greeting-delay MS]\n"
      "                      [--mode normal|auth-504|login-535|regi-507|regi-508|\n"
      "                              close-after-greeting|cnfm-one-number|bad-checksum|\n"
      "                              bad-padding|bad-chat|silent]\n",
      stderr);
  std::exit(2);
}

Options ParseOptions(int argc, char **argv) {
  static const char *const kModes[] = {"normal",          "auth-504",     "login-535",
                                       "regi-507",        "regi-508",     "close-after-greeting",
                                       "cnfm-one-number", "bad-checksum", "bad-padding",
                                       "bad-chat",        "silent"};
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
    else if (a == "--max-exchanges")
      o.max_exchanges = std::atoi(value().c_str());
    else if (a == "--user")
      o.user = value();
    else if (a == "--password")
      o.password = value();
    else if (a == "--chat")
      o.chat = static_cast<uint32_t>(std::strtoul(value().c_str(), nullptr, 10));
    else if (a == "--sequence")
      o.sequence = static_cast<uint32_t>(std::strtoul(value().c_str(), nullptr, 10));
    else if (a == "--sequence-offset")
      o.sequence_offset = static_cast<uint32_t>(std::strtoul(value().c_str(), nullptr, 10));
    else if (a == "--zero-time")
      o.zero_time = true;
    else if (a == "--greeting-delay")
      o.greeting_delay_ms = std::atoi(value().c_str());
    else if (a == "--mode") {
      o.mode = value();
      bool known = false;
      for (const char *m : kModes) known = known || o.mode == m;
      if (!known) Usage();
    } else {
      Usage();
    }
  }
  if (o.max_seconds <= 0 || o.port <= 0 || o.port > 65535) Usage();
  return o;
}

void PutLE32(unsigned char *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t GetLE32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::string Hex(const unsigned char *p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    s += b;
  }
  return s;
}

// The expected time field: bytes 6..9 of the challenge OR 0xEFEFEFEF, taken
// as a negative number, rotated left by minus its remainder by 30.
uint32_t ExpectedTime(const unsigned char *challenge) {
  const int64_t v = static_cast<int32_t>(GetLE32(challenge + 6) | 0xEFEFEFEFu);
  const int64_t r = v % 30;  // truncating: -29..0
  const uint32_t x = static_cast<uint32_t>(v);
  const unsigned n = static_cast<unsigned>(-r);
  return n == 0 ? x : (x << n) | (x >> (32 - n));
}

bool SendText(int fd, const std::string &text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// One line from the client, at most 10 seconds; empty on close or silence.
std::string ReadLine(int fd) {
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (line.find("\r\n") == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return std::string();
    char buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return std::string();
    line.append(buf, static_cast<size_t>(n));
    if (line.size() > 4096) return std::string();
  }
  return line.substr(0, line.find("\r\n"));
}

// Runs one control connection.
void ServeControl(const Options &o, int fd, int number, std::mt19937 &rng, Session *session) {
  const std::string &mode = o.mode;
  if (o.greeting_delay_ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(o.greeting_delay_ms));
  SendText(fd, "220 peanuthull-sim ready\r\n");
  if (mode == "close-after-greeting") {
    // The client reads the end of the stream; its AUTH ROUTER is read and
    // dropped so that the close sends no reset.
    shutdown(fd, SHUT_WR);
    ReadLine(fd);
    std::printf("%d tcp greeting, closed\n", number);
    return;
  }
  std::string line = ReadLine(fd);
  if (line != "AUTH ROUTER") {
    std::printf("%d tcp expected AUTH ROUTER, got \"%s\"\n", number, line.c_str());
    SendText(fd, "500 expected AUTH ROUTER\r\n");
    return;
  }
  if (mode == "auth-504") {
    SendText(fd, "504 unsupported\r\n");
    std::printf("%d tcp auth refused (504)\n", number);
    return;
  }
  unsigned char challenge[24];
  for (unsigned char &b : challenge) b = static_cast<unsigned char>(rng());
  if (o.zero_time) std::memset(challenge + 6, 0, 4);
  char text[64];
  const int n = Base64_Encode(challenge, sizeof challenge, text, sizeof text);
  SendText(fd, "334 " + std::string(text, static_cast<size_t>(n)) + "\r\n");

  line = ReadLine(fd);
  unsigned char record[128];
  std::memset(record, 0, sizeof record);
  const int length = line.size() < 160 ? Base64_Decode(line.c_str(), record, sizeof record) : -1;
  const size_t u = o.user.size();
  bool ok = length == static_cast<int>(u + 25) && std::memcmp(record, o.user.data(), u) == 0 &&
            record[u] == ' ';
  const std::string time_hex = length >= static_cast<int>(u + 5) ? Hex(record + u + 1, 4) : "";
  ok = ok && GetLE32(record + u + 1) == ExpectedTime(challenge);
  ok = ok && GetLE32(record + u + 5) == DDNSCLIENT_PEANUTHULL_CLIENT_ID;
  unsigned char mac[16];
  HMAC_MD5(challenge, 16, reinterpret_cast<const unsigned char *>(o.password.data()),
           static_cast<int>(o.password.size()), mac);
  ok = ok && std::memcmp(record + u + 9, mac, 16) == 0;
  std::printf("%d tcp login record %s time=%s\n", number, ok ? "ok" : "wrong", time_hex.c_str());
  if (!ok || mode == "login-535") {
    SendText(fd, "535 authentication failed\r\n");
    return;
  }
  SendText(fd, "250 login ok\r\n");

  line = ReadLine(fd);
  if (line.compare(0, 7, "REGI A ") != 0) {
    SendText(fd, "500 expected REGI\r\n");
    return;
  }
  std::printf("%d tcp regi %s\n", number, line.c_str() + 7);
  if (mode == "regi-507" || mode == "regi-508") {
    SendText(fd, mode.substr(5) + " host name refused\r\n");
    return;
  }
  SendText(fd, "250 registered\r\n");

  line = ReadLine(fd);
  if (line != "CNFM") {
    SendText(fd, "500 expected CNFM\r\n");
    return;
  }
  const uint32_t chat = o.chat != 0 ? o.chat : static_cast<uint32_t>(rng() % 1000000u + 1u);
  char reply[64];
  if (mode == "cnfm-one-number")
    std::snprintf(reply, sizeof reply, "250 %u\r\n", static_cast<unsigned>(chat));
  else
    std::snprintf(reply, sizeof reply, "250 %u %u\r\n", static_cast<unsigned>(chat),
                  static_cast<unsigned>(o.sequence));
  SendText(fd, reply);
  std::printf("%d tcp cnfm chat=%u sequence=%u\n", number, static_cast<unsigned>(chat),
              static_cast<unsigned>(o.sequence));
  // The key and the session stay for the UDP updates.
  Blowfish_SetKey(challenge, 16);
  session->valid = true;
  session->chat = chat;

  line = ReadLine(fd);
  if (line == "QUIT") SendText(fd, "221 bye\r\n");
  std::printf("%d tcp %s\n", number, line == "QUIT" ? "quit" : "no quit");
}

void ServeUpdate(const Options &o, int udp, int number, const Session &session) {
  unsigned char in[64];
  sockaddr_in from{};
  socklen_t len = sizeof from;
  const ssize_t n = recvfrom(udp, in, sizeof in, 0, reinterpret_cast<sockaddr *>(&from), &len);
  if (n < 0) return;
  char peer[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, peer, sizeof peer);
  if (n != 20 || !session.valid || GetLE32(in) != session.chat) {
    std::printf("%d udp from %s refused (length %d)\n", number, peer, static_cast<int>(n));
    return;
  }
  unsigned char inner[16];
  Blowfish_Decrypt(in + 4, inner, 16);
  const uint32_t sequence = GetLE32(inner + 4);
  const bool ok = GetLE32(inner) == 10 && GetLE32(inner + 8) == 0u - (10u + sequence) &&
                  GetLE32(inner + 12) == 0;
  std::printf("%d udp from %s sequence=%u %s\n", number, peer, static_cast<unsigned>(sequence),
              ok ? "ok" : "wrong");
  if (!ok || o.mode == "silent") return;
  const uint32_t answer = sequence + o.sequence_offset;
  unsigned char out[24];
  PutLE32(out, o.mode == "bad-chat" ? session.chat + 1 : session.chat);
  // Opcode, sequence, check sum, padding.
  PutLE32(out + 4, 50);
  PutLE32(out + 8, answer);
  PutLE32(out + 12, 0u - (50u + answer) + (o.mode == "bad-checksum" ? 1u : 0u));
  PutLE32(out + 16, o.mode == "bad-padding" ? 1u : 0u);
  Blowfish_Encrypt(out + 4, out + 4, 16);
  std::memcpy(out + 20, &from.sin_addr.s_addr, 4);
  sendto(udp, out, sizeof out, 0, reinterpret_cast<sockaddr *>(&from), len);
}

}  // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const Options o = ParseOptions(argc, argv);

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(o.port));
  if (inet_pton(AF_INET, o.address.c_str(), &addr.sin_addr) != 1) Usage();
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int udp = socket(AF_INET, SOCK_DGRAM, 0);
  int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(listener, 16) != 0 ||
      bind(udp, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    std::perror("peanuthull-sim: bind");
    return 1;
  }
  std::printf("peanuthull-sim listening on %s:%d\n", o.address.c_str(), o.port);

  std::mt19937 rng(std::random_device{}());
  Session session;
  const auto deadline = Clock::now() + std::chrono::seconds(o.max_seconds);
  int served = 0;
  while (o.max_exchanges == 0 || served < o.max_exchanges) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd fds[2] = {{listener, POLLIN, 0}, {udp, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
    if (fds[1].revents & POLLIN) ServeUpdate(o, udp, ++served, session);
    if (fds[0].revents & POLLIN) {
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) continue;
      ServeControl(o, fd, ++served, rng, &session);
      close(fd);
    }
  }
  close(udp);
  close(listener);
  std::printf("peanuthull-sim stopping after %d exchange(s)\n", served);
  return 0;
}
