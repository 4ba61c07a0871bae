#include "slots/slot_factory.h"

#include "slots/slot.h"

#include <algorithm>

// Constant-initialised, so factories built as static objects in other files
// find it ready whatever the order of initialisation.
SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : next(firstFactory) { firstFactory = this; }

SlotFactory::~SlotFactory() = default;

void SlotFactory::SelfSignal(LGCP::Signal const&) {}

Slot* SlotFactory::NewSlot(LGCP::CreateParams const& params) {
  Slot* slot = INewSlot(params);
  if (!slot) return nullptr;
  slot->factory = this;
  slots.push_back(slot);
  return slot;
}

void SlotFactory::Remove(Slot* slot) { slots.erase(std::remove(slots.begin(), slots.end(), slot), slots.end()); }
