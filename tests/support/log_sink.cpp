#include "tests/support/log_sink.h"

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/paths.h"

namespace testsupport {

ScratchBoardRoot::ScratchBoardRoot() {
  const char* old = ::getenv("GW_BOARD_ROOT");
  had_old_ = old != nullptr;
  if (old) old_ = old;
  char templ[] = "/tmp/gwroot-XXXXXX";
  if (!::mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
  ::setenv("GW_BOARD_ROOT", path_.c_str(), 1);
  platform::reset_board_root();
}

ScratchBoardRoot::~ScratchBoardRoot() {
  if (had_old_)
    ::setenv("GW_BOARD_ROOT", old_.c_str(), 1);
  else
    ::unsetenv("GW_BOARD_ROOT");
  platform::reset_board_root();
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

LogSink::LogSink(int type) : type_(type), fd_(-1), conn_(-1) {
  path_ = platform::board_path("/dev/log");
  sockaddr_un sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sun_family = AF_UNIX;
  if (path_.size() >= sizeof sa.sun_path) throw std::runtime_error("log path too long");
  std::memcpy(sa.sun_path, path_.c_str(), path_.size() + 1);
  ::unlink(path_.c_str());
  fd_ = ::socket(AF_UNIX, type_ | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    throw std::runtime_error("cannot bind the log sink");
  if (type_ == SOCK_STREAM && ::listen(fd_, 4) != 0) throw std::runtime_error("listen failed");
}

LogSink::~LogSink() { close(); }

void LogSink::close() {
  if (conn_ >= 0) ::close(conn_);
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  conn_ = fd_ = -1;
}

std::string LogSink::receive(int timeout_ms) {
  if (fd_ < 0) return std::string();
  if (type_ == SOCK_STREAM && conn_ < 0) {
    pollfd p = {fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return std::string();
    conn_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn_ < 0) return std::string();
  }
  const int fd = type_ == SOCK_STREAM ? conn_ : fd_;
  pollfd p = {fd, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return std::string();
  std::string buf(65536, '\0');
  ssize_t n = ::recv(fd, &buf[0], buf.size(), 0);
  buf.resize(n > 0 ? size_t(n) : 0);
  return buf;
}

std::vector<std::string> LogSink::messages(const std::string& batch) {
  std::vector<std::string> out;
  std::string::size_type start = 0;
  while (start < batch.size()) {
    std::string::size_type nul = batch.find('\0', start);
    if (nul == std::string::npos) nul = batch.size();
    out.push_back(batch.substr(start, nul - start));
    start = nul + 1;
  }
  return out;
}

}  // namespace testsupport
