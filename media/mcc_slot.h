#pragma once
// Raw data channels: one channel of the board's HDLC controller given to the
// controller as a slot. Its switch channel is connected like any other
// slot's; each userData command is one frame sent on the channel, and each
// frame the channel receives goes to the controller as a userData signal.
#include "runtime/event.h"
#include "runtime/fd.h"
#include "schema/lgcp/LGCP.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <ostream>
#include <vector>

class MccSlot : private Slot {
 public:
  // Takes the channel descriptor (allocated, with its switch channel known);
  // none when the slot cannot hold it.
  static Slot* Create(Fd channel, int timeslot);
  ~MccSlot() override;

 private:
  MccSlot(Fd channel, int timeslot);

  // Slot
  bool IUserData(const std::vector<char>& octets) override;
  // Once the driver has dropped the channel (the descriptor is closed), its
  // switch channel is the driver's again and may go to a newer channel: it
  // is no longer this slot's to connect or to cut.
  bool IOnOutputStream() override { return event.IsActive(); }
  bool IOnInputStream() override { return event.IsActive(); }
  int IGetTransmitChannel() override { return event.IsActive() ? timeslot : -1; }
  int IGetReceiveChannel() override { return event.IsActive() ? timeslot : -1; }
  const char* GetName() const override { return "MCC"; }

  void OnEvent(int fd, short revents);
  // False when the channel read end of file or failed other than empty.
  bool DoRead();

  int timeslot;
  Event event;
};

class MccFactory : public SlotFactory {
 public:
  static MccFactory& instance();

  const char* GetName() const override { return "MCC"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;

  std::ostream& PutHeader(std::ostream& os) const { return os << "mcc: "; }

 private:
  MccFactory() = default;
};
