#include "slots/map.h"

#include "slots/hw_mux.h"
#include "slots/slots.h"

#include <iostream>

namespace {

int GetMapTimeSlot(LGCP::SharedChannel const& ch) {
  return 8192 + static_cast<int>(ch.get_bus().getValue()) * 128 + static_cast<int>(ch.get_channel().getValue());
}

}  // namespace

void MapSlot::IAfterCreate() {
  if (IsRxExists()) OnChangeInputStream(true);
  if (IsTxExists()) OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy() {
  if (auto* f = dynamic_cast<MapFactory*>(GetSlotFactory())) f->ReleaseMapSlot(this);
  return true;
}

MapFactory& MapFactory::instance() {
  static MapFactory factory;
  return factory;
}

MapFactory::MapFactory() : table() {}

Slot* MapFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.map_isSelected()) return nullptr;
  const LGCP::MapParams& p = params.get_map();
  const int tx = p.transmitter_isPresent() ? GetMapTimeSlot(p.get_transmitter()) : -1;
  const int rx = p.receiver_isPresent() ? GetMapTimeSlot(p.get_receiver()) : -1;
  MapSlot* slot = new MapSlot(tx, rx);
  AllocateMapSlot(slot);
  return slot;
}

void MapFactory::Claim(MapSlot* slot, int index) {
  MapSlot* old = table[index];
  // A slot whose two directions name one channel holds its entry once.
  if (old && old != slot) {
    std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl;
    std::cerr << "new slot " << *slot << " <-> old slot " << *old << std::endl;
    Slots::instance().Destroy(old);
  }
  table[index] = slot;
}

void MapFactory::AllocateMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) Claim(slot, slot->GetRxLogChannel());
  if (slot->IsTxExists()) Claim(slot, slot->GetTxLogChannel());
}

void MapFactory::ReleaseMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) {
    const int index = slot->GetRxLogChannel();
    std::clog << "map: disable map channel " << index << std::endl;
    const int rx = slot->IGetReceiveChannel();
    if (!ReceiveLineHeldByOther(slot, rx)) HwMux::instance().Disable(rx);
    if (table[index] != slot) std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
    table[index] = nullptr;
  }
  if (slot->IsTxExists() && !(slot->IsRxExists() && slot->GetTxLogChannel() == slot->GetRxLogChannel())) {
    const int index = slot->GetTxLogChannel();
    if (table[index] != slot) std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
    table[index] = nullptr;
  }
}
