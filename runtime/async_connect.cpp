#include "runtime/async_connect.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/inet4_addr.h"

namespace ASync {

Connect::~Connect() = default;

void Connect::Start(const std::string& address, unsigned int timeout_ms) {
  // Whatever was pending is dropped without a report.
  event_.Release();
  event_.UnBind();
  timer_.reset();
  status_ = Status::InProgress;

  socket_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket_.is_valid()) {
    Complete(Status::Failed);
    return;
  }
  if (!socket_.NonBlock()) {
    Complete(Status::Failed);
    return;
  }

  // A text that does not parse must not become a connect to 0.0.0.0.
  INet4::Addr addr;
  if (!INet4::Addr::Parse(address, addr)) {
    Complete(Status::Failed);
    return;
  }

  if (::connect(socket_.lowlevel_fd(), addr, addr.size()) == 0) {
    Complete(Status::Connected);
    return;
  }
  if (errno != EINPROGRESS) {
    Complete(Status::Failed);
    return;
  }
  event_.Schedule(socket_, POLLOUT);
  event_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
  timer_.set(timeout_ms, &Connect::OnTimeOut, this);
}

void Connect::Stop() { Complete(Status::Stopped); }

void Connect::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    Complete(Status::Failed);
    return;
  }
  if (!(revents & POLLOUT)) return;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(socket_.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
    Complete(Status::Failed);
  else
    Complete(Status::Connected);
}

void Connect::OnTimeOut(Timer*) { Complete(Status::Failed); }

void Connect::Complete(Status::Type status) {
  if (status_ != Status::InProgress) return;
  status_ = status;
  Fd result;
  if (status == Status::Connected) result = socket_;
  socket_.close();
  event_.Release();
  event_.UnBind();
  timer_.reset();
  // Last step: the handler may destroy this Connect. Only the local result
  // is closed afterwards; the handler's copy is the connection.
  handler_.Invoke(status, result);
}

}  // namespace ASync
