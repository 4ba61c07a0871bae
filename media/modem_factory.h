#pragma once
// ModemFactory: the factory of modem calls (DSP modems behind "/dev/mctl"
// and digital-data calls on the point-to-point "hdlc%d" interfaces), and
// the local authentication link: a TCP listener on 127.0.0.1:52000 where
// the authentication program exchanges fixed-layout records with the
// modem slots, routed by session number (the slot's modem number).
#include "control/accept_guard.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/inet4_addr.h"
#include "runtime/packet_drops.h"
#include "runtime/timer.h"
#include "slots/slot_factory.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>

class ModemSlot;
class DspModemSlot;
class HdlcModemSlot;
class ModemFactory;

// Records of the authentication link: 32-bit words in host order, the
// total length, the type and the session first.
namespace auth_record {
constexpr std::uint32_t max_length = 512;
constexpr std::uint32_t min_length = 4;
constexpr std::uint32_t header_length = 12;
enum Type : std::int32_t { voauth = 1, accept = 2, ip = 3, voacct = 4 };
constexpr std::uint32_t voauth_length = 140;
constexpr std::uint32_t accept_length = 16;
constexpr std::uint32_t ip_length = 36;
constexpr std::uint32_t voacct_length = 64;

std::int32_t word(const unsigned char* rec, std::size_t offset);
void put_word(unsigned char* rec, std::size_t offset, std::int32_t value);
}  // namespace auth_record

// One accepted connection of the authentication program.
class AuthClient {
 public:
  AuthClient(Fd fd, const INet4::Addr& addr, ModemFactory* factory);
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;

  // Arms the connection's event; false when its descriptor could not be
  // copied (the process is out of descriptors).
  bool Activate();
  // True when the whole record was written; a failed or short write closes
  // the connection.
  bool Send(const unsigned char* rec);
  void OnSocketEvent(int fd, short revents);
  void OnDisconnect();
  void CheckDisconnect();

  const INet4::Addr& GetAddr() const { return addr; }
  std::int32_t GetSessionId() const { return session; }
  // When its last authentication request came, in the order of all
  // clients' requests; 0 before its first.
  std::uint64_t GetRecordOrder() const { return record_order; }
  bool is_connected() const { return fd.is_valid(); }

 private:
  // Defers the deletion of a client that is closed inside a nested call
  // until its outermost handler returns.
  struct RecursiveGuard {
    explicit RecursiveGuard(AuthClient* c) : c(c) { ++c->mRecursionLevel; }
    ~RecursiveGuard() {
      if (--c->mRecursionLevel == 0) c->CheckDisconnect();
    }
    AuthClient* c;
  };

  Event event;
  Fd fd;
  INet4::Addr addr;
  std::int32_t mRecursionLevel = 0;
  unsigned char buffer[auth_record::max_length];
  std::size_t rpos = 0;
  std::size_t end = auth_record::min_length;
  ModemFactory* factory;
  std::int32_t session = -1;
  std::uint64_t record_order = 0;
};

class ModemFactory : public SlotFactory {
 public:
  static constexpr unsigned short auth_port = 52000;
  // A failed bind is tried again on the control link's schedule.
  static constexpr unsigned int bind_retry_ms = 5000;
  // Each client holds a descriptor for as long as it stays connected; this
  // is well above the calls the board can carry at once. A connection past
  // it is closed at once.
  static constexpr std::size_t max_auth_clients = 256;
  // A modem serves one slot: more than there are slots is a driver that
  // does not end its enumeration, which must not hold the process.
  static constexpr std::int32_t max_modems = 1024;

  static ModemFactory& instance();
  ~ModemFactory() override;

  const char* GetName() const override { return "Modem"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& res) override;

  void ReleaseModemSlot(DspModemSlot* slot);
  void ReleaseModemSlot(HdlcModemSlot* slot);
  void SendAuth(const unsigned char* rec);
  void OnAuth(const unsigned char* rec);
  void OnAuthSocketDisconnect(AuthClient* client);
  void OnSocketEvent(int fd, short revents);

  void PutHeader(std::ostream& os) const;
  int GetModemCount() const { return modemDevices; }
  const std::list<std::string>& GetFreeHdlc() const { return hdlcFree; }
  const std::list<AuthClient*>& GetClients() const { return clients; }
  // Authentication connections closed because max_auth_clients were open.
  std::uint32_t GetRefusedClients() const { return refused.count(); }
  bool is_listening() const { return listener.is_valid(); }

 private:
  ModemFactory();
  void IQuery();
  void update_modemDevices();
  void update_hdlcDevices();
  // Listens on the authentication port; without a socket, the port or a
  // watched listener it tries again after bind_retry_ms.
  bool Init();
  void RetryInit();

  std::list<HdlcModemSlot*> hdlcSlots;
  // Every live slot, oldest first (authentication records go to the first
  // with their session).
  std::list<ModemSlot*> allSlots;
  std::int32_t modemDevices = 0;
  Fd listener;
  Event event;
  // Out of descriptors, pending connections are dropped, not spun on.
  Control::AcceptGuard guard{event};
  std::list<AuthClient*> clients;
  std::list<std::string> hdlcFree;
  Timer bindTimer;
  // Counted and logged as dropped packets are (its pool is not used).
  PacketDrops refused;
};
