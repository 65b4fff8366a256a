// SPDX-License-Identifier: MIT
// A stdio file closed on every way out of a scope (the name-server file,
// /etc/hosts).
#ifndef NAMREG_NETUTILITY_FILE_GUARD_H
#define NAMREG_NETUTILITY_FILE_GUARD_H

#include <stdio.h>

namespace namreg {
namespace netutility {

class FileGuard {
 public:
  explicit FileGuard(FILE *file) : file_(file) {}
  ~FileGuard() {
    if (file_ != nullptr) fclose(file_);
  }
  FileGuard(const FileGuard &) = delete;
  FileGuard &operator=(const FileGuard &) = delete;
  FILE *get() const { return file_; }

 private:
  FILE *file_;
};

}  // namespace netutility
}  // namespace namreg

#endif  // NAMREG_NETUTILITY_FILE_GUARD_H
