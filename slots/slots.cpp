#include "slots/slots.h"

#include "platform/clock.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <iostream>

Slots& Slots::instance() {
  static Slots slots;
  return slots;
}

Slots::Slots() {
  for (auto& s : table) s = nullptr;
}

Slots::~Slots() = default;

Slot* Slots::Get(int number) const {
  if (number < 0 || number >= table_size) return nullptr;
  return table[number];
}

void Slots::OnConnect() {}

void Slots::OnDisconnect() {
  std::list<Slot*> pending;
  while (!live.empty()) {
    Slot* s = live.front();
    if (!s->releasing && Destroy(s)) continue;  // gone, and off the list
    live.erase(s->live);
    s->live = pending.insert(pending.end(), s);
  }
  // The slots with a pending release get one second to finish; nothing
  // else of the process runs meanwhile.
  platform::sleep_ms(1000);
  for (Slot* s : pending) {
    // Connected again while releasing, or still listed by its factory: no
    // slot and no factory may keep a pointer to it once it is deleted.
    Unlink(s);
    if (s->factory) s->factory->Remove(s);
    if (s->id >= 0 && s->id < table_size && table[s->id] == s) table[s->id] = nullptr;
    delete s;
  }
}

bool Slots::OnCommand(LGCP::Command const& cmd) {
  if (!IsSlotPresent()) {
    if (!cmd.query_isSelected()) return false;
    CmdQuery();
    return true;
  }
  const int number = GetSlot();
  if (cmd.connect_isSelected()) {
    CmdConnect(number, static_cast<int>(cmd.get_connect().getValue()));
  } else if (cmd.disconnect_isSelected()) {
    CmdDisconnect(number);
  } else if (cmd.create_isSelected()) {
    CmdCreate(number, cmd.get_create());
  } else if (cmd.destroy_isSelected()) {
    CmdDestroy(number);
  } else if (cmd.activate_isSelected()) {
    if (Slot* s = Get(number))
      Answer(s->IActivate(cmd.get_activate()), LGCP::ErrorCause::unsupported);
    else
      Error(LGCP::ErrorCause::slotNotExists);
  } else if (cmd.deactivate_isSelected()) {
    if (Slot* s = Get(number))
      Answer(s->IDeactivate(), LGCP::ErrorCause::unsupported);
    else
      Error(LGCP::ErrorCause::slotNotExists);
  } else if (cmd.userData_isSelected()) {
    if (Slot* s = Get(number))
      Answer(s->IUserData(cmd.get_userData()), LGCP::ErrorCause::unsupported);
    else
      Error(LGCP::ErrorCause::slotNotExists);
  } else if (cmd.ioctl_isSelected()) {
    if (Slot* s = Get(number))
      Answer(s->Ioctl(cmd.get_ioctl()), LGCP::ErrorCause::unsupported);
    else
      Error(LGCP::ErrorCause::slotNotExists);
  } else {
    return false;
  }
  return true;
}

void Slots::Answer(bool ok, LGCP::ErrorCause::NamedNumber cause) {
  if (ok)
    Success();
  else
    Error(cause);
}

void Slots::OnSignal(LGCP::Signal const& sig) {
  if (!sig.trunkStatus_isSelected()) return;
  for (SlotFactory* f = firstFactory; f; f = f->GetNext()) f->SelfSignal(sig);
}

void Slots::CmdQuery() {
  Success();
  UpdateHardwareResources();
}

void Slots::UpdateHardwareResources() {
  LGCP::Signal sig;
  LGCP::Resources& res = sig.select_query();
  res.set_boardMajor(0);
  res.set_boardMinor(0);
  res.set_rtp_g729(0);
  res.set_rtp_g723(0);
  res.set_rtp_g711(0);
  res.set_rtp_g711mcc(0);
  res.set_modem(0);
  res.set_mixer();
  res.set_mux(true);
  res.set_mcc_data(0);
  res.set_mcc_bri(0);
  res.set_mcc_trans(0);
  res.set_echoBus();
  res.set_t38_instances(0);
  res.set_digital_modems(0);
  res.set_lin16(0);
  res.set_universal(0);
  for (SlotFactory* f = firstFactory; f; f = f->GetNext()) f->Query(res);
  SendSignal(sig);
}

void Slots::CmdCreate(int number, LGCP::CreateParams const& params) {
  if (Slot* old = table[number]) {
    if (old->releasing) {
      Error(LGCP::ErrorCause::destroyInProgress);
      return;
    }
    Destroy(old);
    if (table[number]) {
      Error(LGCP::ErrorCause::slotIdBusy);
      return;
    }
  }
  Slot* slot = nullptr;
  for (SlotFactory* f = firstFactory; f && !slot; f = f->GetNext()) slot = f->NewSlot(params);
  if (!slot) {
    Error(LGCP::ErrorCause::insufficientResources);
    return;
  }
  // A factory may have removed an older slot holding what the new one
  // needs; the number itself is free (checked above).
  slot->id = number;
  slot->live = live.insert(live.end(), slot);
  table[number] = slot;
  Success();
  slot->IAfterCreate();
}

void Slots::CmdConnect(int number, int target) {
  if (target >= table_size) {
    Error(LGCP::ErrorCause::invalidSlot);
    return;
  }
  Slot* source = Get(number);
  Slot* receiver = Get(target);
  if (!source || !receiver) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  Answer(Connect(source, receiver), LGCP::ErrorCause::connectFail);
}

void Slots::CmdDisconnect(int number) {
  Slot* s = Get(number);
  if (!s) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  Answer(Disconnect(s), LGCP::ErrorCause::disconnectFail);
}

void Slots::CmdDestroy(int number) {
  Slot* s = Get(number);
  if (!s) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  if (s->releasing) {
    Error(LGCP::ErrorCause::destroyInProgress);
    return;
  }
  if (Destroy(s)) {
    Success();
    return;
  }
  s->releaseSeq = delayResponse();
  s->releaseAwaited = true;
}

void Slots::Unlink(Slot* slot) {
  Disconnect(slot);
  const std::size_t n = slot->receivers.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (slot->receivers.empty()) {
      std::cerr << "mux internal error: expected slots not exists." << std::endl;
      break;
    }
    Disconnect(slot->receivers.front());
  }
  if (!slot->receivers.empty()) std::cerr << "mux internal error: unexpected slots exists." << std::endl;
}

bool Slots::Destroy(Slot* slot) {
  Unlink(slot);
  slot->releasing = true;
  if (!slot->BeforeDestroy()) return false;
  int_destroy(slot);
  return true;
}

void Slots::on_release(Slot* slot) {
  // Only a destroy command waits for an answer; the release of an old slot
  // behind a slotIdBusy answers nothing.
  if (slot->releaseAwaited && slot->id >= 0) delayedSuccess(static_cast<unsigned>(slot->id), slot->releaseSeq);
  // A releasing slot still takes connections; they go before the slot does.
  Unlink(slot);
  int_destroy(slot);
}

void Slots::int_destroy(Slot* slot) {
  if (slot->id >= 0 && slot->id < table_size && table[slot->id] == slot) {
    live.erase(slot->live);
    table[slot->id] = nullptr;
  }
  delete slot;
}
