#include "control/protocols_list.h"

ProtocolsList::~ProtocolsList() {
  while (Protocol* p = remove_from_tail()) {
    p->owner = nullptr;
    delete p;
  }
}

void ProtocolsList::on_activated(Protocol*) {}

void ProtocolsList::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {}

void ProtocolsList::unlink(Protocol* p) {
  remove(p);
  p->owner = nullptr;
}

Protocol* ProtocolsList::add_protocol_head(Protocol* p) {
  if (p->owner) p->owner->unlink(p);
  insert_to_head(p);
  p->owner = this;
  return p;
}

Protocol* ProtocolsList::add_protocol_tail(Protocol* p) {
  if (p->owner) p->owner->unlink(p);
  insert_to_tail(p);
  p->owner = this;
  return p;
}

Protocol* ProtocolsList::search(const Protocol_name& name) const {
  for (Protocol* p = get_head(); p; p = p->get_next())
    if (p->compare_name(name)) return p;
  return nullptr;
}

void ProtocolsFamily::local_prepare_head(Packet& p) {
  if (Protocol* t = top()) t->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
  if (Protocol* t = top()) t->prepare_tail(p);
}

Smart_pointer<Internal_protocol_status> ProtocolsFamily::local_initialize() {
  if (Protocol* t = top()) return t->initialize();
  return Smart_pointer<Internal_protocol_status>(new Protocol_initialize_error(this));
}

void ProtocolsFamily::local_activate() {
  if (Protocol* t = top()) t->activate();
}

void ProtocolsFamily::local_deactivate() {
  if (Protocol* t = top()) t->deactivate();
}

int ProtocolsFamily::message(Packet& p) {
  if (Protocol* t = top()) return t->message(p);
  return 0;
}

int ProtocolsFamily::receive(Packet& p) {
  if (Protocol* b = bottom()) return b->receive(p);
  return 0;
}

void ProtocolsFamily::on_activated(Protocol* p) {
  if (p == top()) on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> status) {
  on_deactivate(status);
}
