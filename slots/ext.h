#pragma once
// External and echo slots: plain channel slots. An external slot names a
// transmit and a receive channel on the shared buses by their index (its
// receive side is usable only between activate and deactivate); an echo
// slot names a channel of an echo-canceller bus.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class ExtSlot : public Slot {
 public:
  ExtSlot(int tx, int rx) : tx(tx), rx(rx) {}

  // Announces the transmit stream; the receive side stays closed.
  void IAfterCreate() override;
  // Disables the receive channel; always goes at once.
  bool IBeforeDestroy() override;
  // Opens the receive side: announced active, idle byte on the channel.
  bool IActivate(TERM::TermActivateParams const& params) override;
  // Closes it again: announced inactive (the source goes), disabled.
  bool IDeactivate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return GetInputStream(); }
  int IGetTransmitChannel() override { return tx; }
  int IGetReceiveChannel() override { return rx; }
  const char* GetName() const override { return "bri"; }

 private:
  int tx;
  int rx;
};

class ExtFactory : public SlotFactory {
 public:
  static ExtFactory& instance();

  const char* GetName() const override { return "Ext"; }
  // Any `ext` whose two indexes name shared-bus channels (0..2047); two
  // slots may name the same channels.
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}

 private:
  ExtFactory() = default;
};

class EchoSlot : public Slot {
 public:
  explicit EchoSlot(int channel) : channel(channel) {}

  void IAfterCreate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "echo"; }

 private:
  int channel;
};

class EchoFactory : public SlotFactory {
 public:
  static constexpr unsigned buses = 16;

  static EchoFactory& instance();

  const char* GetName() const override { return "Echo"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  // Lists the present echo-canceller buses in `echoBus`.
  void Query(LGCP::Resources& res) override;
  // Looks for echo-canceller buses. The board offers no way to detect them,
  // so none is marked.
  void Scan();

  void SetBusPresent(unsigned bus, bool present) {
    if (bus < buses) bus_present[bus] = present;
  }

 private:
  EchoFactory();
  bool bus_present[buses];
};
