#include "control/control_service.h"

#include "control/strm_protocol.h"
#include "control/tpkt_protocol.h"
#include "runtime/errno_text.h"
#include "runtime/event.h"
#include "runtime/profile.h"

#include <cstring>
#include <iostream>
#include <new>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace Control {

Notify::~Notify() = default;

const char* GetTextNotation(Service::State::Type state) {
  switch (state) {
    case Service::State::Idle:
      return "Idle";
    case Service::State::Connecting:
      return "Connecting";
    case Service::State::Deactivating:
      return "Deactivating";
    case Service::State::Connected:
      return "Connected";
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& os, Service::State::Type state) { return os << GetTextNotation(state); }

Service::Service() {
  // Bottom first: received bytes enter at the stream layer, messages at TPKT.
  strm = new StrmProtocol;
  add_protocol_tail(strm);
  add_protocol_tail(new Tpkt_protocol);
  disconnect_call.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() = default;

const std::string& Service::service_name() const { return strm->service_name(); }

void Service::service_name(const std::string& name) { strm->service_name(name); }

std::uint32_t Service::GetOverflowCounter() const { return strm->GetOverflowCounter(); }

const Measure& Service::get_read_measure() const { return strm->get_read_measure(); }

const Measure& Service::get_write_measure() const { return strm->get_write_measure(); }

void Service::Release() { strm->release(); }

int Service::Activate() {
  Deactivate();
  state = State::Connecting;
  const int r = ImplActivate();
  if (!r) state = State::Idle;
  return r;
}

void Service::Deactivate() {
  ImplDeactivate();
  // A disconnect still pending would tell the owner and restart the
  // connection after all.
  disconnect_call.Deactivate();
  state = State::Idle;
}

void Service::Disconnect() {
  // Only a live connection has anything to take down; elsewhere the owner
  // would hear of a disconnect without a connect.
  if (state != State::Connected) return;
  deactivate();
}

void Service::Connect(Fd fd, const std::string& peer_name) {
  peer = peer_name;
  state = State::Connected;
  announced = false;
  activating = true;
  failure.clear();
  strm->attach(fd);
  activate();
  activating = false;
  // A stack that could not start (no descriptor left for the socket's
  // duplicate, say) has already been reported down: the owner never hears
  // of this peer, neither its connect nor its disconnect.
  if (state != State::Connected) {
    if (log) std::cerr << "control connection " << peer << " not activated: " << failure << std::endl;
    return;
  }
  announced = true;
  if (owner) owner->OnConnect();
}

void Service::Send(char const* data, int len) {
  switch (state) {
    case State::Connected:
      break;
    case State::Deactivating:
      return;
    default:
      if (log)
        std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(state) << " state."
                  << std::endl;
      return;
  }
  static Profile::Point prepare_point("Control::Service::Send [1]");
  static Profile::Point send_point("Control::Service::Send [2]");
  prepare_point.begin();
  Packet p;
  try {
    prepare_head(p);
  } catch (const std::bad_alloc&) {
    // An empty pool costs this message, not the process.
    prepare_point.end();
    std::cerr << "Control::Service::Send() no packet buffer, message of " << len << " octets dropped." << std::endl;
    return;
  }
  if (len < 0 || static_cast<std::uint32_t>(len) > p.tailroom()) {
    prepare_point.end();
    std::cerr << "Control::Service::Send() message of " << len << " octets cannot be sent, dropped." << std::endl;
    return;
  }
  if (len > 0) std::memcpy(p.put(static_cast<std::uint32_t>(len)), data, static_cast<std::size_t>(len));
  prepare_point.end();
  send_point.begin();
  message(p);
  send_point.end();
}

int Service::on_message(Packet& p) {
  if (state == State::Deactivating || !owner) return 0;
  owner->OnMessage(reinterpret_cast<const char*>(p.data()), static_cast<int>(p.length()));
  return 0;
}

void Service::on_activated(Protocol*) {}

void Service::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> status) {
  if (activating && !status.null()) failure = status->message();
  if (log) std::cerr << "control connection " << peer << " closed." << std::endl;
  state = State::Deactivating;
  disconnect_call.Activate();
}

void Service::OnDeactivateDPC() {
  disconnect_call.Deactivate();
  state = State::Connecting;
  ImplOnDisconnect();
  const bool was_announced = announced;
  announced = false;
  if (owner && was_announced) owner->OnDisconnect();
}

bool Service::Listen(Fd& sock, Event& accept_event) {
  if (::listen(sock.lowlevel_fd(), 1) != 0) {
    Errno err;
    if (log) std::cerr << "can't listen socket: " << err << std::endl;
    // A bound socket cannot be bound again: the retry starts from a new one.
    sock.close();
    return false;
  }
  if (!sock.NonBlock()) {
    Errno err;
    if (log) std::cerr << "can't set socket to non block mode: " << err << std::endl;
    Deactivate();
    return true;
  }
  accept_event.Schedule(sock, POLLIN);
  if (!accept_event.IsActive()) {
    // Its copy failed (out of descriptors): a socket listening unpolled
    // would hold every controller in its backlog for good.
    Errno err;
    if (log) std::cerr << "can't listen socket: " << err << std::endl;
    sock.close();
    return false;
  }
  return true;
}

Service::Admission Service::Admit(Fd& conn, const std::string& peer) {
  if (state == State::Connected) {
    if (log) std::cerr << "refuse connection from " << peer << std::endl;
    return Admission::Refuse;
  }
  if (!conn.NonBlock()) {
    Errno err;
    if (log) std::cerr << "can't set socket to non block mode: " << err << std::endl;
    return Admission::Drop;
  }
  if (log) std::cout << "new connection from " << peer << std::endl;
  return Admission::Take;
}

void ServiceNet::Connected(Fd fd, const INet4::Addr& addr) {
  if (GetState() == State::Deactivating) return;
  const int on = 1;
  if (::setsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 && log_enabled())
    std::cerr << "fail set keepalive to control socket." << std::endl;
  if (::setsockopt(fd.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && log_enabled())
    std::cerr << "fail to turn off Nagle algorithm." << std::endl;
  peer_addr = addr;
  Connect(fd, addr.GetString());
}

void ServiceUnix::Connected(Fd fd, const std::string& name) {
  if (GetState() == State::Deactivating) return;
  Connect(fd, name);
}

}  // namespace Control
