#pragma once
// Control::AcceptorNetCheckConnection: the control port's acceptor. Besides
// serving one peer it checks that peer every 1000 ms (TCP state, pending
// socket error) and, when a second client knocks, probes the peer with fast
// keepalive (1 s idle, 1 s interval, 3 probes): a peer that does not answer
// is dropped about two checks later.
#include "control/acceptor_net.h"

#include <cstdint>

namespace Control {

class AcceptorNetCheckConnection : public AcceptorNet {
 public:
  struct CheckState {
    enum Type { Idle = 0, CheckConnection = 1 };
  };
  static constexpr unsigned int check_period_ms = 1000;

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

  // The TCP state and congestion-avoidance state of the peer's socket (the
  // first two octets of TCP_INFO); false when the query fails.
  virtual bool QueryTcpState(std::uint8_t& tcp_state, std::uint8_t& ca_state) const;

 private:
  Timer check_timer;
  Fd connection;
  std::int32_t check_state = CheckState::Idle;
  std::int32_t countdown = 0;
};

}  // namespace Control
