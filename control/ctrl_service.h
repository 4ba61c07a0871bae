#pragma once
// CtrlSrv::Service: base of the control services. A service is bound to the
// control server once, hears of every controller connect and disconnect, is
// offered each command in bind order (OnCommand returns true to claim it and
// then answers it, now or later) and sees the signals of the other services
// before the controller does.
#include "control/ctrl_server.h"

#include <cstdint>

namespace CtrlSrv {

class Service {
 public:
  Service() = default;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  virtual ~Service();

  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  virtual bool OnCommand(LGCP::Command const& cmd) = 0;
  // A signal sent by another bound service.
  virtual void OnSignal(LGCP::Signal const& sig);

  // Each of these, on a service that is not bound, logs the fault and does
  // nothing (GetSlot gives -1, IsSlotPresent false, delayResponse a
  // sequence number that is absent).
  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  DelayedSeq delayResponse();
  void delayedSuccess(unsigned int slot, DelayedSeq seq);
  // Offer the signal to the other services, then send it to the controller.
  void SendSignal(LGCP::Signal const& sig);
  void SendSignal(unsigned int slot, LGCP::Signal const& sig);
  std::int32_t GetSlot();
  bool IsSlotPresent();
  // False when unbound (without a line) or when the server holds no
  // connection object.
  bool CheckServerConnection(bool& connected) const;

  Server* server() const { return srv; }

 private:
  friend class Server;
  bool bound();
  void OfferSignal(LGCP::Signal const& sig);

  Server* srv = nullptr;
};

}  // namespace CtrlSrv
