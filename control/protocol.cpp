#include "control/protocol.h"

#include "control/protocols_list.h"

Protocol::~Protocol() {
  if (owner) owner->unlink(this);
}

void Protocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void Protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

Smart_pointer<Internal_protocol_status> Protocol::local_initialize() {
  return Smart_pointer<Internal_protocol_status>(new Protocol_status_success(this, "success"));
}

void Protocol::local_activate() { on_activate(); }

void Protocol::local_deactivate() {
  on_deactivate(Smart_pointer<Internal_protocol_status>(new Protocol_status_success(this, "success")));
}

int Protocol::transmit(Packet& p) {
  if (Protocol* below = lower()) return below->message(p);
  if (owner) return owner->transmit(p);
  return 0;
}

int Protocol::on_message(Packet& p) {
  if (Protocol* above = upper()) return above->receive(p);
  if (owner) return owner->on_message(p);
  return 0;
}

void Protocol::on_activate() {
  if (Protocol* above = upper())
    above->local_activate();
  else if (owner)
    owner->on_activated(this);
}

void Protocol::on_deactivate(Smart_pointer<Internal_protocol_status> status) {
  if (status->success()) {
    // An orderly stop goes on downward and is reported by the bottom layer.
    if (Protocol* below = lower())
      below->deactivate();
    else if (owner)
      owner->on_deactivated(this, status);
  } else {
    // A failure climbs to the top and is reported there.
    if (Protocol* above = upper())
      above->on_deactivate(status);
    else if (owner)
      owner->on_deactivated(this, status);
  }
}

void Protocol::on_status(Smart_pointer<Internal_protocol_status> status) {
  if (Protocol* above = upper())
    above->on_status(status);
  else if (owner)
    owner->on_status(status);
}

int Protocol::message(Packet&) { return 0; }

int Protocol::receive(Packet&) { return 0; }

void Protocol::activate() {
  if (Protocol* below = lower())
    below->activate();
  else
    local_activate();
}

void Protocol::deactivate() { local_deactivate(); }

void Protocol::protocol_info(std::ostream&) const {}

void Protocol::descend_prepare_head(Packet& p) {
  if (Protocol* below = lower()) below->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
  if (Protocol* below = lower()) below->prepare_tail(p);
}

void Protocol::prepare_head(Packet& p) {
  descend_prepare_head(p);
  local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
  descend_prepare_tail(p);
  local_prepare_tail(p);
}

Smart_pointer<Internal_protocol_status> Protocol::initialize() {
  if (Protocol* below = lower()) {
    Smart_pointer<Internal_protocol_status> s = below->initialize();
    if (!s->success()) return s;
  }
  return local_initialize();
}
