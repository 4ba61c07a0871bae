#pragma once
// Linux::Run: the pid file "/var/run/<name>.pid" (a board path), holding the
// process id in decimal, kept open for the life of the object and removed
// when it ends. A file that cannot be created or written whole is silently
// skipped (and removed); one locked by a running process is left to it,
// with a line on the error log.
#include <string>

namespace Linux {

class Run {
 public:
  explicit Run(const char* name);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const std::string& path() const { return path_; }
  bool is_open() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace Linux
