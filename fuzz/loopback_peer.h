// SPDX-License-Identifier: MIT
// A scripted TCP peer on loopback and a clock of its own, for fuzz targets
// that run the libraries' real sockets.
//
// Everything happens on the fuzzer's one thread and in a fixed order: the
// peer acts when the library waits (every select and every pause goes
// through the clock seam, namreg::SetClockSource) and when the harness calls
// Turn() between steps.  Its turn accepts new connections, looks at what
// each one sent, reads it (unless told not to) and sends the pieces that are
// due.  Time is the peer's: a wait jumps to the moment the next piece is due
// when that falls inside it, a wait that sees nothing runs to its end at
// once (a look without waiting that sees nothing takes a millisecond), and
// no wait takes real time.  So a piece can come late, a peer can
// stay silent for 15 s, and a fuzz input still takes microseconds.
//
// NAMREG_FUZZ_TRACE=1 in the environment prints the peer's doings and
// every wait on standard error.
//
// Closing: the peer resets every connection when the input ends, so that no
// TIME_WAIT socket is left to use up the loopback ports over millions of
// inputs.
#ifndef NAMREG_FUZZ_LOOPBACK_PEER_H
#define NAMREG_FUZZ_LOOPBACK_PEER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "namreg/clock.h"

namespace fuzzpeer {

// One thing the peer sends.
struct Piece {
  uint32_t connection;  // which connection, by order of arrival (0: the first)
  uint32_t delay_ms;    // after the previous piece or the connection's arrival, the later
  const uint8_t *data;  // may be null when size is 0
  size_t size;
  bool fin;  // shut the peer's sending side after the bytes
};

// A tunnel answer the peer gives by itself: once a connection whose request
// starts with "POST" has come after the newest one whose request starts with
// "GET " (and that has had no answer yet), `delay_ms` later, the answer goes
// to that GET connection.
enum class Answer : uint8_t {
  kAccept,   // "http tunnel accept=1"
  kRefuse,   // "HTTP TUNNEL ACCEPT=0" (written in capitals)
  kSilence,  // nothing
  kClose,    // the peer shuts its side of the GET connection
};

class LoopbackPeer {
 public:
  // The process's peer: two listeners on 127.0.0.1 (one with the system's
  // socket buffers, one with the smallest), and the clock installed for
  // good.  Exits with a message when loopback TCP cannot be used.
  static LoopbackPeer &Get();

  // Starts an input: no connection, nothing to send, the tick standing at
  // `tick_start`.  `reading` false: the peer reads nothing and its sockets
  // have the smallest buffers, so that a client's sends soon block.
  void Begin(uint32_t tick_start, bool reading);
  // The port of the listener this input uses.
  uint16_t Port() const;
  void Add(const Piece &piece);
  void AddAnswer(Answer answer, uint32_t delay_ms);
  // The peer's turn between steps: no time passes.
  void Turn();
  // Time passing outside any wait (a host's own work).
  void Advance(uint64_t ms) { now_ms_ += ms; }
  uint64_t NowMs() const { return now_ms_; }
  uint64_t Waits() const { return waits_; }
  // A wait that begins later than `end_ms` on the clock, or more than
  // `max_waits` waits from now, aborts with `what` and the input's story.
  void Limit(uint64_t end_ms, uint64_t max_waits, const char *what);
  void NoLimit() { limit_what_ = nullptr; }
  // True when `fd` is a TCP socket connected to this peer.
  bool IsPeerOf(int fd) const;
  size_t Connections() const { return connections_.size(); }
  // Resets and forgets every connection, drops the script.
  void End();

 private:
  struct Connection {
    int fd;
    uint64_t arrived_ms;
    uint64_t seen_ms;  // when its first bytes were seen
    char method[5];    // its request's first four bytes
    bool answered;     // a tunnel answer went to it (or was due and was silence)
  };
  struct PendingAnswer {
    Answer answer;
    uint32_t delay_ms;
  };

  LoopbackPeer();
  void Poll();
  // Sends everything due at or before now; true when anything was sent.
  bool DeliverDue();
  // When the next piece or answer is due; UINT64_MAX when not yet known.
  uint64_t NextDue(const Connection **answer_to) const;
  uint64_t NextPieceDue() const;
  uint64_t NextAnswerDue(const Connection **answer_to) const;
  void Send(int fd, const uint8_t *data, size_t size, bool fin);
  void CheckLimit();

  static uint64_t MonotonicOf(void *self);
  static uint32_t TickOf(void *self);
  static uint64_t BeginWaitOf(void *self, uint64_t ms);
  static void EndWaitOf(void *self, uint64_t ms, bool timed_out);

  const bool trace_;  // NAMREG_FUZZ_TRACE: the peer's doings on standard error
  int listeners_[2];
  uint16_t ports_[2];
  int listener_ = 0;  // index of the listener of this input
  bool reading_ = true;
  namreg::ClockSource source_;
  uint64_t now_ms_ = 0;
  uint32_t tick_offset_ = 0;
  uint64_t waits_ = 0;
  uint64_t wait_start_ms_ = 0;
  uint64_t limit_end_ms_ = 0;
  uint64_t limit_waits_ = 0;
  const char *limit_what_ = nullptr;
  std::vector<Connection> connections_;
  std::vector<Piece> pieces_;
  size_t next_piece_ = 0;
  uint64_t last_piece_ms_ = 0;
  std::vector<PendingAnswer> answers_;
  size_t next_answer_ = 0;
};

// The descriptors open when it was made, from the lowest free one up:
// LeftOpen() names one opened since and still open (-1: none).  An input
// opens far fewer than kWatched at once.
class DescriptorCheck {
 public:
  DescriptorCheck();
  int LeftOpen() const;

 private:
  static constexpr int kWatched = 96;
  void Scan(bool (&open)[kWatched]) const;
  int first_;
  bool open_[kWatched];
};

}  // namespace fuzzpeer

#endif  // NAMREG_FUZZ_LOOPBACK_PEER_H
