// SPDX-License-Identifier: MIT
#include "http_peers.h"

#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace nrtest {

const std::string kLongUser = "cam-" + std::string(60, 'u');
const std::string kLongPassword = "p@ss:" + std::string(59, 'w');

std::string Md5Hex(const std::string &text) {
  unsigned char d[16];
  unsigned int n = 0;
  EVP_Digest(text.data(), text.size(), d, &n, EVP_md5(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < n; ++i) out += {kHex[d[i] >> 4], kHex[d[i] & 15]};
  return out;
}

namespace {

std::string FreshDir(const std::string &name) {
  static int serial = 0;
  std::string dir =
      ScratchDir() + "/" + name + "-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  mkdir(dir.c_str(), 0777);
  chmod(dir.c_str(), 0777);  // the servers drop to an unprivileged user
  chmod(ScratchDir().c_str(), 0755);
  return dir;
}

std::string Tail(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  return text.size() > 1500 ? text.substr(text.size() - 1500) : text;
}

bool Htpasswd(const std::string &file, const std::string &user, const std::string &password,
              std::string *error) {
  std::string tool = FindProgram("htpasswd");
  if (tool.empty()) {
    *error = "htpasswd not installed";
    return false;
  }
  ProcessResult r = RunProcess({tool, "-cb", file, user, password});
  if (r.exit_status != 0) {
    *error = "htpasswd failed: " + r.err;
    return false;
  }
  chmod(file.c_str(), 0644);
  return true;
}

// Waits for the listener while the server still runs.
bool WaitUp(ChildProcess *child, uint16_t port, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 100) {
    if (WaitForTcpPort("127.0.0.1", port, 100)) return true;
    if (!child->running()) return false;
  }
  return false;
}

}  // namespace

std::string ApachePage() {
  std::string page = "<html><body>\n";
  while (page.size() < 1024 - 15) page += "namreg test page line\n";
  page.resize(1024 - 15);
  return page + "</body></html>\n";
}

std::string ApacheBigBody() {
  std::string body;
  for (int i = 0; body.size() < 300 * 1024; ++i)
    body += "big body line " + std::to_string(i) + "\n";
  body.resize(300 * 1024);
  return body;
}

std::string ChunkedCgiBody() {
  std::string body;
  for (int i = 0; i < 40; ++i) body += "chunk line " + std::to_string(i) + "\n";
  return body;
}

std::unique_ptr<ChildProcess> StartApache(std::string *dir_out, std::string *error, uint16_t port,
                                          const std::vector<TlsSite> &tls) {
  std::string apache = FindProgram("apache2");
  if (apache.empty()) {
    *error = "apache2 not installed";
    return nullptr;
  }
  const std::string dir = FreshDir("apache");
  *dir_out = dir;
  const std::string mods = "/usr/lib/apache2/modules/";
  std::string conf;
  for (const char *m : {"mpm_prefork", "authz_core", "authn_core", "authn_file", "auth_basic",
                        "auth_digest", "authz_user", "cgi", "alias"})
    conf += std::string("LoadModule ") + m + "_module " + mods + "mod_" + m + ".so\n";
  if (!tls.empty()) {
    for (const char *m : {"socache_shmcb", "ssl"})
      conf += std::string("LoadModule ") + m + "_module " + mods + "mod_" + m + ".so\n";
    conf += "SSLSessionCache none\n";
  }
  conf += "ServerName www.example.test\nListen 127.0.0.1:" + std::to_string(port) + "\n";
  conf += "User nobody\nGroup nogroup\n";
  conf += "PidFile " + dir + "/httpd.pid\nDefaultRuntimeDir " + dir + "\nErrorLog " + dir +
          "/error.log\n";
  conf += "LogLevel warn\n";
  conf += "LogFormat \"%r|%{Host}i|%>s\" plain\nCustomLog " + dir + "/access.log plain\n";
  conf += "KeepAlive On\nMaxKeepAliveRequests 0\nTimeout 10\n";
  conf += "DocumentRoot " + dir + "/htdocs\n";
  conf += "<Directory />\n  Require all granted\n</Directory>\n";
  conf += "ScriptAlias /cgi/ " + dir + "/cgi/\n";
  conf += "Alias /basic/ " + dir + "/htdocs/\nAlias /digest/ " + dir + "/htdocs/\n";
  conf +=
      "<Location /basic/>\n  AuthType Basic\n  AuthName \"basic area\"\n  AuthBasicProvider file\n"
      "  AuthUserFile " +
      dir + "/htpasswd\n  Require valid-user\n</Location>\n";
  // Current httpd answers Digest with qop="auth" only ("AuthDigestQop none"
  // is refused); the form without qop is exercised against a scripted peer.
  conf +=
      "<Location /digest/>\n  AuthType Digest\n  AuthName \"lab\"\n  AuthDigestDomain /digest/\n"
      "  AuthDigestProvider file\n  AuthUserFile " +
      dir + "/htdigest\n  Require valid-user\n</Location>\n";
  for (const TlsSite &site : tls) {
    const std::string p = std::to_string(site.port);
    conf += "Listen 127.0.0.1:" + p + "\n<VirtualHost 127.0.0.1:" + p + ">\n";
    conf += "  SSLEngine on\n  SSLCertificateFile " + site.files.cert +
            "\n  SSLCertificateKeyFile " + site.files.key + "\n";
    // OpenSSL 3 needs security level 0 for TLS 1.0 at all.
    conf += site.tls10_only ? "  SSLProtocol TLSv1\n  SSLCipherSuite DEFAULT:@SECLEVEL=0\n"
                            : "  SSLProtocol all -TLSv1 -TLSv1.1\n";
    conf += "  CustomLog " + dir + "/access-" + p + ".log plain\n</VirtualHost>\n";
  }
  bool ok =
      WriteFile(dir + "/httpd.conf", conf) && WriteFile(dir + "/htdocs/page.html", ApachePage()) &&
      WriteFile(dir + "/htdocs/big.txt", ApacheBigBody()) &&
      WriteFile(dir + "/htdigest", "alice:lab:" + Md5Hex("alice:lab:rabbit hole") + "\n") &&
      WriteFile(dir + "/cgi/chunked.cgi",
                "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
                // A pause midway makes httpd send the first part before it
                // knows the length, so it has to chunk the body.
                "i=0\nwhile [ $i -lt 40 ]; do echo \"chunk line $i\"; i=$((i+1));\n"
                "  if [ $i -eq 20 ]; then sleep 0.3; fi\ndone\n",
                0755) &&
      WriteFile(dir + "/cgi/echo.cgi",
                "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
                "printf '%s:' \"$REQUEST_METHOD\"\nhead -c \"$CONTENT_LENGTH\"\n",
                0755) &&
      WriteFile(dir + "/cgi/upload.cgi",
                "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
                "t=$(mktemp)\nhead -c \"$CONTENT_LENGTH\" > \"$t\"\n"
                "printf 'length=%s md5=%s\\n' \"$(wc -c < \"$t\")\" "
                "\"$(md5sum < \"$t\" | cut -d' ' -f1)\"\nrm -f \"$t\"\n",
                0755) &&
      WriteFile(dir + "/cgi/nocontent.cgi",
                "#!/bin/sh\nprintf 'Status: 204 No Content\\r\\n\\r\\n'\n", 0755) &&
      WriteFile(
          dir + "/cgi/host.cgi",
          "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\necho \"host=$HTTP_HOST\"\n",
          0755);
  if (!ok) {
    *error = "cannot write the Apache files";
    return nullptr;
  }
  for (const char *sub : {"/htdocs", "/cgi"}) chmod((dir + sub).c_str(), 0755);
  if (!Htpasswd(dir + "/htpasswd", kLongUser, kLongPassword, error)) return nullptr;
  auto child = std::make_unique<ChildProcess>();
  if (!child->Start({apache, "-X", "-f", dir + "/httpd.conf"}, dir + "/stdout.log")) {
    *error = "apache2 did not start";
    return nullptr;
  }
  if (!WaitUp(child.get(), port, 15000)) {
    *error = "apache2 is not listening: " + Tail(dir + "/error.log") + Tail(dir + "/stdout.log");
    return nullptr;
  }
  for (const TlsSite &site : tls) {
    if (!WaitUp(child.get(), site.port, 5000)) {
      *error = "apache2 is not listening on " + std::to_string(site.port) + ": " +
               Tail(dir + "/error.log");
      return nullptr;
    }
  }
  return child;
}

std::unique_ptr<ChildProcess> StartSquid(std::string *dir_out, std::string *error, uint16_t port) {
  std::string squid = FindProgram("squid");
  std::string helper = FindProgram("basic_ncsa_auth");
  if (squid.empty() || helper.empty()) {
    *error = "squid or basic_ncsa_auth not installed";
    return nullptr;
  }
  const std::string dir = FreshDir("squid");
  *dir_out = dir;
  if (!Htpasswd(dir + "/passwd", "camera", "proxy pass", error)) return nullptr;
  std::string conf = "http_port 127.0.0.1:" + std::to_string(port) +
                     "\n"
                     "auth_param basic program " +
                     helper + " " + dir +
                     "/passwd\n"
                     "auth_param basic realm namreg proxy\n"
                     "auth_param basic children 1 startup=1 idle=1\n"
                     "acl authed proxy_auth REQUIRED\n"
                     "http_access allow authed\n"
                     "http_access deny all\n"
                     "cache deny all\n"
                     "access_log stdio:" +
                     dir +
                     "/access.log\n"
                     "buffered_logs off\n"
                     "log_mime_hdrs on\n"
                     "cache_log " +
                     dir +
                     "/cache.log\n"
                     "cache_store_log none\n"
                     "pid_filename " +
                     dir +
                     "/squid.pid\n"
                     "coredump_dir " +
                     dir +
                     "\n"
                     "shutdown_lifetime 0 seconds\n"
                     "dns_nameservers 127.0.0.1\n";
  if (!WriteFile(dir + "/squid.conf", conf)) {
    *error = "cannot write squid.conf";
    return nullptr;
  }
  auto child = std::make_unique<ChildProcess>();
  if (!child->Start({squid, "-N", "-f", dir + "/squid.conf"}, dir + "/stdout.log")) {
    *error = "squid did not start";
    return nullptr;
  }
  if (!WaitUp(child.get(), port, 20000)) {
    *error = "squid is not listening: " + Tail(dir + "/cache.log") + Tail(dir + "/stdout.log");
    return nullptr;
  }
  return child;
}

std::string WaitForFileText(const std::string &path, const std::string &needle, int timeout_ms) {
  std::string text;
  for (int waited = 0;; waited += 50) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    if (text.find(needle) != std::string::npos || waited >= timeout_ms) return text;
    usleep(50000);
  }
}

}  // namespace nrtest
