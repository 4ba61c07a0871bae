#include "signalling/isdn_slot.h"

#include "platform/device.h"
#include "platform/dsp_data.h"
#include "platform/mcc.h"
#include "runtime/errno_text.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <poll.h>

namespace {

const char factory_header[] = "mcc/isdn: ";
const char qsig_header[] = "ats-qsig: ";
const char qsig_b_header[] = "ats-qsig-b: ";

ISDN::Side::type side_of(const LGCP::IsdnSide& side) {
  return side.network_isSelected() ? ISDN::Side::network : ISDN::Side::user;
}

// A slot whose event could not copy its D channel (no descriptor left)
// holds a closed channel: no slot.
Slot* held(IsdnSlot* slot, const char* header) {
  if (slot->is_open()) return slot;
  const Errno e;
  std::cerr << header << "fail to hold D channel: " << e << std::endl;
  delete slot;
  return nullptr;
}

}  // namespace

// IsdnSlot.

IsdnSlot::IsdnSlot(Fd fd, int channel, ISDN::LAPD* link) : IsdnSlot("IsdnSlot::OnEvent", fd, channel, link) {}

IsdnSlot::IsdnSlot(const char* event_name, Fd fd, int channel, ISDN::LAPD* link) : channel_(channel), link_(link) {
  if (link_) {
    link_->BindNotify(this);
    link_->hdlc(this);
    add_protocol_tail(link_);
  }
  event_.Bind(event_name, &IsdnSlot::OnEvent, this);
  event_.Schedule(fd, POLLIN | POLLOUT);
}

IsdnSlot::~IsdnSlot() {
  event_.Release();
  // The link goes while its transport is still whole.
  while (Protocol* p = top()) delete p;
}

void IsdnSlot::close_channel() {
  // The line into the channel goes quiet while it is still this slot's: the
  // driver may hand the number out again, and the slot gives the number up
  // with its descriptor.
  MuxQuietenInput(this);
  event_.Release();
}

bool IsdnSlot::IActivate(const TERM::TermActivateParams&) {
  activate();
  return true;
}

bool IsdnSlot::IDeactivate() {
  deactivate();
  return true;
}

bool IsdnSlot::IUserData(std::vector<char> const& data) {
  Packet p;
  try {
    // The link keeps what it cannot send yet; the pool's reserve is the
    // control link's and the receive paths'.
    packet_queue_claim();
    prepare_head(p);
    if (data.size() > p.tailroom()) {
      std::cerr << "mcc/isdn: message of " << data.size() << " octets does not fit a frame, dropped" << std::endl;
      return true;
    }
    if (!data.empty()) {
      unsigned char* at = p.put(static_cast<std::uint32_t>(data.size()));
      for (std::size_t i = 0; i < data.size(); ++i) at[i] = static_cast<unsigned char>(data[i]);
    }
  } catch (const std::bad_alloc&) {
    std::cerr << static_cast<const Slot&>(*this) << ": no packet buffer, message dropped" << std::endl;
    return true;
  }
  message(p);
  return true;
}

void IsdnSlot::OnEvent(int, short revents) {
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    // An interrupted read is tried again, a bounded number of times: a
    // hung-up channel may still hold frames, yet must not hold the loop.
    const auto read_frame = [this](void* into) {
      ssize_t r = -1;
      for (unsigned tries = 0; tries < Event::max_reads_per_event; ++tries) {
        r = platform::dev_read(event_.lowlevel_fd(), into, packet_max_size);
        if (r >= 0 || errno != EINTR) break;
      }
      return r;
    };
    Packet frame;
    ssize_t n = -1;
    bool dropped = false;
    try {
      frame.reserve_tail(packet_max_size);
      n = read_frame(frame.tail());
    } catch (const std::bad_alloc&) {
      // No buffer: the frame is taken off the channel and lost.
      static unsigned char scratch[packet_max_size];
      dropped = read_frame(scratch) > 0;
      std::cerr << static_cast<const Slot&>(*this) << ": no packet buffer, frame dropped" << std::endl;
    }
    if (n > 0) {
      frame.put(static_cast<std::uint32_t>(n));
      receive(frame);
    } else if (!dropped && revents & (POLLHUP | POLLERR)) {
      // A hung-up channel reads nothing, or fails, for ever, and poll says
      // so every time: stop polling it rather than hold the loop, whatever
      // the read said (EAGAIN too would only repeat). An empty frame on a
      // channel that is not hung up is only an empty frame, as on a raw
      // data channel: dropping the channel for it would end the link for
      // good.
      std::cerr << static_cast<const Slot&>(*this) << ": channel hung up" << std::endl;
      // What it fed stays linked but must not hear the number's next channel.
      MuxQuietenReceivers(this);
      close_channel();
      return;
    }
  }
  if ((revents & POLLOUT) && !ready_ && event_.IsActive()) {
    ready_ = true;
    event_.SetEvents(POLLIN);
    if (link_) link_->on_hdlc_ready();
  }
}

bool IsdnSlot::hdlc_transmit(Packet& frame) {
  const std::uint32_t len = frame.length();
  if (len == 0) return true;
  if (!event_.IsActive()) return false;
  const unsigned char* data = frame.get()->fdata;
  for (;;) {
    if (platform::dev_write(event_.lowlevel_fd(), data, len) >= 0) return true;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      ready_ = false;
      event_.SetEvents(POLLIN | POLLOUT);
    }
    return false;
  }
}

void IsdnSlot::UpdateISDN_Statistics() {
  if (!link_) return;
  LGCP::IoctlResponse r;
  ACP::IsdnLinkInfo& info = r.select_isdnLinkInfo();
  info.set_side(link_->side() == ISDN::Side::network ? ACP::IsdnSide::network : ACP::IsdnSide::user);
  if (link_->GetInfo(info)) OnIoctlResponse(r);
}

void IsdnSlot::on_activated(Protocol*) {
  UpdateISDN_Statistics();
  OnActivated();
}

void IsdnSlot::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {
  UpdateISDN_Statistics();
  OnDeactivated();
}

int IsdnSlot::on_message(Packet& p) {
  const std::uint32_t len = p.length();
  const char* d = reinterpret_cast<const char*>(len ? p.get()->fdata : nullptr);
  OnUserData(std::vector<char>(d, d + len));
  return 0;
}

// AtsQsigSlot.

AtsQsigSlot::AtsQsigSlot(Fd fd, int timeslot, ISDN::LAPD* link)
    : IsdnSlot("AtsQsigSlot::OnEvent", fd, timeslot, link) {
  static unsigned made = 0;
  serial_ = ++made;
}

bool AtsQsigSlot::IBeforeDestroy() {
  close_channel();
  return true;
}

void AtsQsigSlot::close_channel() {
  // The B slots stay until the controller destroys them, but their numbers
  // may be handed out again: the lines into them and out of them go quiet
  // while they are still theirs.
  for (Slot* s : IsdnFactory::instance().GetSlots()) {
    auto* b = dynamic_cast<AtsQsigBSlot*>(s);
    if (b && b->Of(*this)) MuxQuietenLines(b);
  }
  IsdnSlot::close_channel();
}

int AtsQsigSlot::NewBChannel(unsigned index) {
  dsp_data_b_channel rec;
  rec.index = static_cast<std::int32_t>(index);
  rec.channel = -1;
  if (!is_open() || platform::dev_ioctl(descriptor(), platform::dsp_data::DSP_DATA_ADD_B, &rec) == -1) return -1;
  return rec.channel;
}

void AtsQsigSlot::DestroyBChannel(unsigned index) {
  std::int32_t i = static_cast<std::int32_t>(index);
  if (is_open()) platform::dev_ioctl(descriptor(), platform::dsp_data::DSP_DATA_REMOVE_B, &i);
}

// AtsQsigBSlot.

AtsQsigSlot* AtsQsigBSlot::SignallingSlot() const {
  // A signalling slot made later under the same number has B channels of
  // its own; the driver took this one with the old slot's descriptor.
  auto* q = dynamic_cast<AtsQsigSlot*>(IsdnFactory::instance().FindSlot(static_cast<int>(qsig_slot_)));
  return q && q->serial() == qsig_serial_ ? q : nullptr;
}

bool AtsQsigBSlot::OnLiveDescriptor() const {
  const AtsQsigSlot* q = SignallingSlot();
  return q && q->is_open();
}

bool AtsQsigBSlot::IBeforeDestroy() {
  if (AtsQsigSlot* q = SignallingSlot())
    q->DestroyBChannel(index_);
  else
    std::clog << qsig_b_header << "Can't find signalling slot" << std::endl;
  return true;
}

// IsdnFactory.

IsdnFactory& IsdnFactory::instance() {
  static IsdnFactory factory;
  return factory;
}

Slot* IsdnFactory::FindSlot(int id) const {
  for (Slot* s : slots)
    if (s->GetId() == id) return s;
  return nullptr;
}

Slot* IsdnFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.isdn_isSelected()) return NewIsdnSlot(params.get_isdn());
  if (params.ats_qsig_isSelected()) return NewAtsQsigSlot(params.get_ats_qsig());
  if (params.ats_qsig_b_isSelected()) return NewAtsQsigBSlot(params.get_ats_qsig_b());
  return nullptr;
}

Slot* IsdnFactory::NewIsdnSlot(const LGCP::IsdnParams& params) {
  // Close-on-exec: children must not hold D channels.
  const int fd = platform::dev_open(platform::mcc::device_path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << factory_header << "fail to open MCC device: " << e << std::endl;
    return nullptr;
  }
  const bool bri = params.get_type().asInt() == LGCP::IsdnType::bri;
  auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
  if (bri) link->change_to_bri();
  link->set_linkno(static_cast<unsigned>(params.get_trunk().getValue()));
  link->set_log(static_cast<unsigned>(params.get_log().getValue()));
  link->set_side(side_of(params.get_side()));

  mcc_allocate_params p;
  p.mode = bri ? 1 : 0;
  p.packet_size = 512;
  p.reserved = 0;
  p.rx_threshold = 1;
  p.tx_threshold = 1;
  if (platform::dev_ioctl(fd, platform::mcc::MCC_ALLOCATE, &p) < 0) {
    Errno e;
    std::cerr << factory_header << "MCC_ALLOCATE fail: " << e << std::endl;
    delete link;
    platform::dev_close(fd);
    return nullptr;
  }
  // A channel without a switch channel cannot be connected: no slot.
  const int channel = platform::dev_ioctl(fd, platform::mcc::MCC_TIMESLOT, nullptr);
  if (channel < 0) {
    Errno e;
    std::cerr << factory_header << "MCC_TIMESLOT fail: " << e << std::endl;
    delete link;
    platform::dev_close(fd);
    return nullptr;
  }
  // The slot's event keeps its own duplicate; this copy closes here.
  return held(new IsdnSlot(Fd(fd), channel, link), factory_header);
}

Slot* IsdnFactory::NewAtsQsigSlot(const LGCP::AtsQsigParams& params) {
  const int fd = platform::dev_open(platform::dsp_data::device_path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << factory_header << "fail to open dsp-data device: " << e << std::endl;
    return nullptr;
  }
  const int timeslot = platform::dev_ioctl(fd, platform::dsp_data::DSP_DATA_TIMESLOT, nullptr);
  if (timeslot < 0) {
    Errno e;
    std::cerr << qsig_header << "D channel time slot fail: " << e << std::endl;
    platform::dev_close(fd);
    return nullptr;
  }
  auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
  link->set_log(0);
  link->set_side(side_of(params.get_side()));
  auto* slot = new AtsQsigSlot(Fd(fd), timeslot, link);
  link->set_linkno(static_cast<unsigned>(slot->GetTimeslot()));
  return held(slot, qsig_header);
}

Slot* IsdnFactory::NewAtsQsigBSlot(const LGCP::AtsQsigBParams& params) {
  const unsigned subslot = params.get_subslot().getValue();
  auto* qsig = dynamic_cast<AtsQsigSlot*>(FindSlot(static_cast<int>(params.get_slot().getValue())));
  if (!qsig || subslot == 0 || subslot > 3) return nullptr;
  const int channel = qsig->NewBChannel(subslot - 1);
  if (channel == -1) {
    std::cerr << qsig_header << "add B channel fail !!!" << std::endl;
    return nullptr;
  }
  return new AtsQsigBSlot(static_cast<unsigned>(qsig->GetId()), qsig->serial(), subslot - 1,
                          static_cast<unsigned>(channel));
}
