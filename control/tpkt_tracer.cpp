#include "control/tpkt_tracer.h"

#include "runtime/errno_text.h"
#include "runtime/inet4_addr.h"

#include <cerrno>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

TPKTTracer::Sink::~Sink() = default;

TPKTTracer::~TPKTTracer() {
  current = nullptr;
  connections.clear();
}

bool TPKTTracer::Listen(unsigned short port) {
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!s) return false;
  INet4::Addr any;
  any.port(port);
  if (::bind(s.lowlevel_fd(), any, any.size()) != 0) return false;
  if (::listen(s.lowlevel_fd(), 1) != 0) return false;
  if (!s.NonBlock()) return false;
  listen_event.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
  listen_event.Schedule(s, POLLIN);
  return listen_event.IsActive();
}

unsigned short TPKTTracer::port() const {
  if (!listen_event.IsActive()) return 0;
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  if (::getsockname(listen_event.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return INet4::Addr(sa).port();
}

void TPKTTracer::OnEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    sockaddr_in sa = {};
    socklen_t len = sizeof sa;
    Fd conn(::accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC));
    if (!conn) {
      const int err = errno;
      guard.OnAcceptFailure(fd, err, true);
      break;
    }
    guard.Accepted();
    std::clog << "ACP connection open from " << INet4::Addr(sa) << std::endl;
    if (!conn.NonBlock()) continue;
    std::unique_ptr<Connection> c(new Connection);
    c->event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
    c->event.Schedule(conn, POLLIN);
    if (!c->event.IsActive()) {
      // Its descriptor could not be copied: a connection nobody polls would
      // stay listed for good.
      const Errno e;
      std::cerr << "ACP connection from " << INet4::Addr(sa) << " dropped: " << e << std::endl;
      continue;
    }
    connections.push_back(std::move(c));
  }
}

TPKTTracer::Connection* TPKTTracer::FindConnection(int fd) {
  for (auto& c : connections)
    if (c->event.lowlevel_fd() == fd) return c.get();
  return nullptr;
}

void TPKTTracer::CloseConnection(Connection* c) {
  if (current == c) current = nullptr;
  for (auto it = connections.begin(); it != connections.end(); ++it) {
    if (it->get() == c) {
      connections.erase(it);
      return;
    }
  }
}

void TPKTTracer::OnDataEvent(int fd, short revents) {
  Connection* c = FindConnection(fd);
  if (!c) return;
  current = c;
  if (revents & (POLLERR | POLLHUP)) {
    CloseConnection(c);
    return;
  }
  if (!(revents & POLLIN)) {
    current = nullptr;
    return;
  }
  for (unsigned reads = 0; reads < Event::max_reads_per_event; ++reads) {
    const ssize_t n = ::read(fd, c->buffer + c->got, c->needed - c->got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      CloseConnection(c);
      return;
    }
    c->got += static_cast<unsigned int>(n);
    if (c->got < c->needed) continue;
    c->got = 0;
    if (c->mode == Connection::header) {
      const unsigned int length = (unsigned int)c->buffer[2] << 8 | c->buffer[3];
      if (c->buffer[0] != 3 || c->buffer[1] != 0 || length < 4 || length - 4 > buffer_size) {
        CloseConnection(c);
        return;
      }
      if (length == 4) continue;  // nothing to carry: wait for the next header
      c->mode = Connection::body;
      c->needed = length - 4;
    } else {
      if (sink) sink->receive(reinterpret_cast<const char*>(c->buffer), c->needed);
      if (current != c) return;  // the sink's answer failed and closed it
      c->mode = Connection::header;
      c->needed = 4;
    }
  }
  current = nullptr;
}

bool TPKTTracer::SendTo(Connection* c, const unsigned char* header, const void* data, unsigned int len) {
  iovec iov[2];
  iov[0].iov_base = const_cast<unsigned char*>(header);
  iov[0].iov_len = 4;
  iov[1].iov_base = const_cast<void*>(data);
  iov[1].iov_len = len;
  msghdr msg = {};
  msg.msg_iov = iov;
  msg.msg_iovlen = len ? 2 : 1;
  ssize_t n;
  do {
    n = ::sendmsg(c->event.lowlevel_fd(), &msg, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(len) + 4) {
    CloseConnection(c);
    return false;
  }
  return true;
}

void TPKTTracer::Send(const void* data, unsigned int len) {
  // The 16-bit length counts the header too.
  if (len > 0xFFFF - 4) {
    std::cerr << "TPKTTracer: message of " << len << " octets too long for a frame, dropped." << std::endl;
    return;
  }
  const unsigned char header[4] = {3, 0, static_cast<unsigned char>((len + 4) >> 8),
                                   static_cast<unsigned char>((len + 4) & 0xFF)};
  if (current) {
    SendTo(current, header, data, len);
    return;
  }
  std::vector<Connection*> all;
  for (auto& c : connections) all.push_back(c.get());
  for (Connection* c : all) SendTo(c, header, data, len);
}
