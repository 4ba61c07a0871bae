#pragma once
// Test-only slot kinds for the framework's unit tests, made by a factory
// that takes the `echo` alternative: `bus` picks the kind, `channel` is the
// slot's transmit and receive channel on the cross-connect.
//
//   bus 0  plain: streams granted, released at once
//   bus 1  pending: IBeforeDestroy says "later"; the test calls on_release
//   bus 2  priority 1: does the hardware work of its connections
//   bus 3  refusing: refuses both streams
//
// Every hook writes a line to the journal ("07:probe out-stream", ...).
#include "platform/clock.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <cstdint>
#include <sstream>
#include <utility>
#include <string>
#include <vector>

namespace slotstest {

inline std::vector<std::string>& journal() {
  static std::vector<std::string> j;
  return j;
}

// Deletions with the process clock in milliseconds.
inline std::vector<std::pair<std::string, std::int64_t>>& deletions() {
  static std::vector<std::pair<std::string, std::int64_t>> d;
  return d;
}

class ProbeSlot : public Slot {
 public:
  ProbeSlot(int kind, int channel) : kind_(kind), channel_(channel) {}
  ~ProbeSlot() override {
    std::ostringstream os;
    os << *this;
    struct timeval tv;
    platform::gettimeofday(&tv);
    deletions().emplace_back(os.str(), std::int64_t(tv.tv_sec) * 1000 + tv.tv_usec / 1000);
  }
  // Gives the slot a number as the Slots service would (for printing).
  void set_id(int n) { id = n; }

  void IAfterCreate() override { note("after-create"); }
  bool IBeforeDestroy() override {
    note("before-destroy");
    return kind_ != 1;
  }
  bool IActivate(TERM::TermActivateParams const&) override { return true; }
  int GetConnectionPriority() override { return kind_ == 2 ? 1 : 0; }
  bool IHwConnectTransmitter(Slot* r) override {
    note("hw-connect-transmitter");
    return Slot::IHwConnectTransmitter(r);
  }
  bool IHwConnectReceiver(Slot* s) override {
    note("hw-connect-receiver");
    return Slot::IHwConnectReceiver(s);
  }
  bool IHwDisconnectTransmitter(Slot* r) override {
    note("hw-disconnect-transmitter");
    return Slot::IHwDisconnectTransmitter(r);
  }
  bool IHwDisconnectReceiver(Slot* s) override {
    note("hw-disconnect-receiver");
    return Slot::IHwDisconnectReceiver(s);
  }
  bool IOnOutputStream() override {
    note("out-stream");
    return kind_ != 3;
  }
  bool IOnInputStream() override {
    note("in-stream");
    return kind_ != 3;
  }
  void IOnOutputRelease() override { note("out-release"); }
  void IOnInputRelease() override { note("in-release"); }
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override { return "probe"; }

 private:
  void note(const std::string& what) {
    std::ostringstream os;
    os << *this << " " << what;
    journal().push_back(os.str());
  }
  int kind_;
  int channel_;
};

class ProbeFactory : public SlotFactory {
 public:
  static ProbeFactory& instance() {
    static ProbeFactory f;
    return f;
  }
  const char* GetName() const override { return "Probe"; }
  Slot* INewSlot(LGCP::CreateParams const& p) override {
    if (!p.echo_isSelected()) return nullptr;
    return new ProbeSlot(p.get_echo().get_bus().getValue(), p.get_echo().get_channel().getValue());
  }
  void Query(LGCP::Resources&) override {}
  void SelfSignal(LGCP::Signal const& sig) override {
    journal().push_back(std::string("factory ") + sig.getSelectionName());
  }
};

}  // namespace slotstest
