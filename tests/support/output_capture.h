// SPDX-License-Identifier: MIT
// Standard output of the code under test, captured through a pipe-backed
// temporary file so printf and puts lines can be compared byte for byte.
#ifndef NAMREG_TESTS_SUPPORT_OUTPUT_CAPTURE_H
#define NAMREG_TESTS_SUPPORT_OUTPUT_CAPTURE_H

#include <string>

namespace nrtest {

class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture &) = delete;
  StdoutCapture &operator=(const StdoutCapture &) = delete;
  // Everything written since construction (or the last Take); capture goes on.
  std::string Take();

 private:
  int saved_ = -1;
  int file_ = -1;
  long offset_ = 0;
};

}  // namespace nrtest

#endif
