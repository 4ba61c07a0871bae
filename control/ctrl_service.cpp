#include "control/ctrl_service.h"

#include <iostream>

namespace CtrlSrv {

Service::~Service() = default;

void Service::OnSignal(LGCP::Signal const&) {}

bool Service::bound() {
  if (srv) return true;
  std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
  return false;
}

void Service::Success() {
  if (bound()) srv->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (bound()) srv->Error(cause);
}

DelayedSeq Service::delayResponse() {
  if (bound()) return srv->delayResponse();
  DelayedSeq none;
  none.value = 0xFFFFFFFFu;
  return none;
}

void Service::delayedSuccess(unsigned int slot, DelayedSeq seq) {
  if (bound()) srv->delayedSuccess(slot, seq);
}

void Service::OfferSignal(LGCP::Signal const& sig) {
  for (Service* s : srv->services())
    if (s != this) s->OnSignal(sig);
}

void Service::SendSignal(LGCP::Signal const& sig) {
  if (!bound()) return;
  OfferSignal(sig);
  srv->SendSignal(sig);
}

void Service::SendSignal(unsigned int slot, LGCP::Signal const& sig) {
  if (!bound()) return;
  OfferSignal(sig);
  srv->SendSignal(slot, sig);
}

std::int32_t Service::GetSlot() {
  if (!bound()) return -1;
  return srv->GetSlot();
}

bool Service::IsSlotPresent() {
  if (!bound()) return false;
  return srv->IsSlotPresent();
}

bool Service::CheckServerConnection(bool& connected) const {
  return srv && srv->CheckServerConnection(connected);
}

}  // namespace CtrlSrv
