#pragma once
// Control::Service: one message connection of the control link: a stack of
// the stream-socket layer under the TPKT layer, a connection state and one
// owner (Control::Notify) told of connect, disconnect and each whole message.
// Subclasses open the sockets (by listening or by connecting) and hand each
// connected socket to Connected.
//
// The end of a connection (socket error, end of file, write time-out,
// Disconnect) takes the stack down at once, but the owner hears OnDisconnect
// only from the event loop's deferred-call pass, never from inside a socket
// callback.
#include "control/protocols_list.h"
#include "runtime/dpc.h"
#include "runtime/fd.h"
#include "runtime/inet4_addr.h"

#include <cstdint>
#include <iosfwd>
#include <string>

class Event;
class Measure;
class StrmProtocol;

namespace Control {

class Notify {
 public:
  virtual ~Notify();
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // One whole message: its bytes and length.
  virtual void OnMessage(char const* data, int len) = 0;
};

class Service : private ProtocolsFamily {
 public:
  struct State {
    // Fixed to int, so a value outside the names is still one of the type's
    // and the text falls back to "Unknown" instead of undefined behaviour.
    enum Type : int { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
  };

  Service();
  ~Service() override;

  void Bind(Notify* n) { owner = n; }
  void UnBind() { owner = nullptr; }

  const std::string& service_name() const;
  void service_name(const std::string& name);

  // Deactivate, then "Connecting" and ImplActivate; back to "Idle" when that
  // fails. Returns what ImplActivate returned.
  int Activate();
  // Stops for good; the owner is not told.
  void Deactivate();
  // Drops the current connection; the owner hears OnDisconnect later.
  void Disconnect();
  // Sends one message as one frame while "Connected"; dropped otherwise.
  void Send(char const* data, int len);

  State::Type GetState() const { return state; }
  bool IsConnected() const { return state == State::Connected; }
  const std::string& GetAddr() const { return peer; }

  std::uint32_t GetOverflowCounter() const;
  const Measure& get_read_measure() const;
  const Measure& get_write_measure() const;
  // Closes the stream layer's socket without any report.
  void Release();

  void OnDeactivateDPC();

 protected:
  // Attach a connected, non-blocking socket and start the stack (in every
  // state but "Deactivating").
  void Connect(Fd fd, const std::string& peer_name);

  virtual int ImplActivate() = 0;
  virtual void ImplDeactivate() = 0;
  virtual void ImplOnDisconnect() = 0;

  bool log_enabled() const { return log; }
  void set_log(bool on) { log = on; }

  // For the acceptors. Listens on a bound socket (backlog 1), non-blocking,
  // and arms the accept event on it. A failed listen, or an accept event
  // that cannot be armed, is logged, closes the socket and returns false:
  // the caller retries on its bind-retry schedule. A socket that cannot be
  // made non-blocking is logged and stops the connection (Deactivate).
  bool Listen(Fd& sock, Event& accept_event);
  // For the acceptors: what becomes of a socket just accepted from `peer`
  // (logged): taken as the new peer, refused because a peer is connected,
  // or dropped because it cannot be made non-blocking.
  enum class Admission { Take, Refuse, Drop };
  Admission Admit(Fd& conn, const std::string& peer);

 private:
  int on_message(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> status) override;

  std::string peer;
  bool log = true;
  State::Type state = State::Idle;
  Notify* owner = nullptr;
  StrmProtocol* strm;
  Dpc disconnect_call;
  // The owner was told OnConnect of the current peer (and so is owed an
  // OnDisconnect).
  bool announced = false;
  // Inside Connect's activation of the stack, and why it went down there.
  bool activating = false;
  std::string failure;
};

const char* GetTextNotation(Service::State::Type state);
std::ostream& operator<<(std::ostream& os, Service::State::Type state);

// The TCP form: keepalive and no Nagle on each connection, the peer address.
class ServiceNet : public Service {
 public:
  void Connected(Fd fd, const INet4::Addr& addr);
  const INet4::Addr& GetPeerAddr() const { return peer_addr; }

 private:
  INet4::Addr peer_addr;
};

// The Unix-domain form: the peer is named by a text.
class ServiceUnix : public Service {
 public:
  void Connected(Fd fd, const std::string& name);
};

}  // namespace Control
