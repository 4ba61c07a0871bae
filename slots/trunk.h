#pragma once
// Trunk slots: one time slot of an E1 trunk (`trunk`) or one channel of a
// BRI interface (`trunk_bri`). The slot's cross-connect channel is both its
// transmit and its receive channel, so connecting it switches the line's
// time slot through. Each interface has its own factory, which holds at
// most one slot per time slot: a new slot replaces an older one.
//
// The factories are static objects (trunk0..trunk3, trunk_bri0..trunk_bri7)
// built before main, so they are the oldest in the registry and asked last.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class TrunkSlot : public Slot {
 public:
  explicit TrunkSlot(int channel) : channel(channel) {}

  int GetTrunk() override { return channel >> 5; }
  int GetTrunkTimeSlot() override { return GetTimeSlot(); }
  // Announces both streams active.
  void IAfterCreate() override;
  // Frees the time slot in its factory; always goes at once.
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "trunk"; }
  virtual int GetTimeSlot() { return channel & 31; }

 protected:
  int channel;
};

class TrunkBRISlot : public TrunkSlot {
 public:
  explicit TrunkBRISlot(int channel) : TrunkSlot(channel) {}

  int GetTrunk() override { return channel >> 2; }
  int GetTrunkTimeSlot() override { return GetTimeSlot(); }
  const char* GetName() const override { return "trunkBRI"; }
  int GetTimeSlot() override { return channel & 3; }
};

class TrunkFactory : public SlotFactory {
 public:
  TrunkFactory(unsigned trunk, unsigned base);

  const char* GetName() const override { return "Trunks"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
  // Clears the table entry of the slot's time slot.
  virtual void ReleaseTrunkSlot(TrunkSlot* slot);

  TrunkSlot* GetTimeSlotOwner(unsigned timeslot) const { return timeslot < 32 ? table[timeslot] : nullptr; }

 protected:
  // A slot on the time slot of these parameters when they name this
  // interface and a time slot below `limit`; an older slot on it goes.
  Slot* Take(LGCP::TrunkParams const& params, unsigned limit, bool bri);

  TrunkSlot* table[32];
  unsigned trunk;
  unsigned base;
};

class TrunkBRIFactory : public TrunkFactory {
 public:
  TrunkBRIFactory(unsigned trunk, unsigned base) : TrunkFactory(trunk, base) {}

  const char* GetName() const override { return "TrunksBRI"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void ReleaseTrunkSlot(TrunkSlot* slot) override;
};

extern TrunkFactory trunk0, trunk1, trunk2, trunk3;
extern TrunkBRIFactory trunk_bri0, trunk_bri1, trunk_bri2, trunk_bri3, trunk_bri4, trunk_bri5, trunk_bri6,
    trunk_bri7;
