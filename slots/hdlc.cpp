#include "slots/hdlc.h"

#include "control/trace_ctl.h"
#include "platform/device.h"
#include "runtime/errno_text.h"
#include "runtime/ext_output.h"
#include "slots/hw_mux.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <poll.h>

namespace {

// Controller mode of each channel type; other types have none.
bool mode_of(std::int32_t type, std::uint32_t& mode) {
  switch (type) {
    case 0:
      mode = 3;
      return true;
    case 1:
      mode = 0;
      return true;
    case 2:
      mode = 1;
      return true;
    default:
      return false;
  }
}

bool tracing() { return traces.signalling.hdlc; }

}  // namespace

HDLC::HDLC() { unbind(); }

HDLC::~HDLC() {
  if (alive_) *alive_ = false;
}

void HDLC::bind(Notify* n) {
  if (n)
    notify = n;
  else
    unbind();
}

void HDLC::unbind() {
  class Nobody : public Notify {
   public:
    void on_hdlc_receive(Packet&) override {}
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}
  };
  static Nobody nobody;
  notify = &nobody;
}

std::ostream& HDLC::PutHeader(std::ostream& os) const {
  return os << "hdlc" << " [" << trunk_ << "/" << params_.timeslot << "]: ";
}

bool HDLC::activate() {
  deactivate();
  counters = LinkCounters();

  std::uint32_t mode = 0;
  if (!mode_of(params_.type, mode)) {
    // No controller mode fits: allocating anything would be a guess.
    std::cerr << ext::header(this) << "no controller mode for channel type " << params_.type << std::endl;
    return false;
  }

  const int fd = platform::dev_open(platform::mcc::device_path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << ext::header(this) << "fail to open MCC device: " << e << std::endl;
    return false;
  }

  mcc_allocate_params p;
  p.mode = mode;
  p.packet_size = 512;
  p.reserved = 0;
  p.rx_threshold = 1;
  p.tx_threshold = 4;
  if (platform::dev_ioctl(fd, platform::mcc::MCC_ALLOCATE, &p) == -1) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
    platform::dev_close(fd);
    return false;
  }

  const int channel = platform::dev_ioctl(fd, platform::mcc::MCC_TIMESLOT, nullptr);
  if (channel < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << e << std::endl;
    platform::dev_close(fd);
    return false;
  }

  // Armed before the wiring: a channel the loop cannot poll (no descriptor
  // left for the event's copy) is no channel, and is not reported as one.
  m_event.Bind("HDLC::OnEvent", &HDLC::on_event, this);
  m_event.Schedule(Fd(fd), POLLIN | POLLOUT);
  if (!m_event.IsActive()) {
    Errno e;
    std::cerr << ext::header(this) << "fail to hold MCC channel: " << e << std::endl;
    return false;
  }

  // Transmit: the controller channel drives the line; receive: the line
  // feeds the controller channel.
  // A line channel not known yet (-1) is wired later. A wiring the switch
  // refused carries no frame: the channel is closed again (which frees it)
  // and the owner hears of the failure.
  HwMux& mux = HwMux::instance();
  const int line_out = params_.type == 2 ? params_.tdm2 : params_.tdm;
  const bool out_wired = line_out >= 0 && mux.Connect(channel, line_out);
  if ((line_out >= 0 && !out_wired) || (params_.tdm >= 0 && !mux.Connect(params_.tdm, channel))) {
    std::cerr << ext::header(this) << "switch connect fail for controller channel " << channel << std::endl;
    // The line must not stay fed from a channel about to be freed.
    if (out_wired) mux.Disconnect(line_out);
    m_event.Release();
    return false;
  }

  channel_ = channel;
  line_out_ = out_wired ? line_out : -1;
  ready = false;
  ++openings_;
  if (tracing()) std::clog << ext::header(this) << "activated" << std::endl;
  return true;
}

bool HDLC::deactivate() {
  m_event.Release();
  bool quiet = true;
  if (channel_ >= 0) {
    HwMux& mux = HwMux::instance();
    // The freed controller channel goes back to the driver's pool: whoever
    // gets it next must not hear this line, nor be heard on the line it
    // drove. A line given another source since is that source's.
    quiet = quiet_output();
    mux.Disable(channel_);
  }
  channel_ = -1;
  line_out_ = -1;
  ready = false;
  if (tracing()) std::clog << ext::header(this) << "deactivated" << std::endl;
  return quiet;
}

bool HDLC::drive_line() {
  const int line = params_.type == 2 ? params_.tdm2 : params_.tdm;
  if (channel_ < 0 || line < 0) return true;
  HwMux& mux = HwMux::instance();
  if (mux.FedFrom(line) == channel_) return true;
  if (!mux.Connect(channel_, line)) return false;
  line_out_ = line;
  return true;
}

bool HDLC::quiet_input() {
  if (channel_ < 0 || params_.tdm < 0) return true;
  HwMux& mux = HwMux::instance();
  if (mux.FedFrom(channel_) != params_.tdm) return true;
  return mux.Disconnect(channel_);
}

bool HDLC::quiet_output() {
  if (channel_ < 0 || line_out_ < 0) return true;
  HwMux& mux = HwMux::instance();
  if (mux.FedFrom(line_out_) != channel_) return true;
  return mux.Disconnect(line_out_);
}

void HDLC::on_event(int, short revents) {
  const std::uint32_t polled = openings_;
  // A hang-up or error is reported whatever the mask; the read finds out.
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    bool alive = true;
    alive_ = &alive;
    do_read((revents & (POLLHUP | POLLERR)) != 0);
    if (!alive) return;
    alive_ = nullptr;
  }
  if ((revents & POLLOUT) && !ready && m_event.IsActive() && openings_ == polled) {
    ready = true;
    m_event.SetEvents(POLLIN);
    notify->on_hdlc_ready();
  }
}

void HDLC::do_read(bool hung_up) {
  if (tracing()) std::clog << ext::header(this) << "do_read" << std::endl;
  if (!m_event.IsActive()) {
    std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
    return;
  }
  const bool* alive = alive_;
  for (unsigned reads = 0; reads < Event::max_reads_per_event; ++reads) {
    Packet frame;
    try {
      frame.reserve_tail(packet_max_size);
    } catch (const std::bad_alloc&) {
      frame.clear();
    }
    ssize_t n;
    if (frame.null()) {
      // No buffer: take the frame off the channel anyway and count it, so
      // one exhausted pool does not stall the link.
      static unsigned char scratch[packet_max_size];
      n = platform::dev_read(m_event.lowlevel_fd(), scratch, sizeof scratch);
      if (n > 0) {
        ++pool_drops_;
        std::cerr << ext::header(this) << "no packet buffer, frame dropped" << std::endl;
        continue;
      }
    } else {
      n = platform::dev_read(m_event.lowlevel_fd(), frame.tail(), packet_max_size);
    }
    if (n > 0) {
      frame.put(static_cast<std::uint32_t>(n));
      if (tracing()) std::clog << "HDLC[" << trunk_ << "]: rx " << frame.text() << std::endl;
      ++counters.received;
      notify->on_hdlc_receive(frame);
      if (alive && !*alive) return;
      if (!m_event.IsActive()) return;
      continue;
    }
    const bool interrupted = n < 0 && errno == EINTR;
    if (interrupted && reads + 1 < Event::max_reads_per_event) continue;
    // Nothing to read yet is no failure on a live channel; on a hung-up one
    // nothing will come, and waiting would hold the loop.
    if (!hung_up && (interrupted || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))) return;
    // A failure, or a 0-byte read: the channel is of no more use.
    Errno e(n == 0 ? 0 : errno);
    std::cerr << ext::header(this) << "read error: " << e << std::endl;
    deactivate();
    notify->on_hdlc_error(Notify::Cause::read_failure);
    return;
  }
}

bool HDLC::hdlc_transmit(Packet& frame) {
  const std::uint32_t len = frame.length();
  if (len == 0) return true;
  if (!m_event.IsActive()) {
    ++counters.discarded;
    return false;
  }
  if (tracing()) std::clog << "HDLC[" << trunk_ << "]: tx " << frame.text() << std::endl;
  // Read-only access: a frame still shared with its sender is not copied.
  const unsigned char* data = frame.get()->fdata;
  for (;;) {
    if (platform::dev_write(m_event.lowlevel_fd(), data, len) >= 0) {
      ++counters.sent;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      ready = false;
      m_event.SetEvents(POLLIN | POLLOUT);
      return false;
    }
    ++counters.send_errors;
    return false;
  }
}
