#include "control/acceptor_net_check_connection.h"

#include "runtime/errno_text.h"
#include "runtime/mux_time.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace Control {

namespace {

// Only the leading octets of the kernel's record are read; the length asked
// for is the one the board's kernel knows.
constexpr socklen_t tcp_info_length = 92;
constexpr std::uint8_t tcp_established = 1;
constexpr std::uint8_t ca_open = 0;
// Offsets in the kernel's record (native byte order).
constexpr std::size_t probes_at = 3;
constexpr std::size_t last_ack_recv_at = 56;

std::uint32_t now_ms() { return static_cast<std::uint32_t>(Mux::milliseconds()); }

}  // namespace

AcceptorNetCheckConnection::~AcceptorNetCheckConnection() = default;

int AcceptorNetCheckConnection::ImplActivate() {
  // The control port must come up in the end: a socket that cannot be made
  // now is retried like a port that cannot be bound yet.
  if (OpenSocket())
    BindSocket();
  else
    RetryLater();
  if (GetState() != State::Idle) CheckConnection();
  return 1;
}

void AcceptorNetCheckConnection::ImplDeactivate() {
  check_timer.reset();
  AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::ImplRefuseConnection() {
  if (check_state != CheckState::Idle) return;
  check_state = CheckState::CheckConnection;
  countdown = 2;
  knock_ms = now_ms();
  SetupKeepAlive(true);
  if (log_enabled()) std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::ImplConnected(Fd fd) { connection = fd; }

// A probe started against the peer that has gone ends with it: left in
// place, it would judge the next controller by a knock it never had (and
// drop it at its first check), and a knock against that controller would
// find the probe already running and start none.
void AcceptorNetCheckConnection::ImplOnDisconnect() {
  connection.close();
  check_state = CheckState::Idle;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool fast) {
  const int fd = connection.lowlevel_fd();
  const int on = 1;
  const int idle = fast ? 1 : 7200;
  const int interval = fast ? 1 : 75;
  const int count = fast ? 3 : 9;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

bool AcceptorNetCheckConnection::QueryTcpState(TcpState& tcp) const {
  unsigned char info[tcp_info_length] = {};
  socklen_t len = tcp_info_length;
  if (::getsockopt(connection.lowlevel_fd(), IPPROTO_TCP, TCP_INFO, info, &len) != 0 || len < 2) return false;
  tcp = TcpState();
  tcp.state = info[0];
  tcp.ca_state = info[1];
  if (len > probes_at) tcp.probes = info[probes_at];
  // A kernel whose record stops short tells of no acknowledgement: the probe
  // is then judged by its congestion state alone.
  if (len >= last_ack_recv_at + 4) std::memcpy(&tcp.last_ack_recv_ms, info + last_ack_recv_at, 4);
  return true;
}

void AcceptorNetCheckConnection::OnCheckConnectionTimeout(Timer*) { CheckConnection(); }

void AcceptorNetCheckConnection::CheckConnection() {
  if (GetState() == State::Connected) {
    bool closed = false;
    TcpState tcp;
    if (QueryTcpState(tcp)) {
      if (tcp.state != tcp_established) {
        if (log_enabled())
          std::cerr << "connection from " << GetAddr() << " closed: tcp socket change state." << std::endl;
        closed = true;
      }
      if (check_state == CheckState::CheckConnection) {
        const std::uint32_t since_knock = now_ms() - knock_ms;
        const bool heard = tcp.last_ack_recv_ms < since_knock;
        if (tcp.ca_state == ca_open && tcp.probes == 0 && heard) {
          // The peer answered the probe. Short of that the fast keepalive
          // stays: a peer with nothing in flight keeps its congestion state
          // open while its probes go unanswered, and the kernel ends it
          // after three of them, which the checks above then find.
          check_state = CheckState::Idle;
          SetupKeepAlive(false);
          if (log_enabled()) std::cerr << "CheckConnectionState Idle" << std::endl;
        } else if (tcp.ca_state != ca_open) {
          if (countdown > 0) --countdown;
          if (countdown < 1) {
            if (log_enabled())
              std::cerr << "connection from " << GetAddr() << " closed: tcp socket change ca_state." << std::endl;
            closed = true;
          }
        }
      }
    }
    int pending = 0;
    socklen_t len = sizeof pending;
    if (::getsockopt(connection.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &pending, &len) != 0) pending = errno;
    if (pending != 0) {
      if (log_enabled()) std::cerr << "connection from " << GetAddr() << " closed: " << Errno(pending) << std::endl;
      closed = true;
    }
    if (closed) {
      check_state = CheckState::Idle;
      SetupKeepAlive(false);
      Disconnect();
      if (log_enabled()) std::cerr << "CheckConnectionState Idle" << std::endl;
    }
  }
  check_timer.set(check_period_ms, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

}  // namespace Control
