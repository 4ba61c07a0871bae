#pragma once
// ISDN::LAPD_NT: the network side of a basic-rate point-to-multipoint D
// channel (Q.921) towards up to eight terminals. It hands out and checks
// TEIs, keeps one multiple-frame link per terminal (ISDN::LAPD_NT_user),
// passes every layer-3 message from the terminals up unchanged and routes
// the controller's messages: a SETUP is broadcast, anything else goes to the
// first terminal (in user order) whose last call reference it carries. It is
// a layer of a protocol stack: frames leave through Protocol::transmit and
// arrive by `receive`.
#include "control/protocol.h"
#include "runtime/clean_queue.h"
#include "runtime/timer.h"

#include <cstdint>
#include <iosfwd>

namespace ISDN {

class LAPD_NT;

class LAPD_NT_user {
 public:
  enum State : std::int32_t { unassigned = 0, assigned = 1, wait_answer = 2 };

  static constexpr unsigned T200_ms = 1000;
  static constexpr unsigned T203_ms = 10000;
  static constexpr unsigned check_ms = 2000;
  static constexpr int N200 = 3;
  static constexpr std::uint32_t held_limit = 128;

  LAPD_NT_user() = default;
  LAPD_NT_user(const LAPD_NT_user&) = delete;
  LAPD_NT_user& operator=(const LAPD_NT_user&) = delete;
  ~LAPD_NT_user();

  void set_lapd(LAPD_NT* owner) { owner_ = owner; }
  void set_log(unsigned level) { log_ = level; }
  void set_Tei(std::uint8_t tei) { tei_ = tei; }
  std::uint8_t get_Tei() const { return tei_; }
  bool is_assigned() const { return state_ != unassigned; }
  bool is_check() const { return check_; }

  void assign();
  void unassign();
  void checking();
  // The frame after the address; command tells the C/R rule's verdict.
  void receive(Packet& p, bool command);
  // Takes a layer-3 message for its call reference; false when not its own.
  bool message(Packet& p);

  // Read access for the manager and tests.
  State state() const { return state_; }
  bool busy() const { return busy_; }
  std::uint8_t callref() const { return callref_; }
  std::uint16_t check_ref() const { return check_ri_; }
  // Whether a check response was accepted from this terminal: Ri 0 is a
  // reference like any other, not "none".
  bool has_check_ref() const { return check_ri_seen_; }
  void set_check_ref(std::uint16_t ri) {
    check_ri_ = ri;
    check_ri_seen_ = true;
  }
  std::uint32_t held() const { return out_.count(); }
  std::uint32_t unacknowledged() const { return ack_.count(); }
  int retries() const { return retry_; }
  std::uint8_t va() const { return va_; }
  std::uint8_t vs() const { return vs_; }

  std::ostream& PutHeader(std::ostream& os) const;

 private:
  std::ostream& log() const;
  void tx_U(std::uint8_t control, bool command, bool pf);
  void tx_S(std::uint8_t control, bool command, bool pf);
  void tx_I(Packet& msg);
  void send(Packet& frame);

  void on_SABME(bool pf);
  void on_DISC(bool pf);
  void on_DM();
  void on_FRMR();
  void on_XID();
  void on_RR(bool command, bool pf, std::uint8_t nr);
  void on_RNR(bool command, bool pf, std::uint8_t nr);
  void on_REJ(bool command, bool pf, std::uint8_t nr);
  // What every supervisory frame does first: a poll is answered, then N(R)
  // acknowledges; false when it is out of range (the terminal is dropped).
  bool acknowledged(bool command, bool pf, std::uint8_t nr);
  void on_I(Packet& p, bool pf, std::uint8_t ns, std::uint8_t nr);

  bool ack_queue(std::uint8_t nr);
  void retransmit();
  void set_busy();
  void set_unbusy();
  void send_held();
  void settle();
  void start_T200();
  void start_T203();
  void on_timer();

  bool check_ = false;
  LAPD_NT* owner_ = nullptr;
  std::uint8_t vr_ = 0;
  std::uint8_t va_ = 0;
  std::uint8_t vs_ = 0;
  std::uint8_t tei_ = 0;
  State state_ = unassigned;
  Timer link_timer_;
  Timer check_timer_;
  int retry_ = 0;
  std::uint8_t callref_ = 0;
  // Whether this terminal has sent a call reference at all: 0 is a call
  // reference of its own (the global one), not "none".
  bool callref_seen_ = false;
  bool busy_ = false;
  unsigned log_ = 0;
  CleanQueue<Packet, 135> out_;
  CleanQueue<Packet, 7> ack_;
  std::uint16_t check_ri_ = 0;
  bool check_ri_seen_ = false;
};

class LAPD_NT : public Protocol {
 public:
  static constexpr unsigned users = 8;
  static constexpr unsigned check_period_ms = 60000;
  static constexpr std::uint32_t header_room = 4;

  LAPD_NT();
  ~LAPD_NT() override;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  int message(Packet& p) override;
  int receive(Packet& p) override;

  void set_log(unsigned level);
  unsigned log_level() const { return log_; }

  // For the users: frames down, messages up.
  void send_to_layer1(Packet& frame);
  void send_to_layer3(Packet& msg);
  // A new frame with room for the layers below.
  bool new_frame(Packet& p);

  const LAPD_NT_user& user(unsigned i) const { return users_[i]; }
  // The user holding an assigned TEI, or null.
  const LAPD_NT_user* find(std::uint8_t tei) const;

  std::ostream& PutHeader(std::ostream& os) const;

 private:
  std::ostream& log() const;
  LAPD_NT_user* find_Tei(std::uint8_t tei);
  LAPD_NT_user* find_free_Tei(std::uint8_t tei);
  void on_tei_procedure(Packet& p);
  void tx_identity(std::uint16_t ri, std::uint8_t ai, std::uint8_t type);
  void remove_twice(std::uint8_t ai);
  void check_all_Tei();

  Timer check_timer_;
  LAPD_NT_user users_[users];
  unsigned log_ = 0;
};

}  // namespace ISDN
