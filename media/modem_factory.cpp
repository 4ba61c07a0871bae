#include "media/modem_factory.h"

#include "media/modem_slot.h"
#include "platform/device.h"
#include "platform/mctl.h"
#include "platform/hdlc_if.h"
#include "platform/paths.h"
#include "runtime/errno_text.h"
#include "slots/device_names.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace auth_record {

std::int32_t word(const unsigned char* rec, std::size_t offset) {
  std::int32_t v;
  std::memcpy(&v, rec + offset, sizeof v);
  return v;
}

void put_word(unsigned char* rec, std::size_t offset, std::int32_t value) {
  std::memcpy(rec + offset, &value, sizeof value);
}

}  // namespace auth_record

namespace {
// Orders the authentication requests of all connections.
std::uint64_t records_received = 0;
}  // namespace

// AuthClient.

AuthClient::AuthClient(Fd fd_, const INet4::Addr& addr_, ModemFactory* factory_)
    : fd(fd_), addr(addr_), factory(factory_) {
  event.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

bool AuthClient::Activate() {
  event.Schedule(fd, POLLIN);
  return event.IsActive();
}

void AuthClient::OnDisconnect() {
  fd.close();
  event.Release();
}

void AuthClient::CheckDisconnect() {
  if (!fd.is_valid()) factory->OnAuthSocketDisconnect(this);
}

void AuthClient::OnSocketEvent(int, short revents) {
  RecursiveGuard guard(this);
  if (revents & (POLLERR | POLLHUP)) {
    OnDisconnect();
    return;
  }
  if (!(revents & POLLIN)) return;
  for (unsigned reads = 0; reads < Event::max_reads_per_event; ++reads) {
    if (!fd.is_valid()) return;
    const ssize_t n = ::read(fd.lowlevel_fd(), buffer + rpos, end - rpos);
    if (n < 0 && errno == EAGAIN) return;  // the partial record waits
    if (n <= 0) {
      OnDisconnect();
      return;
    }
    rpos += static_cast<std::size_t>(n);
    if (rpos < end) continue;
    std::uint32_t length;
    std::memcpy(&length, buffer, sizeof length);
    if (length > auth_record::max_length || length < auth_record::min_length) {
      OnDisconnect();
      return;
    }
    if (rpos >= length) {
      rpos = 0;
      end = auth_record::min_length;
      // Too short to hold a type and a session: read to its end, dropped.
      if (length < auth_record::header_length) {
        std::cerr << "auth record too short: " << length << std::endl;
        continue;
      }
      // Only a request waits for an answer, for its own session: an earlier
      // call's accounting, sent late, must not draw the next call's answer.
      if (auth_record::word(buffer, 4) == auth_record::voauth) {
        session = auth_record::word(buffer, 8);
        record_order = ++records_received;
      }
      factory->OnAuth(buffer);
      continue;
    }
    end = length;
  }
}

bool AuthClient::Send(const unsigned char* rec) {
  RecursiveGuard guard(this);
  if (!fd.is_valid()) return false;
  std::uint32_t length;
  std::memcpy(&length, rec, sizeof length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::send(fd.lowlevel_fd(), rec + done, length - done, MSG_NOSIGNAL);
    if (n <= 0) {
      OnDisconnect();
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// ModemFactory.

ModemFactory& ModemFactory::instance() {
  static ModemFactory* f = new ModemFactory;
  return *f;
}

ModemFactory::ModemFactory() {
  IQuery();
  Init();
  event.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
}

// Clients and slots are not deleted here: the factory lives for the run.
ModemFactory::~ModemFactory() = default;

void ModemFactory::PutHeader(std::ostream& os) const {
  os << "modem[" << modemDevices << "," << allSlots.size() << "]: ";
}

void ModemFactory::update_modemDevices() {
  modemDevices = 0;
  const char* path = GetModemDevName();
  const int fd = platform::dev_open(path, O_RDWR);
  if (fd < 0) {
    Errno e;
    std::cerr << "fail to open \"" << path << "\" : " << e << std::endl;
    return;
  }
  int n = -1;
  while (modemDevices < max_modems) {
    n = platform::dev_ioctl(fd, mctl::MCTL_ENUM, reinterpret_cast<void*>(static_cast<std::intptr_t>(n)));
    if (n < 0) break;
    ++modemDevices;
  }
  if (n >= 0) {
    std::cerr << "enum stopped at " << max_modems << " modems" << std::endl;
  } else if (errno != ENODEV) {
    Errno e;
    std::cerr << "enum fail: " << e << std::endl;
  }
  platform::dev_close(fd);
}

void ModemFactory::update_hdlcDevices() {
  hdlcFree.clear();
  const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (sock < 0) return;
  for (int n = 0; n <= 255; ++n) {
    ifreq r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.ifr_name, IFNAMSIZ, "hdlc%d", n);
    if (platform::hdlc_ioctl(sock, SIOCGIFINDEX, &r) != 0) break;
    if (platform::hdlc_ioctl(sock, SIOCGIFFLAGS, &r) != 0) break;
    if (!(r.ifr_flags & IFF_POINTOPOINT) || (r.ifr_flags & IFF_LOOPBACK)) continue;
    const std::string name = r.ifr_name;
    // An interface a live slot holds is not free, whatever its flags say.
    const bool held = std::any_of(hdlcSlots.begin(), hdlcSlots.end(),
                                  [&](HdlcModemSlot* s) { return s->deviceName() == name; });
    if (!held) hdlcFree.push_back(name);
  }
  ::close(sock);
  if (!hdlcFree.empty()) {
    std::clog << "found point-o-point devices:";
    for (const auto& name : hdlcFree) std::clog << " " << name;
    std::clog << std::endl;
  }
}

void ModemFactory::IQuery() {
  update_modemDevices();
  update_hdlcDevices();
}

void ModemFactory::Query(LGCP::Resources& res) {
  IQuery();
  res.set_modem(modemDevices);
  res.set_digital_modems(static_cast<int>(hdlcFree.size()));
}

Slot* ModemFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.modem_isSelected()) return nullptr;
  const TERM::ModemParams& p = params.get_modem();
  if (p.ddm_isPresent() && p.get_ddm().size() != 0 && !hdlcFree.empty()) {
    const std::string name = hdlcFree.front();
    hdlcFree.pop_front();
    auto* s = new HdlcModemSlot(p, name);
    allSlots.push_back(s);
    hdlcSlots.push_back(s);
    return s;
  }
  auto* s = new DspModemSlot(p);
  allSlots.push_back(s);
  return s;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot) { allSlots.remove(slot); }

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot) {
  auto it = std::find(hdlcSlots.begin(), hdlcSlots.end(), slot);
  if (it == hdlcSlots.end()) return;  // already handed back
  allSlots.remove(slot);
  hdlcSlots.erase(it);
  if (std::find(hdlcFree.begin(), hdlcFree.end(), slot->deviceName()) == hdlcFree.end())
    hdlcFree.push_back(slot->deviceName());
}

bool ModemFactory::Init() {
  const int sock = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (sock < 0) {
    Errno e;
    std::cerr << "fail to bind auth socket: " << e << std::endl;
    bindTimer.set(bind_retry_ms, &ModemFactory::RetryInit, this);
    return false;
  }
  Fd s(sock);
  // A restart within TIME_WAIT of an old session must still get the port.
  const int on = 1;
  ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(platform::local_port(auth_port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(sock, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    Errno e;
    std::cerr << "fail to bind auth socket: " << e << std::endl;
    bindTimer.set(bind_retry_ms, &ModemFactory::RetryInit, this);
    return false;
  }
  if (::listen(sock, 64) != 0) {
    Errno e;
    std::cerr << "fail to listen auth socket: " << e << std::endl;
    return false;
  }
  if (!s.NonBlock()) {
    Errno e;
    std::cerr << "can't set socket to non block mode: " << e << std::endl;
    return false;
  }
  listener = s;
  event.Schedule(listener, POLLIN);
  if (!event.IsActive()) {
    // No descriptor for the copies: a listener nobody polls would hold the
    // port for good. Closed, it is tried again as after a failed bind.
    const Errno e;
    std::cerr << "fail to listen auth socket: " << e << std::endl;
    listener.close();
    bindTimer.set(bind_retry_ms, &ModemFactory::RetryInit, this);
    return false;
  }
  return true;
}

void ModemFactory::RetryInit() {
  if (!listener.is_valid()) Init();
}

void ModemFactory::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "auth server socket error." << std::endl;
    listener.close();
    event.Release();
    event.UnBind();
    return;
  }
  if (!(revents & POLLIN)) return;
  INet4::Addr peer;
  socklen_t len = peer.size();
  const int c = ::accept(listener.lowlevel_fd(), peer, &len);
  if (c < 0) {
    const int err = errno;
    guard.OnAcceptFailure(listener.lowlevel_fd(), err, true);
    return;
  }
  guard.Accepted();
  Fd conn(c);
  if (clients.size() >= max_auth_clients) {
    refused.Count();
    if (refused.ShouldLog())
      std::cerr << "refuse auth connection from " << peer << ": " << clients.size() << " open (" << refused.count()
                << " refused)" << std::endl;
    return;
  }
  if (!conn.NonBlock()) {
    std::cerr << "fail to set nonblock mode." << std::endl;
    return;
  }
  auto* client = new AuthClient(conn, peer, this);
  // The client holds its own copy: ours is closed before its event makes
  // another, so one descriptor fewer is needed at once.
  conn.close();
  if (!client->is_connected() || !client->Activate()) {
    // Out of descriptors: a client without its descriptor would never be
    // served nor leave the list.
    const Errno e;
    std::cerr << "can't keep auth connection from " << peer << ": " << e << std::endl;
    delete client;
    return;
  }
  clients.push_back(client);
  std::cerr << "incoming auth connection from " << peer << std::endl;
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client) {
  std::clog << "auth client " << client->GetAddr() << " disconnected." << std::endl;
  clients.remove(client);
  delete client;
}

void ModemFactory::OnAuth(const unsigned char* rec) {
  const std::int32_t session = auth_record::word(rec, 8);
  for (ModemSlot* s : allSlots) {
    if (s->EqAuthId(session)) {
      s->OnAuth(rec);
      return;
    }
  }
  std::cerr << "receive auth request for unknown session " << session << std::endl;
}

void ModemFactory::SendAuth(const unsigned char* rec) {
  const std::int32_t session = auth_record::word(rec, 8);
  // The answer is for the connection that asked last for this session: a
  // connection that has asked nothing has no session (-1 is also the
  // session of a call without a modem), and one that an earlier call on the
  // same modem left open is not waiting for it.
  AuthClient* to = nullptr;
  for (AuthClient* c : clients) {
    if (c->GetRecordOrder() != 0 && c->GetSessionId() == session &&
        (!to || c->GetRecordOrder() > to->GetRecordOrder()))
      to = c;
  }
  if (to) {
    to->Send(rec);
    return;
  }
  std::clog << "send error: unknown auth " << session << " session." << std::endl;
}
