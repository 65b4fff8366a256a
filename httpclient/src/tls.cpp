// SPDX-License-Identifier: MIT
// The TLS layer on mbedTLS (see tls.h), and the client's TLS settings.
// Written against the mbedTLS 2.28 API, with the few calls that 3.x renamed
// chosen by MBEDTLS_VERSION_NUMBER.
#include "tls.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "httpclient_internal.h"
#include "namreg/fd_util.h"
#include "namreg/text_safety.h"

#if NAMREG_TLS
#include <mbedtls/asn1.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/oid.h>
#include <mbedtls/version.h>
#if MBEDTLS_VERSION_NUMBER >= 0x03000000
#include <psa/crypto.h>
#endif
#endif

namespace namreg {

#if NAMREG_TLS

namespace {

constexpr size_t kMaxDer = 8192;     // largest CA certificate read from a CA file
constexpr size_t kReadChunk = 4096;  // CA file bytes per read
constexpr size_t kMaxPemLine = 128;  // longer lines end the certificate they are in

// ECDHE key exchange only (forward secrecy): AEAD ciphers first, then
// AES-CBC with SHA-1 for TLS 1.2 servers that have nothing newer.  These
// last suites exist in TLS 1.0 too, so a server that speaks nothing newer
// answers with its version (refused as such) instead of a bare alert.
const int kCipherSuites[] = {
#if defined(MBEDTLS_SSL_PROTO_TLS1_3)
    MBEDTLS_TLS1_3_AES_128_GCM_SHA256,
    MBEDTLS_TLS1_3_AES_256_GCM_SHA384,
    MBEDTLS_TLS1_3_CHACHA20_POLY1305_SHA256,
#endif
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA,
    0,
};

// Key exchange groups, cheapest first.
#if MBEDTLS_VERSION_NUMBER >= 0x03010000
const uint16_t kGroups[] = {
    MBEDTLS_SSL_IANA_TLS_GROUP_X25519,    MBEDTLS_SSL_IANA_TLS_GROUP_SECP256R1,
    MBEDTLS_SSL_IANA_TLS_GROUP_SECP384R1, MBEDTLS_SSL_IANA_TLS_GROUP_SECP521R1,
    MBEDTLS_SSL_IANA_TLS_GROUP_NONE,
};
#else
const mbedtls_ecp_group_id kGroups[] = {
    MBEDTLS_ECP_DP_CURVE25519, MBEDTLS_ECP_DP_SECP256R1, MBEDTLS_ECP_DP_SECP384R1,
    MBEDTLS_ECP_DP_SECP521R1,  MBEDTLS_ECP_DP_NONE,
};
#endif

// The high-level part of an mbedTLS error (low-level codes are added to it).
int HighLevel(int ret) {
  return -((-ret) & 0xFF80);
}

uint32_t HandshakeError(int ret) {
  switch (ret) {
    case MBEDTLS_ERR_SSL_ALLOC_FAILED:
      return HTTPCLIENT_E_NO_MEMORY;
    case MBEDTLS_ERR_NET_SEND_FAILED:
      return HTTPCLIENT_E_SEND;
    case MBEDTLS_ERR_NET_RECV_FAILED:
    case MBEDTLS_ERR_NET_CONN_RESET:
      return HTTPCLIENT_E_RECV;
#if defined(MBEDTLS_ERR_SSL_BAD_HS_PROTOCOL_VERSION)
    case MBEDTLS_ERR_SSL_BAD_HS_PROTOCOL_VERSION:
#endif
#if defined(MBEDTLS_ERR_SSL_BAD_PROTOCOL_VERSION)
    case MBEDTLS_ERR_SSL_BAD_PROTOCOL_VERSION:
#endif
      return HTTPCLIENT_E_TLS_VERSION;
    default:
      break;
  }
  // A server certificate mbedTLS cannot read.
  const int high = HighLevel(ret);
  if (high <= MBEDTLS_ERR_X509_FEATURE_UNAVAILABLE && high >= MBEDTLS_ERR_X509_FATAL_ERROR)
    return HTTPCLIENT_E_TLS_CERT_REFUSED;
#if defined(MBEDTLS_ERR_SSL_BAD_HS_CERTIFICATE)
  if (high == MBEDTLS_ERR_SSL_BAD_HS_CERTIFICATE) return HTTPCLIENT_E_TLS_CERT_REFUSED;
#endif
  return HTTPCLIENT_E_TLS_HANDSHAKE;
}

// The subject of a DER certificate, tag and length included (the form of
// mbedtls_x509_crt::issuer_raw); false when it is not a certificate.
bool DerSubject(const unsigned char *der, size_t length, const unsigned char **subject,
                size_t *subject_length) {
  unsigned char *p = const_cast<unsigned char *>(der);
  const unsigned char *end = der + length;
  size_t n = 0;
  const int kSequence = MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE;
  if (mbedtls_asn1_get_tag(&p, end, &n, kSequence) != 0) return false;  // Certificate
  end = p + n;
  if (mbedtls_asn1_get_tag(&p, end, &n, kSequence) != 0) return false;  // tbsCertificate
  end = p + n;
  // [0] version (optional), serial number, signature algorithm, issuer,
  // validity: skipped whole.
  if (p < end && *p == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_ASN1_CONSTRUCTED | 0)) {
    if (mbedtls_asn1_get_tag(&p, end, &n, *p) != 0) return false;
    p += n;
  }
  if (mbedtls_asn1_get_tag(&p, end, &n, MBEDTLS_ASN1_INTEGER) != 0) return false;
  p += n;
  for (int skip = 0; skip < 3; ++skip) {
    if (mbedtls_asn1_get_tag(&p, end, &n, kSequence) != 0) return false;
    p += n;
  }
  unsigned char *start = p;
  if (mbedtls_asn1_get_tag(&p, end, &n, kSequence) != 0) return false;
  *subject = start;
  *subject_length = static_cast<size_t>(p - start) + n;
  return true;
}

// A CA encodes its subject in its own certificate exactly as the issuer of
// the certificates it issues, so the names are compared byte for byte.
bool NamesAnIssuer(const mbedtls_x509_crt *chain, const unsigned char *subject, size_t length) {
  for (const mbedtls_x509_crt *c = chain; c != nullptr && c->raw.p != nullptr; c = c->next) {
    if (c->issuer_raw.len == length && memcmp(c->issuer_raw.p, subject, length) == 0) return true;
  }
  return false;
}

// Reads the PEM certificates of a CA file one at a time and keeps (parses
// into *trusted) those whose subject is an issuer in the server's chain.
// Returns how many certificates the file held, or -1 when it cannot be read.
class CaFileReader {
 public:
  CaFileReader(const mbedtls_x509_crt *chain, mbedtls_x509_crt *trusted)
      : chain_(chain), trusted_(trusted) {}

  int Read(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    fdutil::SocketGuard guard(fd);
    unsigned char chunk[kReadChunk];
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof(chunk));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      if (n == 0) break;
      for (ssize_t i = 0; i < n; ++i) Byte(chunk[i]);
    }
    if (line_length_ > 0) Line();
    return certificates_;
  }

 private:
  void Byte(unsigned char c) {
    if (c == '\n') {
      Line();
      return;
    }
    if (line_length_ < kMaxPemLine) line_[line_length_] = static_cast<char>(c);
    ++line_length_;
  }

  void Line() {
    size_t length = line_length_;
    line_length_ = 0;
    if (length > kMaxPemLine) {
      in_certificate_ = false;
      return;
    }
    while (length > 0 &&
           (line_[length - 1] == '\r' || line_[length - 1] == ' ' || line_[length - 1] == '\t'))
      --length;
    static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
    static const char kEnd[] = "-----END CERTIFICATE-----";
    if (length == sizeof(kBegin) - 1 && memcmp(line_, kBegin, length) == 0) {
      in_certificate_ = true;
      der_length_ = 0;
      accumulated_ = 0;
      bits_ = 0;
      return;
    }
    if (!in_certificate_) return;
    if (length == sizeof(kEnd) - 1 && memcmp(line_, kEnd, length) == 0) {
      in_certificate_ = false;
      Certificate();
      return;
    }
    // Base64 text.  CA certificates are public, so a plain decoder does
    // (mbedTLS's own runs in constant time, for secrets, and costs about
    // ten times as much over a system bundle).
    for (size_t i = 0; i < length; ++i) {
      const unsigned char c = static_cast<unsigned char>(line_[i]);
      if (c == '=') continue;
      const int value = Base64Value(c);
      if (value < 0 || (bits_ >= 2 && der_length_ == sizeof(der_))) {
        in_certificate_ = false;
        return;
      }
      accumulated_ = (accumulated_ << 6) | static_cast<uint32_t>(value);
      bits_ += 6;
      if (bits_ >= 8) {
        bits_ -= 8;
        der_[der_length_++] = static_cast<unsigned char>(accumulated_ >> bits_);
      }
    }
  }

  static int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  }

  void Certificate() {
    const unsigned char *subject = nullptr;
    size_t subject_length = 0;
    if (!DerSubject(der_, der_length_, &subject, &subject_length)) return;
    ++certificates_;
    if (NamesAnIssuer(chain_, subject, subject_length))
      (void)mbedtls_x509_crt_parse_der(trusted_, der_, der_length_);
  }

  const mbedtls_x509_crt *chain_;
  mbedtls_x509_crt *trusted_;
  char line_[kMaxPemLine];
  size_t line_length_ = 0;
  bool in_certificate_ = false;
  uint32_t accumulated_ = 0;  // base64 bits not yet stored
  unsigned bits_ = 0;
  unsigned char der_[kMaxDer];
  size_t der_length_ = 0;
  int certificates_ = 0;
};

}  // namespace

TlsSession::TlsSession() {
  host_[0] = '\0';
  ca_file_[0] = '\0';
  mbedtls_ssl_config_init(&config_);
  mbedtls_ssl_init(&ssl_);
  mbedtls_x509_crt_init(&trusted_);
}

TlsSession::~TlsSession() {
  Close();
}

TlsStatus TlsSession::Fail(uint32_t error) {
  error_ = error;
  state_ = State::kFailed;
  return TlsStatus::kFailed;
}

int TlsSession::Random(void *self, unsigned char *out, size_t length) {
  TlsSession *session = static_cast<TlsSession *>(self);
  while (length > 0) {
    ssize_t n = -1;
    if (session->urandom_fd_ < 0) {
#if defined(SYS_getrandom)
      n = syscall(SYS_getrandom, out, length, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != ENOSYS) return -1;
#endif
      if (n < 0) {
        // A kernel older than getrandom(2).
        session->urandom_fd_ = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (session->urandom_fd_ < 0) return -1;
      }
    }
    if (session->urandom_fd_ >= 0) {
      n = read(session->urandom_fd_, out, length);
      if (n < 0 && errno == EINTR) continue;
    }
    if (n <= 0) return -1;
    out += n;
    length -= static_cast<size_t>(n);
  }
  return 0;
}

int TlsSession::BioSend(void *self, const unsigned char *data, size_t length) {
  const int fd = static_cast<TlsSession *>(self)->fd_;
  for (;;) {
    ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return MBEDTLS_ERR_SSL_WANT_WRITE;
    if (errno == EPIPE || errno == ECONNRESET) return MBEDTLS_ERR_NET_CONN_RESET;
    return MBEDTLS_ERR_NET_SEND_FAILED;
  }
}

int TlsSession::BioRecv(void *self, unsigned char *buffer, size_t length) {
  const int fd = static_cast<TlsSession *>(self)->fd_;
  for (;;) {
    ssize_t n = recv(fd, buffer, length, 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return MBEDTLS_ERR_SSL_WANT_READ;
    if (errno == ECONNRESET) return MBEDTLS_ERR_NET_CONN_RESET;
    return MBEDTLS_ERR_NET_RECV_FAILED;
  }
}

uint32_t TlsSession::Begin(int fd, const char *host, const char *ca_file) {
  if (state_ != State::kIdle || fd < 0) {
    Fail(HTTPCLIENT_E_TLS_SETUP);
    return error_;
  }
  const size_t host_length = host == nullptr ? 0 : strnlen(host, sizeof(host_));
  if (host_length == 0 || host_length == sizeof(host_) || HasControlByte(host)) {
    Fail(HTTPCLIENT_E_TLS_SETUP);
    return error_;
  }
  memcpy(host_, host, host_length + 1);
  struct in_addr address;
  host_is_address_ = inet_pton(AF_INET, host_, &address) == 1;

  if (ca_file == nullptr || ca_file[0] == '\0') ca_file = HTTPCLIENT_TLS_SYSTEM_CA_FILE;
  const size_t ca_length = strnlen(ca_file, sizeof(ca_file_));
  if (ca_length == sizeof(ca_file_) || HasControlByte(ca_file)) {
    Fail(HTTPCLIENT_E_TLS_CA_FILE);
    return error_;
  }
  memcpy(ca_file_, ca_file, ca_length + 1);
  // Unreadable now is unreadable after the handshake: say so before it.
  {
    fdutil::SocketGuard file(open(ca_file_, O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
      Fail(HTTPCLIENT_E_TLS_CA_FILE);
      return error_;
    }
  }

  fd_ = fd;
  state_ = State::kHandshake;
  unsigned char random_check[16];
  if (Random(this, random_check, sizeof(random_check)) != 0) {
    Fail(HTTPCLIENT_E_TLS_SETUP);
    return error_;
  }
#if MBEDTLS_VERSION_NUMBER >= 0x03000000
  if (psa_crypto_init() != PSA_SUCCESS) {
    Fail(HTTPCLIENT_E_TLS_SETUP);
    return error_;
  }
#endif
  if (mbedtls_ssl_config_defaults(&config_, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                  MBEDTLS_SSL_PRESET_DEFAULT) != 0) {
    Fail(HTTPCLIENT_E_TLS_SETUP);
    return error_;
  }
  // The chain, dates, usages and names are checked by VerifyPeer once the
  // handshake is through, against only the CA certificates it needs; the
  // handshake is not reported done before that check passed.
  mbedtls_ssl_conf_authmode(&config_, MBEDTLS_SSL_VERIFY_OPTIONAL);
#if MBEDTLS_VERSION_NUMBER >= 0x03000000
  mbedtls_ssl_conf_min_tls_version(&config_, MBEDTLS_SSL_VERSION_TLS1_2);
#else
  mbedtls_ssl_conf_min_version(&config_, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
#endif
  mbedtls_ssl_conf_ciphersuites(&config_, kCipherSuites);
#if MBEDTLS_VERSION_NUMBER >= 0x03010000
  mbedtls_ssl_conf_groups(&config_, kGroups);
#else
  mbedtls_ssl_conf_curves(&config_, kGroups);
#endif
  mbedtls_ssl_conf_rng(&config_, Random, this);
  // Every session is a new one: a ticket would only take heap.
#if defined(MBEDTLS_SSL_SESSION_TICKETS)
  mbedtls_ssl_conf_session_tickets(&config_, MBEDTLS_SSL_SESSION_TICKETS_DISABLED);
#endif
  const int setup = mbedtls_ssl_setup(&ssl_, &config_);
  if (setup != 0) {
    Fail(setup == MBEDTLS_ERR_SSL_ALLOC_FAILED ? HTTPCLIENT_E_NO_MEMORY : HTTPCLIENT_E_TLS_SETUP);
    return error_;
  }
  // A name goes out as SNI; an address is checked against the certificate's
  // IP addresses by VerifyPeer and sent without SNI.
  if (mbedtls_ssl_set_hostname(&ssl_, host_is_address_ ? nullptr : host_) != 0) {
    Fail(HTTPCLIENT_E_NO_MEMORY);
    return error_;
  }
  mbedtls_ssl_set_bio(&ssl_, this, BioSend, BioRecv, nullptr);
  return HTTPCLIENT_OK;
}

uint32_t TlsSession::VerifyPeer() {
  const mbedtls_x509_crt *peer = mbedtls_ssl_get_peer_cert(&ssl_);
  if (peer == nullptr || peer->raw.p == nullptr) return HTTPCLIENT_E_TLS_CERT_REFUSED;
  CaFileReader reader(peer, &trusted_);
  const int certificates = reader.Read(ca_file_);
  if (certificates <= 0) return HTTPCLIENT_E_TLS_CA_FILE;

  uint32_t flags = 0;
  const int ret = mbedtls_x509_crt_verify_with_profile(
      const_cast<mbedtls_x509_crt *>(peer), &trusted_, nullptr, &mbedtls_x509_crt_profile_default,
      host_is_address_ ? nullptr : host_, &flags, nullptr, nullptr);
  if (ret != 0 && ret != MBEDTLS_ERR_X509_CERT_VERIFY_FAILED) {
    verify_flags_ = flags;
    return ret == MBEDTLS_ERR_X509_ALLOC_FAILED ? HTTPCLIENT_E_NO_MEMORY
                                                : HTTPCLIENT_E_TLS_CERT_REFUSED;
  }
  if (host_is_address_) {
    unsigned char address[4];
    bool match = false;
    if (inet_pton(AF_INET, host_, address) == 1) {
      for (const mbedtls_x509_sequence *name = &peer->subject_alt_names; name != nullptr;
           name = name->next) {
        if (name->buf.p != nullptr &&
            name->buf.tag == (MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_X509_SAN_IP_ADDRESS) &&
            name->buf.len == sizeof(address) && memcmp(name->buf.p, address, sizeof(address)) == 0)
          match = true;
      }
    }
    if (!match) flags |= MBEDTLS_X509_BADCERT_CN_MISMATCH;
  }
  // The server's own certificate must be meant for a TLS server whose key
  // signs the key exchange (every offered suite is ECDHE).
#if MBEDTLS_VERSION_NUMBER >= 0x03000000 || defined(MBEDTLS_X509_CHECK_EXTENDED_KEY_USAGE)
  if (mbedtls_x509_crt_check_extended_key_usage(peer, MBEDTLS_OID_SERVER_AUTH,
                                                MBEDTLS_OID_SIZE(MBEDTLS_OID_SERVER_AUTH)) != 0)
    flags |= MBEDTLS_X509_BADCERT_EXT_KEY_USAGE;
#endif
#if MBEDTLS_VERSION_NUMBER >= 0x03000000 || defined(MBEDTLS_X509_CHECK_KEY_USAGE)
  if (mbedtls_x509_crt_check_key_usage(peer, MBEDTLS_X509_KU_DIGITAL_SIGNATURE) != 0)
    flags |= MBEDTLS_X509_BADCERT_KEY_USAGE;
#endif
  verify_flags_ = flags;
  if (flags == 0) return HTTPCLIENT_OK;

  // One code per failure, the most basic one first.
  uint32_t error = HTTPCLIENT_E_TLS_CERT_REFUSED;
  unsigned char alert = MBEDTLS_SSL_ALERT_MSG_BAD_CERT;
  if (flags & MBEDTLS_X509_BADCERT_NOT_TRUSTED) {
    error = HTTPCLIENT_E_TLS_CERT_UNTRUSTED;
    alert = MBEDTLS_SSL_ALERT_MSG_UNKNOWN_CA;
  } else if (flags & (MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_FUTURE)) {
    error = HTTPCLIENT_E_TLS_CERT_EXPIRED;
    alert = MBEDTLS_SSL_ALERT_MSG_CERT_EXPIRED;
  } else if (flags & MBEDTLS_X509_BADCERT_CN_MISMATCH) {
    error = HTTPCLIENT_E_TLS_CERT_NAME;
  }
  // Tell the server why (one try, without waiting).
  (void)mbedtls_ssl_send_alert_message(&ssl_, MBEDTLS_SSL_ALERT_LEVEL_FATAL, alert);
  return error;
}

TlsStatus TlsSession::Handshake() {
  switch (state_) {
    case State::kIdle:
      return Fail(HTTPCLIENT_E_TLS_SETUP);
    case State::kFailed:
      return TlsStatus::kFailed;
    case State::kOpen:
      return TlsStatus::kDone;
    case State::kHandshake:
      break;
  }
  const int ret = mbedtls_ssl_handshake(&ssl_);
  if (ret == MBEDTLS_ERR_SSL_WANT_READ) return TlsStatus::kWantRead;
  if (ret == MBEDTLS_ERR_SSL_WANT_WRITE) return TlsStatus::kWantWrite;
  if (ret != 0) return Fail(HandshakeError(ret));
  const uint32_t verified = VerifyPeer();
  // The CA certificates were needed for the check only.
  mbedtls_x509_crt_free(&trusted_);
  mbedtls_x509_crt_init(&trusted_);
  if (verified != HTTPCLIENT_OK) return Fail(verified);
  state_ = State::kOpen;
  return TlsStatus::kDone;
}

TlsStatus TlsSession::Send(const void *data, size_t length, size_t *sent) {
  *sent = 0;
  if (state_ != State::kOpen)
    return state_ == State::kFailed ? TlsStatus::kFailed : Fail(HTTPCLIENT_E_TLS_SETUP);
  const int ret = mbedtls_ssl_write(&ssl_, static_cast<const unsigned char *>(data), length);
  if (ret >= 0) {
    *sent = static_cast<size_t>(ret);
    return TlsStatus::kDone;
  }
  if (ret == MBEDTLS_ERR_SSL_WANT_READ) return TlsStatus::kWantRead;
  if (ret == MBEDTLS_ERR_SSL_WANT_WRITE) return TlsStatus::kWantWrite;
  if (ret == MBEDTLS_ERR_NET_SEND_FAILED || ret == MBEDTLS_ERR_NET_CONN_RESET)
    return Fail(HTTPCLIENT_E_SEND);
  return Fail(ret == MBEDTLS_ERR_SSL_ALLOC_FAILED ? HTTPCLIENT_E_NO_MEMORY
                                                  : HTTPCLIENT_E_TLS_RECORD);
}

TlsStatus TlsSession::Recv(void *buffer, size_t capacity, size_t *received) {
  *received = 0;
  if (state_ != State::kOpen)
    return state_ == State::kFailed ? TlsStatus::kFailed : Fail(HTTPCLIENT_E_TLS_SETUP);
  if (capacity == 0) return TlsStatus::kDone;
  for (;;) {
    const int ret = mbedtls_ssl_read(&ssl_, static_cast<unsigned char *>(buffer), capacity);
    if (ret > 0) {
      *received = static_cast<size_t>(ret);
      return TlsStatus::kDone;
    }
    // Many servers end the stream without close_notify; the HTTP framing
    // (length, last chunk) tells a cut answer from a whole one, as over TCP.
    if (ret == 0 || ret == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || ret == MBEDTLS_ERR_SSL_CONN_EOF)
      return TlsStatus::kClosed;
    if (ret == MBEDTLS_ERR_SSL_WANT_READ) return TlsStatus::kWantRead;
    if (ret == MBEDTLS_ERR_SSL_WANT_WRITE) return TlsStatus::kWantWrite;
#if defined(MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET)
    if (ret == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET) continue;
#endif
    if (ret == MBEDTLS_ERR_NET_RECV_FAILED || ret == MBEDTLS_ERR_NET_CONN_RESET)
      return Fail(HTTPCLIENT_E_RECV);
    return Fail(ret == MBEDTLS_ERR_SSL_ALLOC_FAILED ? HTTPCLIENT_E_NO_MEMORY
                                                    : HTTPCLIENT_E_TLS_RECORD);
  }
}

bool TlsSession::HasPending() const {
  return state_ == State::kOpen &&
         (mbedtls_ssl_get_bytes_avail(&ssl_) > 0 || mbedtls_ssl_check_pending(&ssl_) != 0);
}

void TlsSession::Close() {
  if (state_ == State::kOpen) (void)mbedtls_ssl_close_notify(&ssl_);
  mbedtls_ssl_free(&ssl_);
  mbedtls_ssl_config_free(&config_);
  mbedtls_x509_crt_free(&trusted_);
  mbedtls_ssl_config_init(&config_);
  mbedtls_ssl_init(&ssl_);
  mbedtls_x509_crt_init(&trusted_);
  if (urandom_fd_ >= 0) close(urandom_fd_);
  urandom_fd_ = -1;
  fd_ = -1;
  state_ = State::kIdle;
}

#else  // !NAMREG_TLS: every request for TLS is answered "not built in".

TlsSession::TlsSession() = default;

TlsSession::~TlsSession() = default;

TlsStatus TlsSession::Fail(uint32_t error) {
  error_ = error;
  state_ = State::kFailed;
  return TlsStatus::kFailed;
}

uint32_t TlsSession::Begin(int, const char *, const char *) {
  Fail(HTTPCLIENT_E_TLS_NOT_BUILT);
  return error_;
}

TlsStatus TlsSession::Handshake() {
  return Fail(HTTPCLIENT_E_TLS_NOT_BUILT);
}

TlsStatus TlsSession::Send(const void *, size_t, size_t *sent) {
  *sent = 0;
  return Fail(HTTPCLIENT_E_TLS_NOT_BUILT);
}

TlsStatus TlsSession::Recv(void *, size_t, size_t *received) {
  *received = 0;
  return Fail(HTTPCLIENT_E_TLS_NOT_BUILT);
}

bool TlsSession::HasPending() const {
  return false;
}

void TlsSession::Close() {
  state_ = State::kIdle;
}

#endif  // NAMREG_TLS

uint32_t TlsSession::HandshakeWithin(const Deadline &deadline) {
  for (;;) {
    const TlsStatus status = Handshake();
    if (status == TlsStatus::kDone) return HTTPCLIENT_OK;
    if (status != TlsStatus::kWantRead && status != TlsStatus::kWantWrite) return error_;
    const int ready = fdutil::WaitOne(fd_, status == TlsStatus::kWantWrite, deadline);
    if (ready < 0) {
      Fail(HTTPCLIENT_E_SELECT);
      return error_;
    }
    if (ready == 0) {
      Fail(HTTPCLIENT_E_CONNECT_TIMEOUT);
      return error_;
    }
  }
}

}  // namespace namreg

extern "C" {

uint32_t HTTPClient_TLSBuiltIn(void) {
  return NAMREG_TLS ? 1u : 0u;
}

uint32_t HTTPClient_SetTLS(HTTPClientHandle hClient, const HTTPClientTLSOptions *ptOptions) {
  if (hClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptOptions == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  if (hClient->dwState != HTTPCLIENT_STATE_START || hClient->dwOperation != HTTPCLIENT_OP_NONE)
    return HTTPCLIENT_E_BUSY;
  memset(hClient->szTLSCAFile, 0, sizeof(hClient->szTLSCAFile));
  hClient->dwTLSRefusal = HTTPCLIENT_OK;
  if (ptOptions->dwEnable == 0) {
    hClient->dwTLSEnable = 0;
    return HTTPCLIENT_OK;
  }
  // Any other value asks for TLS; a refusal keeps it asked for, so that an
  // exchange started after an unheeded refusal sends nothing in clear.
  hClient->dwTLSEnable = 1;
  const size_t length = strnlen(ptOptions->szCAFile, sizeof(ptOptions->szCAFile));
  if (!NAMREG_TLS)
    hClient->dwTLSRefusal = HTTPCLIENT_E_TLS_NOT_BUILT;
  else if (length == sizeof(ptOptions->szCAFile) ||
           namreg::HasControlByte(ptOptions->szCAFile, length))
    hClient->dwTLSRefusal = HTTPCLIENT_E_TLS_CA_FILE;
  else
    memcpy(hClient->szTLSCAFile, ptOptions->szCAFile, length);
  return hClient->dwTLSRefusal;
}

}  // extern "C"
