#pragma once
// Test stand-ins for the system log of the board.
//
//   testsupport::ScratchBoardRoot root;   // private board root for this test
//   testsupport::LogSink sink;            // bound at board "/dev/log"
//   ... code under test logs ...
//   auto msgs = testsupport::LogSink::messages(sink.receive(1000));
#include <sys/socket.h>

#include <string>
#include <vector>

namespace testsupport {

// A fresh board root under /tmp (short, so AF_UNIX paths fit) that is the
// process's board root (GW_BOARD_ROOT) while the object lives; removed with
// everything in it afterwards. Forked children inherit it.
class ScratchBoardRoot {
 public:
  ScratchBoardRoot();
  ~ScratchBoardRoot();
  ScratchBoardRoot(const ScratchBoardRoot&) = delete;
  ScratchBoardRoot& operator=(const ScratchBoardRoot&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string old_;
  bool had_old_;
};

// A log daemon stand-in: an AF_UNIX socket of the given type (SOCK_DGRAM or
// SOCK_STREAM) bound at the board path "/dev/log".
class LogSink {
 public:
  explicit LogSink(int type = SOCK_DGRAM);
  ~LogSink();
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;

  // The next datagram (for a stream socket: the bytes that are there),
  // waiting at most timeout_ms of real time; "" when nothing came.
  std::string receive(int timeout_ms = 0);
  // Closes the socket and removes its path, as a log daemon that stops.
  void close();

  // The messages of a batch: the texts between the NUL bytes.
  static std::vector<std::string> messages(const std::string& batch);

 private:
  int type_;
  int fd_;
  int conn_;
  std::string path_;
};

}  // namespace testsupport
