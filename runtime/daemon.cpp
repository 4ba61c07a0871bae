#include "runtime/daemon.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "runtime/log_file.h"
#include "runtime/syslog_manager.h"
#include "runtime/syslog_stream.h"

namespace Daemon {

Sentry::Sentry(const Params& params) : log_mode_(params.log_mode) {
  if (::daemon(params.nochdir ? 1 : 0, 0) != 0) {
    std::cerr << "daemon() fail!" << std::endl;
    std::exit(2);
  }

  if (log_mode_ == SysLog) {
    // The identity must outlive every message of the run.
    static char identity[80];
    std::strncpy(identity, params.name.c_str(), sizeof identity - 1);
    identity[sizeof identity - 1] = '\0';
    syslogManager.openlog(identity, LOG_NDELAY, 0);
    std::cout.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON >> 3, LOG_NOTICE));
    std::cerr.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON >> 3, LOG_ERR));
    std::clog.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON >> 3, LOG_DEBUG));
    std::cin.tie(&std::cout);
    // Raw writes to 1 and 2 (child programs too) go to the log socket as
    // they are. Descriptor 0 is a valid socket.
    const int fd = syslogManager.fd();
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
    }
  } else if (log_mode_ == LogFiles) {
    log_file_ = new LogFileStreamBuf(params.name);
    std::cout.rdbuf(log_file_);
    std::cerr.rdbuf(log_file_);
    std::clog.rdbuf(log_file_);
  }
}

Sentry::~Sentry() {
  if (log_mode_ == LogFiles) {
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    std::clog.rdbuf(nullptr);
    delete log_file_;
  }
}

void Init(const Params& params) {
  static Sentry sentry(params);
  (void)sentry;
}

}  // namespace Daemon
