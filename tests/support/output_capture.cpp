// SPDX-License-Identifier: MIT
#include "output_capture.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace nrtest {

namespace {

// While standard output is captured, gtest's own failure lines would land in
// the capture: repeat them on standard error so they are seen.
class FailuresToStderr : public ::testing::EmptyTestEventListener {
  void OnTestPartResult(const ::testing::TestPartResult &result) override {
    if (!result.failed()) return;
    fprintf(stderr, "%s:%d: Failure\n%s\n", result.file_name() ? result.file_name() : "?",
            result.line_number(), result.message());
  }
};

}  // namespace

StdoutCapture::StdoutCapture() {
  static bool listening = false;
  if (!listening) {
    listening = true;
    ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresToStderr);
  }
  fflush(stdout);
  char path[] = "/tmp/netutility-stdout.XXXXXX";
  file_ = mkostemp(path, O_CLOEXEC);
  if (file_ < 0) return;
  unlink(path);
  saved_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  dup2(file_, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
  fflush(stdout);
  if (saved_ >= 0) {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  if (file_ >= 0) close(file_);
}

std::string StdoutCapture::Take() {
  fflush(stdout);
  std::string out;
  if (file_ < 0) return out;
  char buf[4096];
  for (;;) {
    ssize_t n = pread(file_, buf, sizeof(buf), offset_);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
    offset_ += n;
  }
  return out;
}

}  // namespace nrtest
