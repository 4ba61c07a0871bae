#include "tests/support/controller_client.h"

#include <algorithm>

#include "tests/support/per_image.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {

namespace {

std::int64_t real_ms() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string hex_of(const std::string& octets) { return hex(std::vector<char>(octets.begin(), octets.end())); }

}  // namespace

bool ControllerClient::connect(std::uint16_t port, int timeout_ms) {
  close();
  const std::int64_t deadline = real_ms() + timeout_ms;
  while (!peer_.connect(port)) {
    if (real_ms() >= deadline) return false;
    ::usleep(20000);
  }
  return true;
}

void ControllerClient::send(const std::string& hex_image) {
  const std::vector<char> payload = bytes(hex_image);
  peer_.send(tpkt_frame(std::string(payload.begin(), payload.end())));
}

void ControllerClient::send_all(const std::vector<std::string>& hex_images) {
  std::string all;
  for (const auto& image : hex_images) {
    const std::vector<char> payload = bytes(image);
    all += tpkt_frame(std::string(payload.begin(), payload.end()));
  }
  peer_.send(all);
}

void ControllerClient::pump(int timeout_ms) {
  if (!peer_.connected() || eof_) return;
  pollfd p = {peer_.fd(), POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::recv(peer_.fd(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      buf_.append(chunk, std::size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) eof_ = true;
    return;
  }
}

namespace {

// The board monitoring's power signal, sent on every connect and on every
// change of the supply, outside any command: two octets, 24 then 40, 50, 60
// or 70 (unknown, standby, main, both).
bool is_power_signal(const std::string& payload) {
  return payload.size() == 2 && payload[0] == '\x24' && (static_cast<unsigned char>(payload[1]) & 0xCF) == 0x40;
}

}  // namespace

bool ControllerClient::take_frame(std::string& payload) {
  while (take_any_frame(payload))
    if ((keep_power_signals || !is_power_signal(payload)) && !(drop && drop(hex_of(payload)))) return true;
  return false;
}

bool ControllerClient::take_any_frame(std::string& payload) {
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
  for (bool last = false;;) {
    if (take_frame(payload)) return hex_of(payload);
    if (bad_) return "bad frame";
    if (last || eof_ || !peer_.connected()) return "";
    const std::int64_t left = deadline - real_ms();
    last = left <= 0;
    pump(last ? 0 : int(left));
  }
}

std::vector<std::string> ControllerClient::frames(int timeout_ms) {
  std::vector<std::string> out;
  const std::int64_t deadline = real_ms() + timeout_ms;
  std::string payload;
  for (;;) {
    pump(int(std::max<std::int64_t>(0, deadline - real_ms())));
    pump(0);
    while (take_frame(payload)) out.push_back(hex_of(payload));
    if (bad_) out.push_back("bad frame");
    // Frames skipped as power signals do not end the wait.
    if (!out.empty() || eof_ || !peer_.connected() || real_ms() >= deadline) return out;
  }
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
  peer_.close();
  eof_ = false;
  bad_ = false;
  buf_.clear();
}

}  // namespace testsupport
