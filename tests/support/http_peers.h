// SPDX-License-Identifier: MIT
// Real HTTP peers for tests and the benchmark: Apache httpd and Squid,
// started in the foreground on loopback with small configurations written
// into a fresh directory under ScratchDir().
#ifndef NAMREG_TESTS_SUPPORT_HTTP_PEERS_H
#define NAMREG_TESTS_SUPPORT_HTTP_PEERS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "testworld.h"
#include "tls_kit.h"

namespace nrtest {

constexpr uint16_t kApachePort = 8081;
constexpr uint16_t kSquidPort = 3128;

// The longest credentials an HTTPClientInfo holds (64 characters each).
extern const std::string kLongUser;
extern const std::string kLongPassword;

// A TLS site of Apache: a port of its own with a certificate; TLS 1.2 and
// newer, or TLS 1.0 alone (with the old ciphers it needs).  Its requests
// are logged to <dir>/access-<port>.log.
struct TlsSite {
  uint16_t port = 0;
  CertFiles files;
  bool tls10_only = false;
};

// Apache on 127.0.0.1:port, and on the port of each TLS site, serving
//   /page.html                  ApachePage() (1 KiB)
//   /big.txt                    ApacheBigBody() (300 KiB)
//   /basic/page.html            the same behind Basic (kLongUser / kLongPassword)
//   /digest/page.html           behind Digest, qop=auth ("alice" / "rabbit hole", realm "lab")
//   /cgi/chunked.cgi            ChunkedCgiBody() without a length
//   /cgi/echo.cgi               "<method>:<request body>"
//   /cgi/upload.cgi             "length=<bytes> md5=<hex>\n" of the request body
//   /cgi/nocontent.cgi          204
//   /cgi/host.cgi               "host=<Host line>\n"
// *dir receives the directory (config, logs).  Null with the reason when
// apache2 is missing or does not come up.
std::unique_ptr<ChildProcess> StartApache(std::string *dir, std::string *error,
                                          uint16_t port = kApachePort,
                                          const std::vector<TlsSite> &tls = {});
std::string ApachePage();
std::string ApacheBigBody();
std::string ChunkedCgiBody();

// Squid on 127.0.0.1:port asking for Basic proxy credentials ("camera" /
// "proxy pass") through basic_ncsa_auth; logs to <dir>/access.log.
std::unique_ptr<ChildProcess> StartSquid(std::string *dir, std::string *error,
                                         uint16_t port = kSquidPort);

// The MD5 of `text` as 32 lower-case hexadecimal digits, from OpenSSL: the
// independent oracle of the tests (Digest, GnuDIP, upload checks).
std::string Md5Hex(const std::string &text);

// Waits until the file holds `needle`; returns its text.
std::string WaitForFileText(const std::string &path, const std::string &needle, int timeout_ms);

}  // namespace nrtest

#endif  // NAMREG_TESTS_SUPPORT_HTTP_PEERS_H
