#pragma once
// CtrlSrv::Server: the one object between the controller's connection and
// the control services (global `ctrlServer`). It decodes each received
// message as an LGCP::Message (aligned PER), offers a command to the bound
// services in bind order until one claims it, and sees that the command is
// answered: by the claiming service, or by itself with invalidSlot (slot
// above 1023), unexpectedMsgType (not a command, or no service claims it)
// or internal (claimed and left unanswered). A command gets at most one
// success and at most one error; an error may follow the success (a failure
// found after it). Answers and signals go back as one PER-encoded message
// per TPKT frame.
//
// A service may defer its answer: delayResponse gives a DelayedSeq that
// remembers the command's sequence number and whether it had one, and
// delayedSuccess answers later with exactly that.
#include "control/control_service.h"
#include "schema/lgcp/LGCP.h"

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace CtrlSrv {

class Service;

// The sequence number a deferred answer must carry: a command sent without
// one is answered without one.
struct DelayedSeq {
  bool present = false;
  std::uint32_t value = 0;
};

class Server : public Control::Notify {
 public:
  // Answer state of the command being handled.
  enum Answer { NotAnswered = 0, SuccessSent = 1, ErrorSent = 2, Deferred = 3 };

  Server() = default;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  // Drops a connection object still held, telling nobody.
  ~Server() override;

  // Appends the service to the bind order; services stay bound for good.
  void Bind(Service* s);
  // Takes over the connection object (an acceptor), names it "server" and
  // activates it; the result is the connection's own.
  int Activate(Control::Service* conn);
  // Stops listening, tells every service of the disconnect (whether or not a
  // controller was connected) and deletes the connection object.
  void Deactivate();

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(char const* data, int len) override;

  // Answers to the command being handled.
  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  DelayedSeq delayResponse();
  void delayedSuccess(unsigned int slot, DelayedSeq seq);

  // Signals carry no sequence number; the first form carries the slot of the
  // command being handled, if any.
  void SendSignal(LGCP::Signal const& sig);
  void SendSignal(unsigned int slot, LGCP::Signal const& sig);

  std::int32_t GetSlot() const { return slot; }
  bool IsSlotPresent() const { return slot != -1; }
  // False without a connection object; else tells whether a controller is
  // connected.
  bool CheckServerConnection(bool& connected) const;
  // Drops the current controller (heartbeat expiry).
  void OnHeartbeatTimeout();

  std::ostream& PutHeader(std::ostream& os) const;

  const std::vector<Service*>& services() const { return bound; }
  Control::Service* connection() const { return conn; }

 private:
  void Handle(LGCP::Message const& msg);
  void Respond(LGCP::Response const& response);
  void SendMsg(LGCP::Message const& msg);

  std::vector<Service*> bound;
  Control::Service* conn = nullptr;
  bool seqPresent = false;
  std::uint32_t seq = 0;
  std::int32_t slot = -1;
  int answer = NotAnswered;
};

}  // namespace CtrlSrv

extern CtrlSrv::Server ctrlServer;
