#pragma once
// A controller for tests of the control server: a TCP client on 127.0.0.1
// that sends each message in one TPKT frame and cuts the received stream
// back into frames. Messages are written as hexadecimal text ("C0 01 01 00
// 05 18"), as the protocol's byte images are.
//
//   testsupport::ControllerClient ctl;
//   ASSERT_TRUE(ctl.connect(port, 5000));
//   ctl.send("C0 01 01 00 05 18");
//   EXPECT_EQ(ctl.next(5000), "C0 01 01 00 05 40");
#include "tests/support/loopback.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class ControllerClient {
 public:
  // Connects to 127.0.0.1:port, trying again while refused for at most
  // timeout_ms of real time (a server that is still starting).
  bool connect(std::uint16_t port, int timeout_ms = 0);
  // The local port of the connection ("127.0.0.1:<port>" names this
  // controller in the server's log lines).
  std::uint16_t local_port() const { return peer_.local_port(); }

  // One TPKT frame holding the octets of the hexadecimal text.
  void send(const std::string& hex_image);
  // One TPKT frame per image, all in one write (a burst of commands).
  void send_all(const std::vector<std::string>& hex_images);

  // The payload of the next whole frame as hexadecimal text, waiting at most
  // timeout_ms of real time; "" when none came, "bad frame" when the stream
  // holds no TPKT header.
  std::string next(int timeout_ms = 0);
  // Every whole frame there now (waiting at most timeout_ms for the first).
  std::vector<std::string> frames(int timeout_ms = 0);
  // True when the server has closed the connection.
  bool closed(int timeout_ms = 0);
  void close();

  // The board monitoring sends the controller a power signal on every
  // connect and on every change of the supply; tests of other services
  // never see those frames unless they ask for them here.
  bool keep_power_signals = false;
  // Frames for which this holds are passed by as well (a RunningServer's
  // controller passes the board's periodic trunk status reports by unless
  // the test clears it).
  std::function<bool(const std::string& hex_frame)> drop;

 private:
  // Reads what is queued, waiting at most timeout_ms for something.
  void pump(int timeout_ms);
  bool take_frame(std::string& payload);
  bool take_any_frame(std::string& payload);

  LoopbackPeer peer_;
  bool eof_ = false;
  bool bad_ = false;
  std::string buf_;
};

}  // namespace testsupport
