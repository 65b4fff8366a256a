// SPDX-License-Identifier: MIT
#include "sim_process.h"

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace nrtest {

namespace {

void Pause() {
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

std::string BaseName(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool SimProcess::Start(const std::string &program, const std::vector<std::string> &args,
                       int timeout_ms) {
  static int counter = 0;
  log_ = ScratchDir() + "/" + BaseName(program) + "-" + std::to_string(++counter) + ".log";
  taken_ = 0;
  std::vector<std::string> argv = {BuiltProgram(program)};
  argv.insert(argv.end(), args.begin(), args.end());
  if (!process_.Start(argv, log_)) return false;
  for (int waited = 0; waited < timeout_ms; waited += 20) {
    if (Log().find("listening") != std::string::npos) return true;
    Pause();
  }
  return false;
}

std::string SimProcess::Log() const {
  std::ifstream in(log_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> SimProcess::Lines(size_t count, int timeout_ms) const {
  std::vector<std::string> lines;
  for (int waited = 0;; waited += 20) {
    lines.clear();
    std::istringstream in(Log());
    std::string line;
    while (std::getline(in, line))
      if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) lines.push_back(line);
    if (lines.size() >= count || waited >= timeout_ms) return lines;
    Pause();
  }
}

std::vector<std::string> SimProcess::TakeLines() {
  std::vector<std::string> all = Lines();
  std::vector<std::string> fresh;
  for (size_t i = taken_; i < all.size(); ++i) fresh.push_back(all[i]);
  taken_ = all.size();
  return fresh;
}

int SimProcess::Count(const std::string &text) const {
  std::istringstream in(Log());
  std::string line;
  int n = 0;
  while (std::getline(in, line)) n += line.find(text) != std::string::npos ? 1 : 0;
  return n;
}

int SimProcess::WaitCount(const std::string &text, int count, int timeout_ms) const {
  for (int waited = 0; waited < timeout_ms && Count(text) < count; waited += 20) Pause();
  return Count(text);
}

}  // namespace nrtest
