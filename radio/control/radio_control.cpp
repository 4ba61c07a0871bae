#include "radio/control/radio_control.h"

#include "platform/device.h"
#include "platform/rtp.h"
#include "platform/rtp_ext.h"
#include "runtime/mux_time.h"

#include <fcntl.h>
#include <poll.h>

#include <cstdio>
#include <iostream>

namespace RTPSignalling {

const char* GetRtpExtDevName() { return "/dev/rtp_ext"; }

RadioControl::RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : ext_attach(attach), init(init), id(id) {
  Init(own_session);
}

RadioControl::RadioControl(rtp_ext_init_params const& init) : init(init), id(0) { Init(unattached); }

RadioControl::RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : rtpFd(rtp), attach(attach), id(id) {
  Init(rtp_session);
}

RadioControl::~RadioControl() {
  timer.reset();
  event.Release();
  extFd.close();
  rtpFd.close();
}

void RadioControl::Init(RadioControlType t) {
  type = t;
  lastProcessing = static_cast<std::uint32_t>(Mux::milliseconds());
  interval = 1000;
  filterActive = false;
  notify = nullptr;
  timerEnabled = false;
  debug = false;
  // Bound through the virtual hook, so the protocol control's handler runs.
  event.Bind("RadioControl::OnRtpExtEvent", &RadioControl::OnRtpExtEvent, this);
  RtpExtStart(true);
}

const std::string& RadioControl::GetPrefix() {
  Mux::timeval tv;
  Mux::gettimeval(tv);
  const std::string now = Mux::timevaltostring(tv);
  char buf[255];
  if (type == unattached)
    std::snprintf(buf, sizeof buf, "rtp_ext %s:", now.c_str());
  else
    std::snprintf(buf, sizeof buf, "rtp_ext[%lu] %s:", static_cast<unsigned long>(id), now.c_str());
  prefix = buf;
  return prefix;
}

void RadioControl::LogError(const char* text) { std::cerr << GetPrefix() << text << std::endl; }

bool RadioControl::OpenSession(bool attachIt) {
  Fd fd(platform::dev_open(GetRtpExtDevName(), O_RDWR | O_CLOEXEC));
  if (!fd) {
    LogError("create rtp_ext session fail !!!");
    return false;
  }
  if (platform::dev_ioctl(fd.lowlevel_fd(), rtp_ext::RTP_EXT_INIT_SESSION, &init) == -1) {
    LogError("init rtp_ext session fail !!!");
    return false;
  }
  if (attachIt && platform::dev_ioctl(fd.lowlevel_fd(), rtp_ext::RTP_EXT_ATTACH_SESSION, &ext_attach) == -1) {
    LogError("attach rtp_ext session fail !!!");
    return false;
  }
  extFd = fd;
  event.Schedule(extFd, POLLIN);
  if (!event.IsActive()) {
    // No descriptor was left for the copies: a session nobody watches is
    // none (ours closes here, and with it the session).
    LogError("hold rtp_ext session fail !!!");
    extFd.close();
    return false;
  }
  // A session opened again after a codec restart starts without a filter:
  // give it the push-to-talk holder's, or the driver would pass every source.
  if (filterActive && platform::dev_ioctl(extFd.lowlevel_fd(), rtp_ext::RTP_EXT_SET_FILTER, &filter) == -1)
    LogError("set filer rtp_ext session fail !!!");
  return true;
}

bool RadioControl::RtpExtStart(bool initial) {
  switch (type) {
    case own_session:
      return OpenSession(true);
    case rtp_session:
      if (platform::dev_ioctl(rtpFd.lowlevel_fd(), rtp::RTP_ATTACH_SESSION, &attach) == -1) {
        LogError("attach rtp session fail !!!");
        return false;
      }
      return true;
    case unattached:
      return initial ? OpenSession(false) : true;
  }
  return false;
}

void RadioControl::SetRtpSession(int fd) {
  ext_attach.fd_rtp = fd;
  if (type == rtp_session) rtpFd = Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

bool RadioControl::RtpExtStop() {
  if (type != own_session) return true;
  if (extFd && platform::dev_ioctl(extFd.lowlevel_fd(), rtp_ext::RTP_EXT_DETACH_SESSION, nullptr) == -1)
    LogError("detach rtp_ext session fail !!!");
  // The watch holds a duplicate: release it too, so the session closes now.
  event.Release();
  extFd.close();
  return true;
}

namespace {

// A tick re-armed with 0 inside its own firing is due again in the same
// firing round: a zero keep-alive period from the controller would hold the
// loop sending keep-alives. The tick never comes sooner than 1 ms.
unsigned tick_delay(unsigned long ms) { return ms == 0 ? 1u : static_cast<unsigned>(ms); }

}  // namespace

void RadioControl::SetTimerEnable(bool on) {
  timerEnabled = on;
  if (on)
    timer.set(tick_delay(interval), &RadioControl::OnProcessStatus, this);
  else
    timer.reset();
}

void RadioControl::OnProcessStatus(Timer*) {
  const unsigned long ms = interval;
  lastProcessing = static_cast<std::uint32_t>(Mux::milliseconds());
  const unsigned long next = ProcessRadioStatus(lastProcessing, ms);
  timer.set(tick_delay(next), &RadioControl::OnProcessStatus, this);
}

int RadioControl::UpdateAccess(bool ptt, in_addr holder) {
  // No holder address (0.0.0.0, as in the status given at creation) names
  // nobody: filtering on it would shut every source out.
  if (ptt && holder.s_addr != 0) {
    if (filterActive && filter.addr == holder.s_addr) return 0;
    filter.addr = holder.s_addr;
    filter.zero = 0;
    filterActive = true;
    if (platform::dev_ioctl(extFd.lowlevel_fd(), rtp_ext::RTP_EXT_SET_FILTER, &filter) == -1)
      LogError("set filer rtp_ext session fail !!!");
    return 0;
  }
  if (!filterActive) return 0;
  filter.addr = 0;
  filter.zero = 0;
  filterActive = false;
  if (platform::dev_ioctl(extFd.lowlevel_fd(), rtp_ext::RTP_EXT_RESET_FILTER, nullptr) == -1)
    LogError("reset filer rtp_ext session fail !!!");
  return 0;
}

void RadioControl::OnRtpExtEvent(int, short revents) {
  if ((revents & POLLIN) && debug) std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
}

}  // namespace RTPSignalling
