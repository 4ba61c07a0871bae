#include "slots/trunk.h"

#include "slots/slots.h"

#include <iostream>

// Built in this order before main; each goes to the head of the registry.
TrunkFactory trunk0(0, 0);
TrunkFactory trunk1(1, 32);
TrunkFactory trunk2(2, 64);
TrunkFactory trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0);
TrunkBRIFactory trunk_bri1(1, 4);
TrunkBRIFactory trunk_bri2(2, 8);
TrunkBRIFactory trunk_bri3(3, 12);
TrunkBRIFactory trunk_bri4(4, 16);
TrunkBRIFactory trunk_bri5(5, 20);
TrunkBRIFactory trunk_bri6(6, 24);
TrunkBRIFactory trunk_bri7(7, 28);

void TrunkSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy() {
  if (auto* f = dynamic_cast<TrunkFactory*>(GetSlotFactory())) f->ReleaseTrunkSlot(this);
  return true;
}

TrunkFactory::TrunkFactory(unsigned trunk, unsigned base) : table(), trunk(trunk), base(base) {}

Slot* TrunkFactory::Take(LGCP::TrunkParams const& params, unsigned limit, bool bri) {
  const unsigned ts = params.get_timeslot().getValue();
  if (params.get_trunk().getValue() != trunk || ts >= limit) return nullptr;
  if (TrunkSlot* old = table[ts]) {
    std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl;
    std::cerr << " old slot " << *old << std::endl;
    Slots::instance().Destroy(old);
    table[ts] = nullptr;  // the old slot's release clears it; never left stale
  }
  const int channel = static_cast<int>(base + ts);
  TrunkSlot* slot = bri ? new TrunkBRISlot(channel) : new TrunkSlot(channel);
  table[ts] = slot;
  return slot;
}

Slot* TrunkFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.trunk_isSelected()) return nullptr;
  return Take(params.get_trunk(), 32, false);
}

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
  const int ts = slot->GetTimeSlot();
  if (ts >= 0 && ts < 32 && table[ts] == slot) table[ts] = nullptr;
}

Slot* TrunkBRIFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.trunk_bri_isSelected()) return nullptr;
  return Take(params.get_trunk_bri(), 4, true);
}

void TrunkBRIFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
  const int ts = slot->GetTimeSlot();
  if (ts >= 0 && ts < 4 && table[ts] == slot) table[ts] = nullptr;
}
