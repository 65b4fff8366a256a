// SPDX-License-Identifier: MIT
#include "named_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace nrtest {

namespace {

std::string g_directory;

std::string ReadTail(const std::string &path, size_t max) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string s = ss.str();
  return s.size() > max ? s.substr(s.size() - max) : s;
}

// One SOA query for `zone`; true when an authoritative NOERROR answer came.
bool AnswersSoa(const std::string &listen, const std::string &zone) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  std::string q("\x12\x34\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);
  size_t start = 0;
  while (start <= zone.size()) {
    size_t dot = zone.find('.', start);
    if (dot == std::string::npos) dot = zone.size();
    q += static_cast<char>(dot - start);
    q += zone.substr(start, dot - start);
    start = dot + 1;
  }
  q += std::string("\x00\x00\x06\x00\x01", 5);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(53);
  sa.sin_addr.s_addr = inet_addr(listen.c_str());
  bool ok = false;
  if (sendto(fd, q.data(), q.size(), 0, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) ==
      static_cast<ssize_t>(q.size())) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 300) == 1) {
      unsigned char buf[512];
      ssize_t n = recv(fd, buf, sizeof(buf), 0);
      ok = n >= 12 && buf[0] == 0x12 && buf[1] == 0x34 && (buf[2] & 0x84) == 0x84 &&
           (buf[3] & 0x0F) == 0;
    }
  }
  close(fd);
  return ok;
}

}  // namespace

std::string NamedDirectory() {
  return g_directory;
}

std::unique_ptr<ChildProcess> StartNamed(const std::vector<NamedZone> &zones, std::string *error,
                                         const NamedOptions &options) {
  std::string dummy;
  if (!error) error = &dummy;
  const std::string named = FindProgram("named");
  if (named.empty()) {
    *error = "named (bind9) is not installed";
    return nullptr;
  }
  if (zones.empty()) {
    *error = "no zone given";
    return nullptr;
  }
  static int serial = 0;
  const std::string dir =
      ScratchDir() + "/named-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  std::ostringstream conf;
  conf << "options {\n"
       << "  directory \"" << dir << "\";\n"
       << "  pid-file \"" << dir << "/named.pid\";\n"
       << "  session-keyfile \"" << dir << "/session.key\";\n"
       << "  managed-keys-directory \"" << dir << "\";\n"
       << "  listen-on port 53 { " << options.listen << "; };\n"
       << "  listen-on-v6 { none; };\n"
       << "  recursion no;\n"
       << "  dnssec-validation no;\n"
       << "  notify no;\n"
       << "};\n"
       << "controls { };\n";
  for (const NamedZone &z : zones) {
    const std::string file = dir + "/" + z.name + ".zone";
    std::ostringstream zone;
    zone << "$ORIGIN " << z.name << ".\n$TTL 60\n"
         << "@ IN SOA ns." << z.name << ". admin." << z.name << ". 1 3600 600 86400 60\n"
         << "@ IN NS ns." << z.name << ".\n"
         << "ns IN A " << options.listen << "\n";
    for (const std::string &r : z.records) zone << r << "\n";
    if (!WriteFile(file, zone.str())) {
      *error = "cannot write " + file;
      return nullptr;
    }
    conf << "zone \"" << z.name << "\" {\n  type primary;\n  file \"" << file << "\";\n"
         << "  allow-update { " << (z.allow_update ? "127.0.0.1;" : "none;") << " };\n};\n";
  }
  const std::string conf_path = dir + "/named.conf";
  if (!WriteFile(conf_path, conf.str())) {
    *error = "cannot write " + conf_path;
    return nullptr;
  }
  g_directory = dir;
  const std::string log = dir + "/named.log";
  auto child = std::make_unique<ChildProcess>();
  if (!child->Start({named, "-g", "-4", "-c", conf_path}, log)) {
    *error = "cannot start " + named;
    return nullptr;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options.start_timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!child->running()) {
      *error = "named exited:\n" + ReadTail(log, 2000);
      return nullptr;
    }
    if (AnswersSoa(options.listen, zones.front().name)) return child;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  *error = "named did not answer in time:\n" + ReadTail(log, 2000);
  return nullptr;
}

std::unique_ptr<ChildProcess> StartNamed(const std::string &zone,
                                         const std::vector<std::string> &records, bool allow_update,
                                         std::string *error) {
  NamedZone z;
  z.name = zone;
  z.records = records;
  z.allow_update = allow_update;
  return StartNamed(std::vector<NamedZone>{z}, error);
}

}  // namespace nrtest
