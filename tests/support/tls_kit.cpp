// SPDX-License-Identifier: MIT
#include "tls_kit.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "testworld.h"

namespace nrtest {

const char kTlsHostName[] = "tls.example.test";
const char kTlsOtherHostName[] = "other.example.test";

namespace {

const char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// One configuration for every openssl call: the request defaults, the CA
// extensions, and a small "openssl ca" set-up per issuing CA (its database
// in <dir>/<ca>/).  The names a leaf holds come from the environment (SAN).
std::string OpensslConfig(const std::string &dir) {
  return "[req]\n"
         "distinguished_name = dn\n"
         "prompt = no\n"
         "[dn]\n"
         "CN = unused\n"
         "[root_ext]\n"
         "basicConstraints = critical, CA:TRUE\n"
         "keyUsage = critical, keyCertSign, cRLSign\n"
         "subjectKeyIdentifier = hash\n"
         "[intermediate_ext]\n"
         "basicConstraints = critical, CA:TRUE, pathlen:0\n"
         "keyUsage = critical, keyCertSign, cRLSign\n"
         "subjectKeyIdentifier = hash\n"
         "authorityKeyIdentifier = keyid\n"
         "[leaf_ext]\n"
         "basicConstraints = critical, CA:FALSE\n"
         "keyUsage = critical, digitalSignature, keyEncipherment\n"
         "extendedKeyUsage = serverAuth\n"
         "subjectAltName = $ENV::SAN\n"
         "authorityKeyIdentifier = keyid\n"
         "[ca]\n"
         "default_ca = root\n"
         "[root]\n"
         "dir = " +
         dir +
         "/root\n"
         "database = $dir/index.txt\n"
         "new_certs_dir = $dir\n"
         "serial = $dir/serial\n"
         "default_md = sha256\n"
         "policy = any\n"
         "unique_subject = no\n"
         "[intermediate]\n"
         "dir = " +
         dir +
         "/intermediate\n"
         "database = $dir/index.txt\n"
         "new_certs_dir = $dir\n"
         "serial = $dir/serial\n"
         "default_md = sha256\n"
         "policy = any\n"
         "unique_subject = no\n"
         "[unknown]\n"
         "dir = " +
         dir +
         "/unknown\n"
         "database = $dir/index.txt\n"
         "new_certs_dir = $dir\n"
         "serial = $dir/serial\n"
         "default_md = sha256\n"
         "policy = any\n"
         "unique_subject = no\n"
         "[any]\n"
         "commonName = supplied\n";
}

class Openssl {
 public:
  Openssl(const std::string &dir, std::string *error) : dir_(dir), error_(error) {
    tool_ = FindProgram("openssl");
  }
  bool ok() const { return !tool_.empty(); }

  bool Run(const std::vector<std::string> &args, const std::string &san = "DNS:unused") {
    std::vector<std::string> argv = {tool_};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.env_set = {"SAN=" + san, "OPENSSL_CONF=" + dir_ + "/openssl.cnf"};
    options.timeout_ms = 30000;
    ProcessResult r = RunProcess(argv, options);
    if (r.exit_status != 0) {
      *error_ = "openssl " + args[0] + " failed: " + r.err;
      return false;
    }
    return true;
  }

  // A key and a certificate request for `cn`.
  bool Request(const std::string &name, const std::string &cn, bool rsa) {
    std::vector<std::string> key =
        rsa ? std::vector<std::string>{"-newkey", "rsa:2048"}
            : std::vector<std::string>{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"};
    std::vector<std::string> args = {"req", "-new", "-nodes", "-config", dir_ + "/openssl.cnf"};
    args.insert(args.end(), key.begin(), key.end());
    args.insert(args.end(), {"-keyout", dir_ + "/" + name + ".key", "-out",
                             dir_ + "/" + name + ".csr", "-subj", "/CN=" + cn});
    return Run(args) && chmod((dir_ + "/" + name + ".key").c_str(), 0644) == 0;
  }

  // Issues <name>.pem from <name>.csr by the CA `issuer` (a section of the
  // configuration, with <issuer>.pem and <issuer>.key).
  bool Issue(const std::string &name, const std::string &issuer, const std::string &extensions,
             const std::string &san, const std::vector<std::string> &dates) {
    std::vector<std::string> args = {"ca",
                                     "-batch",
                                     "-notext",
                                     "-config",
                                     dir_ + "/openssl.cnf",
                                     "-name",
                                     issuer,
                                     "-cert",
                                     dir_ + "/" + issuer + ".pem",
                                     "-keyfile",
                                     dir_ + "/" + issuer + ".key",
                                     "-extensions",
                                     extensions,
                                     "-in",
                                     dir_ + "/" + name + ".csr",
                                     "-out",
                                     dir_ + "/" + name + ".pem"};
    args.insert(args.end(), dates.begin(), dates.end());
    return Run(args, san);
  }

  bool SelfSignedCa(const std::string &name, const std::string &cn, bool rsa) {
    if (!WriteFile(dir_ + "/" + name + "/index.txt", "") ||
        !WriteFile(dir_ + "/" + name + "/serial", name == "root" ? "1000\n" : "5000\n"))
      return false;
    if (!Request(name, cn, rsa)) return false;
    return Run({"x509", "-req", "-in", dir_ + "/" + name + ".csr", "-signkey",
                dir_ + "/" + name + ".key", "-out", dir_ + "/" + name + ".pem", "-days", "30",
                "-sha256", "-extfile", dir_ + "/openssl.cnf", "-extensions", "root_ext"});
  }

 private:
  std::string dir_;
  std::string *error_;
  std::string tool_;
};

}  // namespace

bool MakeTestPki(TestPki *pki, std::string *error) {
  static int serial = 0;
  const std::string dir =
      ScratchDir() + "/pki-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  mkdir(dir.c_str(), 0755);
  Openssl openssl(dir, error);
  if (!openssl.ok()) {
    *error = "openssl not installed";
    return false;
  }
  if (!WriteFile(dir + "/openssl.cnf", OpensslConfig(dir)) ||
      !WriteFile(dir + "/intermediate/index.txt", "") ||
      !WriteFile(dir + "/intermediate/serial", "3000\n")) {
    *error = "cannot write the PKI files";
    return false;
  }
  const std::string names = std::string("DNS:") + kTlsHostName + ",IP:127.0.0.1";
  const std::vector<std::string> current = {"-days", "30"};
  bool ok = openssl.SelfSignedCa("root", "namreg test root CA", true) &&
            openssl.SelfSignedCa("unknown", "namreg unknown CA", false) &&
            openssl.Request("intermediate", "namreg test intermediate CA", false) &&
            openssl.Issue("intermediate", "root", "intermediate_ext", "DNS:unused", current) &&
            openssl.Request("valid", kTlsHostName, true) &&
            openssl.Issue("valid", "intermediate", "leaf_ext", names, current) &&
            openssl.Request("wrong_host", kTlsOtherHostName, false) &&
            openssl.Issue("wrong_host", "intermediate", "leaf_ext",
                          std::string("DNS:") + kTlsOtherHostName, current) &&
            openssl.Request("expired", kTlsHostName, false) &&
            openssl.Issue("expired", "intermediate", "leaf_ext", names,
                          {"-startdate", "20200101000000Z", "-enddate", "20210101000000Z"}) &&
            openssl.Request("unknown_ca", kTlsHostName, false) &&
            openssl.Issue("unknown_ca", "unknown", "leaf_ext", names, current);
  if (!ok) return false;

  // Servers send their certificate followed by the intermediate CA.
  const std::string intermediate = ReadText(dir + "/intermediate.pem");
  for (const char *name : {"valid", "wrong_host", "expired"}) {
    const std::string path = dir + "/" + name + ".pem";
    if (!WriteFile(path, ReadText(path) + intermediate)) {
      *error = "cannot write the certificate chains";
      return false;
    }
  }
  pki->dir = dir;
  pki->root_ca = dir + "/root.pem";
  pki->bundle = dir + "/bundle.pem";
  if (!WriteFile(pki->bundle, ReadText(kSystemBundle) + ReadText(pki->root_ca))) {
    *error = "cannot write the CA bundle";
    return false;
  }
  pki->valid = {dir + "/valid.pem", dir + "/valid.key"};
  pki->wrong_host = {dir + "/wrong_host.pem", dir + "/wrong_host.key"};
  pki->expired = {dir + "/expired.pem", dir + "/expired.key"};
  pki->unknown_ca = {dir + "/unknown_ca.pem", dir + "/unknown_ca.key"};
  return true;
}

bool IssueServerCertificate(const TestPki &pki, const std::string &name,
                            const std::vector<std::string> &dns_names, bool expired,
                            CertFiles *files, std::string *error) {
  Openssl openssl(pki.dir, error);
  if (!openssl.ok()) {
    *error = "openssl not installed";
    return false;
  }
  std::string san;
  for (const std::string &dns : dns_names) san += "DNS:" + dns + ",";
  san += "IP:127.0.0.1";
  const std::vector<std::string> dates =
      expired
          ? std::vector<std::string>{"-startdate", "20200101000000Z", "-enddate", "20210101000000Z"}
          : std::vector<std::string>{"-days", "30"};
  if (dns_names.empty() || !openssl.Request(name, dns_names[0], false) ||
      !openssl.Issue(name, "intermediate", "leaf_ext", san, dates))
    return false;
  const std::string path = pki.dir + "/" + name + ".pem";
  if (!WriteFile(path, ReadText(path) + ReadText(pki.dir + "/intermediate.pem"))) {
    *error = "cannot write the certificate chain";
    return false;
  }
  *files = {path, pki.dir + "/" + name + ".key"};
  return true;
}

bool ReplaceSystemCaBundle(const std::string &file, std::string *error) {
  if (!EnterSandbox(error)) return false;
  if (mount(file.c_str(), kSystemBundle, nullptr, MS_BIND, nullptr) != 0) {
    *error = std::string("bind mount over the system CA bundle: ") + strerror(errno);
    return false;
  }
  return true;
}

ScriptServer::Script SilentHandshake(ScriptServer *server) {
  return [server](int, const std::string &, int) {
    while (server->Pause(200)) {
    }
  };
}

ScriptServer::Script DripRelay(ScriptServer *server, uint16_t upstream_port, int interval_ms,
                               size_t piece) {
  return [server, upstream_port, interval_ms, piece](int client, const std::string &, int) {
    int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (upstream < 0) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(upstream_port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(upstream, reinterpret_cast<const sockaddr *>(&to), sizeof(to)) != 0) {
      close(upstream);
      return;
    }
    std::string held;  // the server's bytes not yet passed on
    bool upstream_open = true;
    for (;;) {
      pollfd p[2] = {{client, POLLIN, 0},
                     {upstream, static_cast<short>(upstream_open ? POLLIN : 0), 0}};
      const int n = poll(p, 2, held.empty() ? 200 : 0);
      if (n < 0 && errno != EINTR) break;
      char buf[4096];
      if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t got = recv(client, buf, sizeof(buf), 0);
        if (got <= 0) break;
        if (!SendAll(upstream, std::string(buf, static_cast<size_t>(got)))) break;
      }
      if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t got = recv(upstream, buf, sizeof(buf), 0);
        if (got <= 0)
          upstream_open = false;
        else
          held.append(buf, static_cast<size_t>(got));
      }
      if (!held.empty()) {
        if (!server->Pause(interval_ms)) break;
        const size_t count = held.size() < piece ? held.size() : piece;
        if (!SendAll(client, held.substr(0, count))) break;
        held.erase(0, count);
      } else if (!upstream_open) {
        break;
      } else if (!server->Pause(0)) {
        break;
      }
    }
    close(upstream);
  };
}

}  // namespace nrtest
