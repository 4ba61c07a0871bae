#include "slots/ext.h"

#include "slots/hw_mux.h"

#include <iostream>

void ExtSlot::IAfterCreate() { OnChangeOutputStream(true); }

bool ExtSlot::IBeforeDestroy() {
  if (!ReceiveLineHeldByOther(this, rx)) HwMux::instance().Disable(rx);
  return true;
}

bool ExtSlot::IActivate(TERM::TermActivateParams const&) {
  // Already open: the idle byte would silence a source still switched to it.
  if (GetInputStream()) return true;
  // A receive channel the switch could not drive stays closed: the
  // activation is refused, not announced.
  if (!ReceiveLineHeldByOther(this, rx) && !HwMux::instance().Disconnect(rx)) return false;
  OnChangeInputStream(true);
  return true;
}

bool ExtSlot::IDeactivate() {
  OnChangeInputStream(false);
  if (!ReceiveLineHeldByOther(this, rx)) HwMux::instance().Disable(rx);
  return true;
}

ExtFactory& ExtFactory::instance() {
  static ExtFactory factory;
  return factory;
}

Slot* ExtFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.ext_isSelected()) return nullptr;
  const int tx = params.get_ext().get_transmitter().getValue();
  const int rx = params.get_ext().get_receiver().getValue();
  // Only the shared buses are theirs: any other index would reach channels
  // of other kinds (or none) unchecked.
  if (tx < 0 || tx > 2047 || rx < 0 || rx > 2047) return nullptr;
  return new ExtSlot(tx + 8192, rx + 8192);
}

void EchoSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

EchoFactory& EchoFactory::instance() {
  static EchoFactory factory;
  return factory;
}

EchoFactory::EchoFactory() { Scan(); }

void EchoFactory::Scan() {
  for (auto& b : bus_present) b = false;
  std::clog << "Scanning echo channels ..." << std::endl;
}

Slot* EchoFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.echo_isSelected()) return nullptr;
  const unsigned bus = static_cast<unsigned>(params.get_echo().get_bus().getValue());
  const int channel = params.get_echo().get_channel().getValue();
  // A bus has 32 channels: any other number would name a channel of the
  // next bus, or overflow the sum.
  if (bus >= buses || !bus_present[bus] || channel < 0 || channel >= 32) return nullptr;
  return new EchoSlot(static_cast<int>(bus) * 32 + channel);
}

void EchoFactory::Query(LGCP::Resources& res) {
  for (unsigned b = 0; b < buses; ++b)
    if (bus_present[b]) res.ref_echoBus().push_back(ASN1::INTEGER(static_cast<int>(b)));
}
