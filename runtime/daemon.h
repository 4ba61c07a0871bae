#pragma once
// Turning the process into a daemon, once, with its standard streams sent to
// the system log (through syslogManager) or to hourly log files.
#include <string>

class LogFileStreamBuf;

namespace Daemon {

enum LogMode {
  SysLog = 0,    // standard streams to syslog, priorities 29, 27 and 31
  LogFiles = 1,  // standard streams to hourly files in the directory `name`
};

struct Params {
  int log_mode = SysLog;  // any other value: detach only
  bool nochdir = false;   // true keeps the working directory
  std::string name = "unknown";  // syslog identity (mode 0) or directory (mode 1)
};

class Sentry {
 public:
  explicit Sentry(const Params& params);
  ~Sentry();
  Sentry(const Sentry&) = delete;
  Sentry& operator=(const Sentry&) = delete;

 private:
  int log_mode_;
  LogFileStreamBuf* log_file_ = nullptr;
};

// The first call detaches and redirects; later calls do nothing. The set-up
// is undone (log files closed) at normal process exit.
void Init(const Params& params);

}  // namespace Daemon
