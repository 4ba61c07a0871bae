#pragma once
// Listeners out of descriptors. A scenario runs in a forked child (its
// lowered descriptor limit and filled table are its own) with clients whose
// sockets are made before the table is filled: connecting them then needs
// no new descriptor.
//
// UBSan's vptr checks probe memory through a pipe, which cannot be made
// while the table is full: a scenario first serves one client, so every
// type the listener uses has been checked once beforehand.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Runs `body` in a forked child; what it noted in `failed`, one line each
// ("" when nothing failed). A child that dies says how; under the address
// sanitizer, memory the body left unfreed is a failure too.
std::string in_child(const std::function<void(std::vector<std::string>& failed)>& body);

// The descriptors a process holds now (0: this process); -1 when they
// cannot be read.
int open_descriptors(int pid = 0);

// Fills the descriptor table under a lowered soft limit.
class DescriptorFill {
 public:
  DescriptorFill() = default;
  ~DescriptorFill() { release(); }
  DescriptorFill(const DescriptorFill&) = delete;
  DescriptorFill& operator=(const DescriptorFill&) = delete;

  // Lowers the soft limit to `limit` and opens descriptors until EMFILE;
  // false when that error did not come.
  bool fill(unsigned int limit = 64);
  // Gives one back: the next descriptor made takes it, the one after fails.
  void free_one();
  void release();

 private:
  std::vector<int> fds_;
};

// Tries `attempt` with the table filled and 0, 1, 2 ... up to `max_free`
// descriptors given back, until one attempt succeeds (returns true). The
// attempt gets the fill (to release it sooner) and a text " with N free"
// for its notes; the fill is released after it. False when no attempt
// succeeded or the table could not be filled, noted in `failed` ("no
// <what> with <max_free> free descriptors").
bool with_free_descriptors(int max_free, const std::string& what, std::vector<std::string>& failed,
                           const std::function<bool(DescriptorFill& fill, const std::string& at)>& attempt);

// A client socket made now and connected later.
class EarlyClient {
 public:
  explicit EarlyClient(bool unix_domain = false);
  ~EarlyClient();
  EarlyClient(const EarlyClient&) = delete;
  EarlyClient& operator=(const EarlyClient&) = delete;

  bool connect_tcp(std::uint16_t port);  // 127.0.0.1
  bool connect_unix(const std::string& path);
  // True when the other side has closed (end of file or reset) within
  // timeout_ms of real time.
  bool peer_closed(int timeout_ms = 0);
  void close();

 private:
  int fd_ = -1;
};

// The listener under test, reached through the loop that serves it.
struct ExhaustedListener {
  // Whether its clients are Unix-domain sockets (TCP otherwise).
  bool unix_domain = false;
  // Connects a client to it.
  std::function<bool(EarlyClient&)> connect;
  // The clients it keeps now.
  std::function<std::size_t()> listed;
  // Runs the loop for that many milliseconds of real time.
  std::function<void(unsigned int ms)> run_ms;
};

// One client served and gone; one connection pending while no descriptor is
// left (dropped without spinning the loop for a second); one accepted into
// the last descriptor, so that the copies the listener makes of it fail
// (dropped, not listed); once descriptors are free, the next client is
// served. Notes in `failed` what did not hold.
void exhaust_listener(const ExhaustedListener& l, std::vector<std::string>& failed);

}  // namespace testsupport
