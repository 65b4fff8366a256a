// SPDX-License-Identifier: MIT
// What TLS tests need besides the servers (http_peers.h has Apache with
// TLS sites): a test PKI made with the openssl command at test time, the
// system CA bundle replaced inside the test world, and scripted TCP peers
// that misbehave during a handshake (silence, a slow drip of a real
// server's bytes).
#ifndef NAMREG_TESTS_SUPPORT_TLS_KIT_H
#define NAMREG_TESTS_SUPPORT_TLS_KIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "peers.h"

namespace nrtest {

// The host name the test certificates are made for (besides 127.0.0.1).
extern const char kTlsHostName[];
// A host name no test certificate holds.
extern const char kTlsOtherHostName[];

// A certificate and its key, PEM files.
struct CertFiles {
  std::string cert;  // the certificate, followed by the intermediate CA where there is one
  std::string key;
};

// Made in a fresh directory under ScratchDir():
//   root CA "namreg test root CA" (RSA 2048) -> intermediate CA (EC P-256)
//   -> the server certificates below; and an unknown CA of its own.
struct TestPki {
  std::string dir;
  std::string root_ca;   // the root CA alone
  std::string bundle;    // the system CA bundle with the root CA added at its end
  CertFiles valid;       // kTlsHostName and 127.0.0.1, RSA 2048, through the intermediate
  CertFiles wrong_host;  // kTlsOtherHostName only (no address), through the intermediate
  CertFiles expired;     // kTlsHostName and 127.0.0.1, valid 2020-2021 only
  CertFiles unknown_ca;  // kTlsHostName and 127.0.0.1, from the unknown CA
};
// False with the reason when openssl is missing or fails.
bool MakeTestPki(TestPki *pki, std::string *error);

// Issues one more server certificate from the intermediate CA of a made
// PKI: <pki.dir>/<name>.pem (followed by the intermediate) and .key, for
// the DNS names given (and 127.0.0.1); `expired`: valid 2020-2021 only.
bool IssueServerCertificate(const TestPki &pki, const std::string &name,
                            const std::vector<std::string> &dns_names, bool expired,
                            CertFiles *files, std::string *error);

// Bind-mounts `file` over the system CA bundle
// (/etc/ssl/certs/ca-certificates.crt) inside the test world; false with
// the reason outside it or when the mount fails.
bool ReplaceSystemCaBundle(const std::string &file, std::string *error);

// A scripted peer that accepts TCP, reads what comes (the ClientHello) and
// never answers, until the server stops.
ScriptServer::Script SilentHandshake(ScriptServer *server);

// A relay in front of 127.0.0.1:upstream_port: the client's bytes go on at
// once, the server's come back `piece` bytes at a time, `interval_ms`
// apart, until either side closes or the relay stops.
ScriptServer::Script DripRelay(ScriptServer *server, uint16_t upstream_port, int interval_ms,
                               size_t piece = 1);

}  // namespace nrtest

#endif  // NAMREG_TESTS_SUPPORT_TLS_KIT_H
