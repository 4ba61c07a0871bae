#pragma once
// Map slots: a handle on one or two channels of the shared buses of the
// cross-connect (16 buses of 128 channels, 8192..10239). The transmit
// channel feeds other slots, the receive channel is fed by the slot's
// source. Each shared-bus channel belongs to at most one map slot: a new
// slot takes a channel away from an older one by destroying it.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class MapSlot : public Slot {
 public:
  MapSlot(int tx, int rx) : tx(tx), rx(rx) {}

  // Announces the receive stream, then the transmit stream, as far as the
  // slot has them.
  void IAfterCreate() override;
  // Gives the channels back; always goes at once.
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return tx >= 0; }
  bool IOnInputStream() override { return rx >= 0; }
  int IGetTransmitChannel() override { return tx; }
  int IGetReceiveChannel() override { return rx; }
  const char* GetName() const override { return "map"; }

  bool IsTxExists() const { return tx >= 0; }
  bool IsRxExists() const { return rx >= 0; }
  int GetTxLogChannel() const { return tx - 8192; }
  int GetRxLogChannel() const { return rx - 8192; }

 private:
  int tx;
  int rx;
};

class MapFactory : public SlotFactory {
 public:
  static constexpr int channels = 2048;

  static MapFactory& instance();

  const char* GetName() const override { return "Map"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}

  void AllocateMapSlot(MapSlot* slot);
  void ReleaseMapSlot(MapSlot* slot);

  // The slot holding a shared-bus channel index (0..2047), null when free.
  MapSlot* GetOwner(int index) const { return index >= 0 && index < channels ? table[index] : nullptr; }

 private:
  MapFactory();
  // Takes the table entry for the slot, destroying an older holder.
  void Claim(MapSlot* slot, int index);

  MapSlot* table[channels];
};
