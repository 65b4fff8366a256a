// SPDX-License-Identifier: MIT
// provider-sim: fake public DDNS providers over HTTP on loopback ports, for
// the tests and for firmware developers who want to watch a camera update
// without an account.  It listens on every given port at once, serves one
// request per connection, and prints one line per request on stdout:
//
//   <port> "<request line>" host="<Host>" agent="<User-Agent>" auth=<none|ok|bad> -> <status>
//
// What it answers is chosen by the request path (and, for "/", the Host):
// check-IP pages in each provider's form, dyndns2-style replies, TZO, DHS,
// DynamicDo, PCCW, Huagai and GnuDIP salt and reply pages.  --reply replaces
// the body of one path.  It stops by itself after --max-seconds or
// --max-requests.  With --tls-ports (and --cert, --key) it serves the same
// pages over HTTPS on those ports (OpenSSL; TLS 1.2 and newer), as the
// providers that offer HTTPS do.
#include <namreg/common.h>
#if PROVIDER_SIM_TLS
#include <openssl/err.h>
#include <openssl/ssl.h>
#endif

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
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

constexpr int kRequestTimeoutMs = 5000;
constexpr size_t kMaxRequestBytes = 8192;

struct Options {
  std::string address = "127.0.0.1";
  std::vector<int> ports = {80, 8245, 8888, 21333, 8008};
  int max_seconds = 300;
  int max_requests = 0;    // 0: no limit besides the time
  std::string ip;          // address the check-IP pages show ("" : the client's)
  bool no_marker = false;  // check-IP pages without marker and address
  std::string user;        // Basic credentials the authenticated paths require
  std::string password;
  bool check_credentials = false;
  bool huagai_fake = false;                  // no "Http-Code-By: HGDDNS" header
  std::string gnudip_retc = "0";             // retc of the GnuDIP update reply
  std::string gnudip_password;               // when set, a wrong digest gets retc 1
  std::string gnudip_salt = "Zq8xY1pQ3r";    // salt of the GnuDIP salt page
  bool gnudip_no_time = false;               // salt page without its time tag
  std::map<std::string, std::string> reply;  // path -> body
  std::map<std::string, int> status;         // path -> HTTP status
  std::vector<int> tls_ports;                // ports that speak HTTPS
  std::string cert, key;                     // PEM files of the HTTPS ports
};

// One accepted connection: plain, or a TLS session over it.
struct Conn {
  int fd = -1;
#if PROVIDER_SIM_TLS
  SSL *ssl = nullptr;
#endif
};

[[noreturn]] void Usage() {
  std::fputs(
      "usage: provider-sim [--address A] [--ports P,P,...] [--max-seconds N] [--max-requests N]\n"
      "                    [--ip ADDRESS] [--no-marker] [--basic USER:PASSWORD]\n"
      "                    [--huagai-fake] [--gnudip-retc TEXT] [--gnudip-password P]\n"
      "                    [--gnudip-salt S] [--gnudip-no-time]\n"
      "                    [--reply PATH=BODY]... [--status PATH=CODE]...\n"
      "                    [--tls-ports P,P,... --cert FILE --key FILE]\n",
      stderr);
  std::exit(2);
}

bool SplitPair(const std::string &text, char sep, std::string *left, std::string *right) {
  const size_t at = text.find(sep);
  if (at == std::string::npos || at == 0) return false;
  *left = text.substr(0, at);
  *right = text.substr(at + 1);
  return true;
}

Options Parse(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage();
      return argv[++i];
    };
    std::string left, right;
    if (arg == "--address") {
      o.address = value();
    } else if (arg == "--ports" || arg == "--tls-ports") {
      std::vector<int> &ports = arg == "--ports" ? o.ports : o.tls_ports;
      ports.clear();
      const std::string list = value();
      size_t start = 0;
      while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        const int port = std::atoi(list.substr(start, end - start).c_str());
        if (port <= 0 || port > 65535) Usage();
        ports.push_back(port);
        start = end + 1;
      }
    } else if (arg == "--cert") {
      o.cert = value();
    } else if (arg == "--key") {
      o.key = value();
    } else if (arg == "--max-seconds") {
      o.max_seconds = std::atoi(value().c_str());
    } else if (arg == "--max-requests") {
      o.max_requests = std::atoi(value().c_str());
    } else if (arg == "--ip") {
      o.ip = value();
    } else if (arg == "--no-marker") {
      o.no_marker = true;
    } else if (arg == "--basic") {
      if (!SplitPair(value(), ':', &o.user, &o.password)) Usage();
      o.check_credentials = true;
    } else if (arg == "--huagai-fake") {
      o.huagai_fake = true;
    } else if (arg == "--gnudip-retc") {
      o.gnudip_retc = value();
    } else if (arg == "--gnudip-password") {
      o.gnudip_password = value();
    } else if (arg == "--gnudip-salt") {
      o.gnudip_salt = value();
    } else if (arg == "--gnudip-no-time") {
      o.gnudip_no_time = true;
    } else if (arg == "--reply") {
      if (!SplitPair(value(), '=', &left, &right)) Usage();
      o.reply[left] = right;
    } else if (arg == "--status") {
      if (!SplitPair(value(), '=', &left, &right)) Usage();
      o.status[left] = std::atoi(right.c_str());
    } else {
      Usage();
    }
  }
  if (o.max_seconds <= 0 || o.max_requests < 0 || (o.ports.empty() && o.tls_ports.empty()) ||
      (!o.tls_ports.empty() && (o.cert.empty() || o.key.empty())))
    Usage();
#if !PROVIDER_SIM_TLS
  if (!o.tls_ports.empty()) {
    std::fputs("provider-sim: built without OpenSSL: no --tls-ports\n", stderr);
    std::exit(2);
  }
#endif
  return o;
}

bool SendAll(const Conn &c, const std::string &data) {
  size_t off = 0;
  while (off < data.size()) {
#if PROVIDER_SIM_TLS
    if (c.ssl != nullptr) {
      const int n = SSL_write(c.ssl, data.data() + off, static_cast<int>(data.size() - off));
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
      continue;
    }
#endif
    const ssize_t n = send(c.fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// One read of what has come (after poll said so); 0 at the end, -1 failed.
ssize_t ReadSome(const Conn &c, char *buf, size_t size) {
#if PROVIDER_SIM_TLS
  if (c.ssl != nullptr) {
    const int n = SSL_read(c.ssl, buf, static_cast<int>(size));
    return n > 0 ? n : (SSL_get_error(c.ssl, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1);
  }
#endif
  return recv(c.fd, buf, size, 0);
}

// One request header, read within the request's own deadline.
std::string ReadRequest(const Conn &c) {
  std::string text;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
  while (text.find("\r\n\r\n") == std::string::npos && text.size() < kMaxRequestBytes) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    bool pending = false;
#if PROVIDER_SIM_TLS
    pending = c.ssl != nullptr && SSL_pending(c.ssl) > 0;
#endif
    pollfd p{c.fd, POLLIN, 0};
    if (!pending && poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[1024];
    const ssize_t n = ReadSome(c, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

std::string Header(const std::string &request, const std::string &name) {
  const std::string key = "\r\n" + name + ": ";
  const size_t at = request.find(key);
  if (at == std::string::npos) return std::string();
  const size_t start = at + key.size();
  return request.substr(start, request.find("\r\n", start) - start);
}

// Value of `name` in a query text ("" when absent).
std::string Param(const std::string &query, const std::string &name) {
  size_t start = 0;
  while (start < query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
    start = end + 1;
  }
  return std::string();
}

bool Contains(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

bool EndsWith(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct Answer {
  int status = 200;
  std::string body;
  std::string headers;  // extra header lines, each with CR LF
};

std::string Md5Hex(const std::string &text) {
  char hex[33];
  MD5_StringHex(hex, text.c_str());
  return hex;
}

// Paths whose providers authenticate with Basic credentials.
bool NeedsCredentials(const std::string &path) {
  static const char *const kPaths[] = {"/nic/update",        "/nic/hosts",  "/dyndns/update",
                                       "/ddns/nsupdate.php", "/login.html", "/DynDNS/dyndns.cgi"};
  for (const char *p : kPaths)
    if (path == p) return true;
  return false;
}

// The check-IP page of the provider behind `host` (by its name), showing ip.
std::string CheckIPPage(const Options &o, const std::string &host, const std::string &ip) {
  if (o.no_marker) return "<html><body>address unknown</body></html>";
  if (Contains(host, "dnspark")) return "<html><body>Current Address: " + ip + "</body></html>";
  if (Contains(host, "tzo")) return "IPAddress: " + ip + "\r\n";
  if (Contains(host, "changeip") || Contains(host, "home-monitor")) return ip + "\n";
  return "<html><head><title>Current IP Check</title></head><body>Current IP Address: " + ip +
         "</body></html>";
}

Answer Respond(const Options &o, const std::string &path, const std::string &query,
               const std::string &host, const std::string &client_ip) {
  const std::string ip = o.ip.empty() ? client_ip : o.ip;
  Answer a;
  if (path == "/ip.php" || path == "/myip/") {
    a.body = o.no_marker ? "unknown" : ip;
  } else if (path == "/remote_addr.php") {
    a.body = o.no_marker ? "unknown" : "REMOTE_ADDR: " + ip;
  } else if (path == "/cgi-bin/ddns/check_ip.cgi") {
    a.body = CheckIPPage(o, "", ip);
  } else if (path == "/") {
    // Swisscom's page takes the camera's details and shows the bare address.
    a.body = Contains(query, "mac=") ? (o.no_marker ? "unknown" : ip) : CheckIPPage(o, host, ip);
  } else if (path == "/nic/update" || path == "/dyndns/update" || path == "/ddns/nsupdate.php") {
    a.body = Contains(host, "changeip") ? "200 Successful Update" : "good " + Param(query, "myip");
  } else if (path == "/webclient/tzoperl.html") {
    a.body = "TZO Name: " + Param(query, "TZOName") + " IPAddress=" + Param(query, "IPAddress");
  } else if (path == "/nic/hosts") {
    a.body = "Updating ip on ns.dhs.example: done";
  } else if (path == "/dnsupdate.php") {
    a.body = "SUCCESS";
  } else if (path == "/login.html" || path == "/DynDNS/dyndns.cgi") {
    a.body = "<html><body>login OK</body></html>";
  } else if (path == "/services/dyndns/") {
    a.body = "good " + Param(query, "ip2");
    if (!o.huagai_fake) a.headers = "Http-Code-By: HGDDNS\r\n";
  } else if (EndsWith(path, "/gdipupdt.cgi")) {
    if (query.empty()) {
      a.body = "<html><head>\n<meta name=\"salt\" content=\"" + o.gnudip_salt + "\">\n";
      if (!o.gnudip_no_time) a.body += "<meta name=\"time\" content=\"1765339200\">\n";
      a.body += "<meta name=\"sign\" content=\"0123456789abcdef0123456789abcdef\">\n</head></html>";
    } else {
      std::string retc = o.gnudip_retc;
      if (!o.gnudip_password.empty() &&
          Param(query, "pass") != Md5Hex(Md5Hex(o.gnudip_password) + "." + Param(query, "salt")))
        retc = "1";
      a.body = "<html><head><meta name=\"retc\" content=\"" + retc + "\"></head></html>";
    }
  } else if (!Param(query, "host").empty() && !Param(query, "username").empty()) {
    a.body = "<result>success</result>";  // PCCW update at any path
  } else {
    a.status = 404;
    a.body = "not found";
  }
  return a;
}

const char *Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

void Serve(const Options &o, const Conn &conn, int port, const std::string &client_ip) {
  const std::string request = ReadRequest(conn);
  const std::string line = request.substr(0, request.find("\r\n"));
  if (line.empty()) {
    std::printf("%d (no request)\n", port);
    std::fflush(stdout);
    return;
  }
  std::string target;
  const size_t sp1 = line.find(' ');
  const size_t sp2 = line.rfind(' ');
  if (sp1 != std::string::npos && sp2 > sp1) target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const size_t q = target.find('?');
  const std::string path = target.substr(0, q);
  const std::string query = q == std::string::npos ? std::string() : target.substr(q + 1);
  std::string host = Header(request, "Host");
  const std::string authorization = Header(request, "Authorization");

  std::string auth = "none";
  if (!authorization.empty()) {
    char expected[256];
    const std::string joined = o.user + ":" + o.password;
    const int n = Base64_EncodeString(joined.c_str(), expected, sizeof expected);
    auth = n > 0 && authorization == "Basic " + std::string(expected, static_cast<size_t>(n))
               ? "ok"
               : "bad";
  }
  Answer a;
  if (o.check_credentials && NeedsCredentials(path) && auth != "ok") {
    a.status = 401;
    a.body = "badauth";
    a.headers = "WWW-Authenticate: Basic realm=\"provider-sim\"\r\n";
  } else {
    a = Respond(o, path, query, host.substr(0, host.find(':')), client_ip);
    auto r = o.reply.find(path);
    if (r != o.reply.end()) {
      a.status = 200;
      a.body = r->second;
    }
    auto s = o.status.find(path);
    if (s != o.status.end()) a.status = s->second;
  }
  std::printf("%d \"%s\" host=\"%s\" agent=\"%s\" auth=%s -> %d\n", port, line.c_str(),
              host.c_str(), Header(request, "User-Agent").c_str(), auth.c_str(), a.status);
  std::fflush(stdout);
  const std::string reply =
      "HTTP/1.1 " + std::to_string(a.status) + " " + Reason(a.status) +
      "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(a.body.size()) +
      "\r\nConnection: close\r\n" + a.headers + "\r\n" + a.body;
  SendAll(conn, reply);
}

#if PROVIDER_SIM_TLS
// The server side of the HTTPS ports: the certificate chain and key of
// --cert and --key, TLS 1.2 and newer.
SSL_CTX *MakeTlsContext(const Options &o) {
  SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
      SSL_CTX_use_certificate_chain_file(ctx, o.cert.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, o.key.c_str(), SSL_FILETYPE_PEM) != 1) {
    std::fprintf(stderr, "provider-sim: cannot use %s and %s for TLS\n", o.cert.c_str(),
                 o.key.c_str());
    std::exit(1);
  }
  return ctx;
}
#endif

}  // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  const Options o = Parse(argc, argv);
#if PROVIDER_SIM_TLS
  SSL_CTX *tls = o.tls_ports.empty() ? nullptr : MakeTlsContext(o);
#endif
  std::vector<pollfd> listeners;
  std::vector<int> ports;
  std::vector<bool> secure;
  std::vector<int> all = o.ports;
  all.insert(all.end(), o.tls_ports.begin(), o.tls_ports.end());
  for (size_t k = 0; k < all.size(); ++k) {
    const int port = all[k];
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || inet_pton(AF_INET, o.address.c_str(), &a.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
      std::fprintf(stderr, "provider-sim: cannot listen on %s:%d: %s\n", o.address.c_str(), port,
                   std::strerror(errno));
      return 1;
    }
    listeners.push_back(pollfd{fd, POLLIN, 0});
    ports.push_back(port);
    secure.push_back(k >= o.ports.size());
  }
  std::printf("provider-sim listening on %s ports", o.address.c_str());
  for (int port : ports) std::printf(" %d", port);
  std::printf("\n");
  std::fflush(stdout);

  const auto deadline = Clock::now() + std::chrono::seconds(o.max_seconds);
  int served = 0;
  while (o.max_requests == 0 || served < o.max_requests) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    if (poll(listeners.data(), listeners.size(), static_cast<int>(left)) <= 0) continue;
    for (size_t i = 0; i < listeners.size(); ++i) {
      if ((listeners[i].revents & POLLIN) == 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const int fd = accept(listeners[i].fd, reinterpret_cast<sockaddr *>(&from), &len);
      if (fd < 0) continue;
      char client_ip[INET_ADDRSTRLEN] = "";
      inet_ntop(AF_INET, &from.sin_addr, client_ip, sizeof client_ip);
      Conn conn;
      conn.fd = fd;
#if PROVIDER_SIM_TLS
      if (secure[i]) {
        // A handshake that fails (a client refusing the certificate) is a
        // connection without a request.
        const timeval limit = {kRequestTimeoutMs / 1000, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        conn.ssl = SSL_new(tls);
        SSL_set_fd(conn.ssl, fd);
        if (SSL_accept(conn.ssl) != 1) {
          std::printf("%d (handshake failed)\n", ports[i]);
          std::fflush(stdout);
          ERR_clear_error();
          SSL_free(conn.ssl);
          close(fd);
          ++served;
          continue;
        }
      }
#endif
      Serve(o, conn, ports[i], client_ip);
#if PROVIDER_SIM_TLS
      if (conn.ssl != nullptr) {
        SSL_shutdown(conn.ssl);
        SSL_free(conn.ssl);
      }
#endif
      close(fd);
      ++served;
      if (o.max_requests != 0 && served >= o.max_requests) break;
    }
  }
  for (const pollfd &p : listeners) close(p.fd);
#if PROVIDER_SIM_TLS
  SSL_CTX_free(tls);
#endif
  std::printf("provider-sim stopped after %d requests\n", served);
  return 0;
}
