// SPDX-License-Identifier: MIT
// A simulator of tools/ (hldm-sim, provider-sim, peanuthull-sim,
// tunnel-sim) as a child process of the test: started with its arguments,
// ready once it printed its "listening" line, its output kept in a log file
// of the sandbox for the test to read back.
#ifndef NAMREG_TESTS_SIM_PROCESS_H
#define NAMREG_TESTS_SIM_PROCESS_H

#include <string>
#include <vector>

#include "testworld.h"

namespace nrtest {

class SimProcess {
 public:
  // `program` is the simulator's path in the build tree, such as
  // "tools/hldm-sim/hldm-sim"; false when it did not start listening within
  // `timeout_ms`.
  bool Start(const std::string &program, const std::vector<std::string> &args,
             int timeout_ms = 5000);
  int Stop() { return process_.Stop(); }
  int pid() const { return process_.pid(); }

  // Everything it printed so far.
  std::string Log() const;
  // Its lines that begin with a digit (the simulators' per-request and
  // per-connection lines), at least `count` of them once they are there or
  // `timeout_ms` has passed.
  std::vector<std::string> Lines(size_t count = 0, int timeout_ms = 2000) const;
  // The Lines() printed since the last call of TakeLines().
  std::vector<std::string> TakeLines();
  // Lines containing `text`, waiting until there are `count` or
  // `timeout_ms` has passed (a simulator writes its line after its reply).
  int Count(const std::string &text) const;
  int WaitCount(const std::string &text, int count, int timeout_ms = 2000) const;

 private:
  ChildProcess process_;
  std::string log_;
  size_t taken_ = 0;
};

}  // namespace nrtest

#endif  // NAMREG_TESTS_SIM_PROCESS_H
