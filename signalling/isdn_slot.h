#pragma once
// ISDN D channels that do not come from a trunk time slot's HDLC engine but
// from a descriptor of their own: IsdnSlot on its own channel of the HDLC
// controller, AtsQsigSlot on the ATS-QSIG signalling device (whose driver
// also supplies up to three B channels, AtsQsigBSlot). The slot is itself
// the data link's frame transport. As on trunk time slots, layer-3 octets
// travel opaquely as userData.
#include "control/protocols_list.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "schema/lgcp/LGCP.h"
#include "signalling/lapd/lapd.h"
#include "slots/hdlc.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <cstdint>

class IsdnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public GenericHDLC {
 public:
  // `channel`: the slot's switch channel; the slot polls its own duplicate
  // of the descriptor.
  IsdnSlot(Fd fd, int channel, ISDN::LAPD* link);
  ~IsdnSlot() override;

  // Slot
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IUserData(std::vector<char> const& data) override;
  bool Ioctl(const LGCP::IoctlParams&) override { return false; }
  // A channel the driver dropped (its descriptor closed after a hang-up) is
  // the driver's again and may go to a newer channel: it is no longer this
  // slot's to connect or to cut.
  bool IOnOutputStream() override { return is_open(); }
  bool IOnInputStream() override { return is_open(); }
  int IGetTransmitChannel() override { return is_open() ? channel_ : -1; }
  int IGetReceiveChannel() override { return is_open() ? channel_ : -1; }
  const char* GetName() const override { return "MCC"; }

  // GenericHDLC
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return event_.IsActive(); }
  bool is_ready() const override { return ready_; }

  // The stack's face.
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> status) override;
  int on_message(Packet& p) override;
  int transmit(Packet&) override { return 0; }
  const Protocol_name& name() const override { return name_; }

  // ISDN::LAPD::Notify: flow changes are not reported for these slots.
  void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

  ISDN::LAPD* link() const { return link_; }

 protected:
  // The same under its own name in the status dump.
  IsdnSlot(const char* event_name, Fd fd, int channel, ISDN::LAPD* link);
  void OnEvent(int fd, short revents);
  void UpdateISDN_Statistics();
  // Unregisters and closes the descriptor; the driver's channel goes with it.
  virtual void close_channel();
  int descriptor() const { return event_.lowlevel_fd(); }

 private:
  int channel_;
  Event event_;
  ISDN::LAPD* link_;  // owned by the stack
  bool ready_ = false;
  Protocol_name_str name_{"ISDN/HDLC"};
};

class AtsQsigSlot : public IsdnSlot {
 public:
  AtsQsigSlot(Fd fd, int timeslot, ISDN::LAPD* link);

  bool IBeforeDestroy() override;
  const char* GetName() const override { return "ATS-QSIG"; }

  int GetTimeslot() { return GetTransmitChannel(); }
  // The driver's channel of a new B channel, -1 on failure.
  int NewBChannel(unsigned index);
  void DestroyBChannel(unsigned index);
  // Tells this slot from a later one under the same slot number.
  unsigned serial() const { return serial_; }

 private:
  // The driver frees the B channels with the descriptor.
  void close_channel() override;

  unsigned serial_;
};

class AtsQsigBSlot : public Slot {
 public:
  AtsQsigBSlot(unsigned qsig_slot, unsigned qsig_serial, unsigned index, unsigned channel)
      : qsig_slot_(qsig_slot), qsig_serial_(qsig_serial), index_(index), channel_(channel) {}

  bool IBeforeDestroy() override;
  // None once the signalling slot's descriptor has gone, and the driver's
  // B channel with it: its lines were quietened then, and the number may
  // since be any newer channel's (a B or a D channel, or another device's),
  // so connecting, disconnecting and destroying this slot leave it alone.
  bool IOnOutputStream() override { return OnLiveDescriptor(); }
  bool IOnInputStream() override { return OnLiveDescriptor(); }
  int IGetTransmitChannel() override { return OnLiveDescriptor() ? static_cast<int>(channel_) : -1; }
  int IGetReceiveChannel() override { return OnLiveDescriptor() ? static_cast<int>(channel_) : -1; }
  const char* GetName() const override { return "ATS-QSIG-B"; }

  // A B channel of that signalling slot.
  bool Of(const AtsQsigSlot& q) const {
    return qsig_slot_ == static_cast<unsigned>(q.GetId()) && qsig_serial_ == q.serial();
  }

 private:
  // The ATS-QSIG slot whose descriptor this B channel came from, or null
  // once that slot is gone.
  AtsQsigSlot* SignallingSlot() const;
  // The signalling slot holds its descriptor, and with it the driver's B
  // channel.
  bool OnLiveDescriptor() const;

  unsigned qsig_slot_;
  unsigned qsig_serial_;
  unsigned index_;
  unsigned channel_;
};

class IsdnFactory : public SlotFactory {
 public:
  static IsdnFactory& instance();

  const char* GetName() const override { return "ISDN"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  // The first slot of this factory, in creation order, with the number.
  Slot* FindSlot(int id) const;

 private:
  IsdnFactory() = default;
  Slot* NewIsdnSlot(const LGCP::IsdnParams& params);
  Slot* NewAtsQsigSlot(const LGCP::AtsQsigParams& params);
  Slot* NewAtsQsigBSlot(const LGCP::AtsQsigBParams& params);
};
