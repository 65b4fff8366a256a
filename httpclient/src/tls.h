// SPDX-License-Identifier: MIT
// The TLS layer of the HTTP client: one client session of mbedTLS over a
// connected, non-blocking TCP socket that the caller owns.  Every call does
// what it can without blocking and says what it waits for, so one handshake
// runs as a loop bounded by a deadline (HandshakeWithin) or as steps of an
// event-driven caller (Handshake, then a wait on the socket in the direction
// asked, then Handshake again).
//
// What the session checks, always: TLS 1.2 or newer, ECDHE key exchange
// (AES-GCM and ChaCha20-Poly1305 first, AES-CBC last), the chain up to a CA
// of the CA file (by default the system bundle), the validity dates of
// every certificate, the server-use key usages of the server's certificate,
// and its names: a host name is sent as SNI and must match a DNS name of
// the certificate; a dotted-quad address goes without SNI and must be one
// of its IP addresses.  The handshake reports done only when all of that
// passed, so nothing of the application is sent to a peer that failed it.
//
// Memory: the session object (about 2.3 KiB on x86-64) holds mbedTLS's
// contexts (about 1.8 KiB) and the host and CA file names.  mbedTLS
// allocates its record buffers (about 2 x 16.7 KiB) when the session
// begins, the handshake's working state until the handshake ends, and the
// server's certificates; of the CA file only the certificates whose
// subject is an issuer in the server's chain are parsed, and kept until
// the check is done.  The CA file is read 4 KiB at a time into the stack,
// with one certificate (at most 8 KiB) decoded there at a time.  Nothing
// else is allocated.  Built without mbedTLS (NAMREG_TLS unset), every call
// answers HTTPCLIENT_E_TLS_NOT_BUILT.
#ifndef NAMREG_HTTPCLIENT_TLS_H
#define NAMREG_HTTPCLIENT_TLS_H

#include <stddef.h>
#include <stdint.h>

#include "namreg/deadline.h"
#include "namreg/httpclient.h"

#ifndef NAMREG_TLS
#define NAMREG_TLS 0
#endif
#if NAMREG_TLS
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>
#endif

namespace namreg {

// What one call of the layer came to.
enum class TlsStatus : uint8_t {
  kDone,       // complete: the handshake is over, or bytes were moved
  kWantRead,   // call again once the socket is readable
  kWantWrite,  // call again once the socket is writable
  kClosed,     // Recv: the peer closed the connection (close_notify or end of stream)
  kFailed,     // Error() tells why; the session is of no further use
};

class TlsSession {
 public:
  TlsSession();
  ~TlsSession();
  TlsSession(const TlsSession &) = delete;
  TlsSession &operator=(const TlsSession &) = delete;

  // Sets up a client session on `fd`, which the caller keeps and closes
  // after Close().  `host`: the server's host name or dotted-quad address
  // (1 to 255 characters, no control bytes).  `ca_file`: PEM file of the
  // CAs to trust; null or empty for HTTPCLIENT_TLS_SYSTEM_CA_FILE.  Sends
  // nothing.  HTTPCLIENT_OK, or HTTPCLIENT_E_TLS_SETUP (bad host, no random
  // source, already begun), HTTPCLIENT_E_TLS_CA_FILE (cannot be opened),
  // HTTPCLIENT_E_NO_MEMORY or HTTPCLIENT_E_TLS_NOT_BUILT; Error() holds it.
  uint32_t Begin(int fd, const char *host, const char *ca_file);

  // One step of the handshake: as far as the socket allows, then the
  // certificate check once the peer's Finished has arrived.
  TlsStatus Handshake();
  // The whole handshake, every wait through fdutil::WaitOne and none past
  // `deadline`: HTTPCLIENT_OK, HTTPCLIENT_E_CONNECT_TIMEOUT when the
  // deadline came first, HTTPCLIENT_E_SELECT, or the handshake's failure.
  uint32_t HandshakeWithin(const Deadline &deadline);

  // Application data, after the handshake.  Send: kDone with *sent bytes
  // taken (at least 1, at most one record); after kWantRead / kWantWrite
  // call again with the same bytes, which are already partly on their way.
  TlsStatus Send(const void *data, size_t length, size_t *sent);
  // Recv: kDone with *received (at least 1) bytes, kClosed, a want, or
  // kFailed.
  TlsStatus Recv(void *buffer, size_t capacity, size_t *received);
  // True when a Recv can return bytes without waiting on the socket: the
  // session holds decrypted bytes or a received record.  A caller that waits
  // with select() before each Recv asks this first.
  bool HasPending() const;

  // The HTTPCLIENT_E_* code of the last failure (HTTPCLIENT_OK before one).
  uint32_t Error() const { return error_; }
  // The X.509 check's flags of a refused certificate (0 otherwise), for
  // diagnostics.
  uint32_t VerifyFlags() const { return verify_flags_; }
  bool HandshakeDone() const { return state_ == State::kOpen; }

  // Sends close_notify once when the session is open (without waiting),
  // then frees everything mbedTLS holds.  The socket is left open.  Called
  // by the destructor; a second call does nothing.
  void Close();

 private:
  enum class State : uint8_t { kIdle, kHandshake, kOpen, kFailed };

  TlsStatus Fail(uint32_t error);

  State state_ = State::kIdle;
  int fd_ = -1;
  uint32_t error_ = HTTPCLIENT_OK;
  uint32_t verify_flags_ = 0;
#if NAMREG_TLS
  uint32_t VerifyPeer();
  static int Random(void *self, unsigned char *out, size_t length);
  static int BioSend(void *self, const unsigned char *data, size_t length);
  static int BioRecv(void *self, unsigned char *buffer, size_t length);

  int urandom_fd_ = -1;  // only where the kernel has no getrandom(2)
  bool host_is_address_ = false;
  char host_[256];
  char ca_file_[HTTPCLIENT_TLS_CA_FILE_SIZE];
  mbedtls_ssl_config config_;
  mbedtls_ssl_context ssl_;
  mbedtls_x509_crt trusted_;  // the CA certificates the check needs, during the check
#endif
};

}  // namespace namreg

#endif  // NAMREG_HTTPCLIENT_TLS_H
