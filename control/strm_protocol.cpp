#include "control/strm_protocol.h"

#include "platform/clock.h"
#include "runtime/errno_text.h"
#include "runtime/ext_output.h"
#include "runtime/multiplexer.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

int strm_protocol_debug = 0;

StrmProtocol::StrmProtocol() { init(); }

StrmProtocol::StrmProtocol(Fd fd) {
  init();
  attach(fd);
}

StrmProtocol::~StrmProtocol() {
  if (strm_protocol_debug)
    std::clog << "Enter StrmProtocol::~StrmProtocol()" << " this=" << std::hex
              << reinterpret_cast<std::uintptr_t>(this) << std::dec << std::endl;
  release();
}

void StrmProtocol::init() {
  read_event.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this);
}

void StrmProtocol::attach(Fd fd) {
  release();
  sock = fd;
  // The send queue of a fresh socket is empty: a kernel whose output-queue
  // query answers more than 0 now reports free space, not queued bytes.
  outq_reports_free = opened() && outq_space() > 0;
}

void StrmProtocol::release() {
  if (!opened()) return;
  read_event.Release();
  sock.close();
}

namespace {

// The live clock of the process: the loop may cache its time of day per
// pass, but the write deadline runs inside one pass.
std::uint32_t now_ms() {
  timeval tv;
  platform::gettimeofday(&tv);
  return static_cast<std::uint32_t>(std::int64_t(tv.tv_sec) * 1000 + tv.tv_usec / 1000);
}

std::int32_t sockopt_int(int fd, int level, int name) {
  int v = 0;
  socklen_t len = sizeof v;
  if (::getsockopt(fd, level, name, &v, &len) != 0) return -1;
  return v;
}

std::int32_t ioctl_int(int fd, unsigned long request) {
  int v = 0;
  if (::ioctl(fd, request, &v) != 0) return -1;
  return v;
}

}  // namespace

std::int32_t StrmProtocol::sendbuf_space() const { return sockopt_int(sock.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF); }

std::int32_t StrmProtocol::recvbuf_space() const { return sockopt_int(sock.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF); }

std::int32_t StrmProtocol::inq_space() const { return ioctl_int(sock.lowlevel_fd(), FIONREAD); }

std::int32_t StrmProtocol::outq_space() const { return ioctl_int(sock.lowlevel_fd(), TIOCOUTQ); }

std::int32_t StrmProtocol::free_space() const {
  if (outq_reports_free) return outq_space();
  return sendbuf_space() - outq_space();
}

std::ostream& StrmProtocol::PutHeader(std::ostream& os) const { return os << "SockStream[" << svc_name << "]: "; }

void StrmProtocol::diagnostic(std::ostream& os, const char* word, const char* error) const {
  os << ext::header(this) << word << ", sendbuf=" << sendbuf_space() << ", recvbuf=" << recvbuf_space()
     << ", free=" << free_space() << ", inq=" << inq_space() << ", outq=" << outq_space();
  if (error) os << ", error=" << error;
  os << std::endl;
}

void StrmProtocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void StrmProtocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void StrmProtocol::local_activate() {
  if (!opened()) {
    on_deactivate(Smart_pointer<Internal_protocol_status>(new Protocol_status_error(this, "fd not attached")));
    return;
  }
  read_event.Schedule(sock, POLLIN);
  if (!read_event.IsActive()) {
    // No descriptor left for the event's own duplicate: a link nobody reads.
    Errno err;
    on_error(std::string("can't watch socket: ") + std::strerror(err.value()));
    return;
  }
  on_activate();
}

void StrmProtocol::local_deactivate() {
  release();
  on_deactivate(Smart_pointer<Internal_protocol_status>(new Protocol_status_success(this, "success")));
}

void StrmProtocol::on_event(int, short revents) {
  if (revents & POLLERR) {
    Errno err;
    on_error(std::string("pollerr: ") + std::strerror(err.value()));
  } else if (revents & POLLHUP) {
    Errno err;
    on_error(std::string("pollhup: ") + std::strerror(err.value()));
  } else if (revents & POLLIN) {
    do_read();
  }
}

void StrmProtocol::do_read() {
  Packet p;
  // With the pool empty the bytes are still read, into scratch room, and
  // dropped: left in the socket they would wake the loop again at once.
  static unsigned char scratch[packet_max_size];
  const bool have = drops.Take(p);
  unsigned char* into = have ? p.tail() : scratch;
  const std::size_t room = have ? p.tailroom() : sizeof scratch;
  read_measure.begin();
  const ssize_t n = ::recv(sock.lowlevel_fd(), into, room, MSG_DONTWAIT | MSG_NOSIGNAL);
  Errno err;
  read_measure.end();
  if (n < 0) {
    if (err.value() == EAGAIN) return;
    on_error(std::string("read error: ") + std::strerror(err.value()));
    return;
  }
  if (n == 0) {
    // The peer closed; the text is whatever errno holds, as on every read error.
    on_error(std::string("read error: ") + std::strerror(err.value()));
    return;
  }
  if (!have) {
    drops.Count();
    if (drops.ShouldLog())
      std::cerr << ext::header(this) << "packet pool empty, received data dropped (" << drops.count()
                << " reads dropped)" << std::endl;
    return;
  }
  if (verbose_) diagnostic(std::clog, "receive success");
  p.put(static_cast<std::uint32_t>(n));
  on_message(p);
}

int StrmProtocol::message(Packet& p) {
  // Nothing to write to: the stack has already been reported down.
  if (!opened()) return -1;
  const std::uint32_t total = p.length();
  const unsigned char* data = total ? p.data() : nullptr;
  std::uint32_t done = 0;
  write_measure.begin();
  std::uint32_t start = now_ms();
  while (done < total) {
    const ssize_t n = ::send(sock.lowlevel_fd(), data + done, total - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      done += static_cast<std::uint32_t>(n);
      continue;
    }
    Errno err;
    if (err.value() == EINTR) continue;
    if (err.value() != EAGAIN) {
      write_measure.end();
      const std::string text = std::strerror(err.value());
      diagnostic(std::cerr, "write error", text.c_str());
      ++overflow;
      on_error("write error: " + text);
      return -1;
    }
    std::int32_t spent = static_cast<std::int32_t>(now_ms() - start);
    if (spent < 0) {
      // The time of day was set back: the deadline counts again from now,
      // not from a start now ahead, which would hold the whole loop here
      // for as long as the step.
      start = now_ms();
      spent = 0;
    }
    const std::int32_t remaining = write_deadline_ms - spent;
    bool timed_out = remaining <= 0;
    if (!timed_out) {
      // The whole loop waits here: keep the watchdog quiet around the wait.
      multiplexer.resetWD();
      pollfd pfd = {sock.lowlevel_fd(), POLLOUT, 0};
      const int r = platform::poll(&pfd, 1, remaining);
      Errno poll_err;
      multiplexer.resetWD();
      // An interrupted wait writes again within the same deadline.
      timed_out = !(r == 1 || (r < 0 && poll_err.value() == EINTR));
    }
    if (timed_out) {
      write_measure.end();
      diagnostic(std::cerr, "write timeout");
      ++overflow;
      on_error("write timeout");
      return -1;
    }
  }
  if (verbose_) diagnostic(std::clog, "write success");
  write_measure.end();
  return static_cast<int>(total);
}

void StrmProtocol::on_error(const std::string& text) {
  release();
  on_deactivate(Smart_pointer<Internal_protocol_status>(new Protocol_status_error(this, text)));
}
