#pragma once
// Loopback TCP peers for tests of the control links. Everything stays on
// 127.0.0.1. On loopback the kernel completes a handshake and queues sent
// bytes at the peer within the calling system call, so a test that acts
// before the event loop polls finds the result there at once, also under
// the virtual clock.
#include <cstdint>
#include <string>

namespace testsupport {

// A TPKT frame carrying the payload.
std::string tpkt_frame(const std::string& payload);

// A plain listening socket on 127.0.0.1 (a port chosen by the kernel unless
// one is given), as a controller-side peer or as a port holder.
class LoopbackListener {
 public:
  explicit LoopbackListener(std::uint16_t port = 0, int backlog = 4);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::uint16_t port() const { return port_; }
  int fd() const { return fd_; }
  // An accepted connection's descriptor (owned by the caller), waiting at
  // most timeout_ms of real time; -1 when none came.
  int accept(int timeout_ms = 0);
  void close();

 private:
  int fd_;
  std::uint16_t port_;
};

// A connected peer socket: a client of a server under test, or a connection
// accepted from one.
class LoopbackPeer {
 public:
  LoopbackPeer() = default;
  explicit LoopbackPeer(int fd) : fd_(fd) {}
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  // Connects (blocking) to 127.0.0.1:port; false when refused. A receive
  // buffer size above 0 is set before connecting.
  bool connect(std::uint16_t port, int rcvbuf = 0);
  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The local port of the socket.
  std::uint16_t local_port() const;

  void send(const std::string& bytes);
  // All bytes queued now (waiting at most timeout_ms of real time for the
  // first); "" when none.
  std::string receive(int timeout_ms = 0);
  // True when the other side has closed (end of file or reset).
  bool peer_closed(int timeout_ms = 0);
  void close();
  // Closes with a reset instead of an orderly end.
  void reset();

 private:
  int fd_ = -1;
};

}  // namespace testsupport
