#include "tests/support/controller_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace testsupport {

namespace {

std::int64_t real_ms() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

ControllerClient::~ControllerClient() { close(); }

bool ControllerClient::connect(std::uint16_t port, int timeout_ms) {
  close();
  const std::int64_t deadline = real_ms() + timeout_ms;
  for (;;) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return true;
    close();
    if (real_ms() >= deadline) return false;
    ::usleep(20000);
  }
}

std::uint16_t ControllerClient::local_port() const {
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

void ControllerClient::send(const std::string& hex_image) {
  const std::string payload = bytes(hex_image);
  const std::size_t len = payload.size() + 4;
  std::string frame;
  frame.push_back('\x03');
  frame.push_back('\x00');
  frame.push_back(static_cast<char>((len >> 8) & 0xFF));
  frame.push_back(static_cast<char>(len & 0xFF));
  send_raw(frame + payload);
}

void ControllerClient::send_raw(const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("controller send failed");
    done += std::size_t(n);
  }
}

void ControllerClient::pump(int timeout_ms) {
  if (fd_ < 0 || eof_) return;
  pollfd p = {fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      buf_.append(chunk, std::size_t(n));
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) eof_ = true;
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

bool ControllerClient::take_frame(std::string& payload) {
  if (buf_.size() < 4) return false;
  const unsigned len = (unsigned(static_cast<unsigned char>(buf_[2])) << 8) | static_cast<unsigned char>(buf_[3]);
  if (buf_[0] != '\x03' || len < 4) {
    bad_ = true;
    return false;
  }
  if (buf_.size() < len) return false;
  payload = buf_.substr(4, len - 4);
  buf_.erase(0, len);
  return true;
}

std::string ControllerClient::next(int timeout_ms) {
  const std::int64_t deadline = real_ms() + timeout_ms;
  std::string payload;
  for (;;) {
    if (take_frame(payload)) return hex(payload);
    if (bad_) return "bad frame";
    if (eof_ || fd_ < 0) return "";
    const std::int64_t left = deadline - real_ms();
    if (left <= 0) {
      pump(0);
      if (take_frame(payload)) return hex(payload);
      return bad_ ? "bad frame" : "";
    }
    pump(int(left));
  }
}

std::vector<std::string> ControllerClient::frames(int timeout_ms) {
  std::vector<std::string> out;
  pump(timeout_ms);
  pump(0);
  std::string payload;
  while (take_frame(payload)) out.push_back(hex(payload));
  if (bad_) out.push_back("bad frame");
  return out;
}

bool ControllerClient::closed(int timeout_ms) {
  const std::int64_t deadline = real_ms() + timeout_ms;
  for (;;) {
    pump(0);
    if (eof_) return true;
    const std::int64_t left = deadline - real_ms();
    if (left <= 0) return false;
    pump(int(left));
  }
}

void ControllerClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  eof_ = false;
  bad_ = false;
  buf_.clear();
}

std::string ControllerClient::hex(const std::string& data) {
  std::string s;
  char b[4];
  for (char c : data) {
    std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", static_cast<unsigned char>(c));
    s += b;
  }
  return s;
}

std::string ControllerClient::bytes(const std::string& text) {
  std::string out;
  unsigned v = 0;
  int digits = 0;
  for (char c : text) {
    const int d = (c >= '0' && c <= '9')   ? c - '0'
                  : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                  : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                           : -1;
    if (d < 0) continue;
    v = v * 16 + unsigned(d);
    if (++digits == 2) {
      out.push_back(static_cast<char>(v));
      v = 0;
      digits = 0;
    }
  }
  return out;
}

}  // namespace testsupport
