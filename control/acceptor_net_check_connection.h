#pragma once
// Control::AcceptorNetCheckConnection: the control port's acceptor. Besides
// serving one peer it checks that peer every 1000 ms (TCP state, pending
// socket error) and, when a second client knocks, probes the peer with fast
// keepalive (1 s idle, 1 s interval, 3 probes): a peer whose congestion
// state leaves "open" is dropped about two checks later. Only an
// acknowledgement that came after the knock answers the probe: a controller
// gone without a word has nothing in flight, so its congestion state stays
// open, and it is the fast keepalive, kept until then, that ends it.
#include "control/acceptor_net.h"

#include <cstdint>

namespace Control {

class AcceptorNetCheckConnection : public AcceptorNet {
 public:
  struct CheckState {
    enum Type { Idle = 0, CheckConnection = 1 };
  };
  static constexpr unsigned int check_period_ms = 1000;
  // What the kernel's TCP_INFO record tells of the peer's socket.
  struct TcpState {
    std::uint8_t state = 0;     // TCP state
    std::uint8_t ca_state = 0;  // congestion-avoidance state
    std::uint8_t probes = 0;    // keepalive or window probes sent and not answered
    std::uint32_t last_ack_recv_ms = 0;  // time since the peer's last acknowledgement
  };

  AcceptorNetCheckConnection() : AcceptorNetCheckConnection(0) {}
  explicit AcceptorNetCheckConnection(int port) : AcceptorNetCheckConnection(port, true) {}
  AcceptorNetCheckConnection(int port, bool log) : AcceptorNet(port, log) {}
  ~AcceptorNetCheckConnection() override;

  void CheckConnection();
  void OnCheckConnectionTimeout(Timer* t);
  void SetupKeepAlive(bool fast);

  std::int32_t GetCheckState() const { return check_state; }
  // The acceptor's own handle on the current peer's socket; -1 when none.
  int GetConnectionFd() const { return connection.lowlevel_fd(); }

 protected:
  int ImplActivate() override;
  void ImplDeactivate() override;
  void ImplRefuseConnection() override;
  void ImplConnected(Fd fd) override;
  void ImplOnDisconnect() override;

  // False when the query fails.
  virtual bool QueryTcpState(TcpState& tcp) const;

 private:
  Timer check_timer;
  Fd connection;
  std::int32_t check_state = CheckState::Idle;
  std::int32_t countdown = 0;
  // The loop's clock when the probe began.
  std::uint32_t knock_ms = 0;
};

}  // namespace Control
