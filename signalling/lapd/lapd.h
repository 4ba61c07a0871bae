#pragma once
// ISDN::LAPD: the layer-2 data link of an ISDN D channel (Q.921):
// acknowledged multiple-frame operation with modulo-128 numbering,
// establishment and release, timer recovery and, on basic-rate user-side
// links, automatic TEI assignment. Layer-3 octets travel opaquely: down
// through `message`, up through Protocol::on_message. Frames reach the line
// only through a GenericHDLC transport and come back through HDLC::Notify.
//
// The code is split by concern: lapd.cpp (frames, queues, timers, pending
// work), lapd_states.cpp (what each event does in each state), lapd_tei.cpp
// (TEI management, management errors, statistics).
#include "control/protocol.h"
#include "runtime/clean_queue.h"
#include "runtime/timer.h"
#include "schema/acp/ACP.h"
#include "signalling/lapd/lapd_frame.h"
#include "signalling/lapd/lapd_state.h"
#include "signalling/trace/dlogframe.h"
#include "slots/hdlc.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace ISDN {

// The trace text of the latest frame; shared by every link and only valid
// until the next trace line.
extern char logbuf[logbuf_size];

class LAPD : public Protocol, public HDLC::Notify, private LAPDFullState {
 public:
  // Told when the flow status changes; reads it back with GetFlowStatus.
  class Notify {
   public:
    virtual ~Notify();
    virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
  };

  struct FlowStatus {
    enum Type : std::int32_t { normal = 0, congested = 1 };
  };

  class Stats {
   public:
    std::uint32_t T200 = 0;
    std::uint32_t T202 = 0;
    std::uint32_t T203 = 0;
    std::uint32_t errors = 0;  // frames and messages lost for want of a packet buffer or of room in one
    std::uint32_t retrains = 0;
    std::uint32_t outOverflows = 0;
    std::uint32_t ackOverflows = 0;
    std::uint32_t txMessages = 0;
    std::uint32_t rxMessages = 0;
    std::uint32_t emptyMessages = 0;
    std::uint32_t rejected = 0;
    std::uint32_t badConfirm = 0;

    void out(std::ostream& os) const;
  };

  // An error report or a release: a text and the link's state when built.
  class Status : public Protocol_status_error, private LAPDFullState {
   public:
    Status(const LAPD& link, const std::string& text);
    void out(std::ostream& os) const override;
    const LAPDFullState& full_state() const { return *this; }
  };

  // Protocol constants.
  static constexpr unsigned T200_ms = 1000;
  static constexpr unsigned T202_ms = 2000;
  static constexpr unsigned T203_ms = 10000;
  static constexpr int N200 = 3;
  static constexpr int N202 = 4;
  static constexpr unsigned window = 7;
  static constexpr unsigned out_limit = 128;      // messages waiting at most
  static constexpr unsigned congest_above = 88;   // waiting messages
  static constexpr unsigned release_below = 65;   // waiting messages
  static constexpr unsigned header_room = 4;      // the largest LAPD header

  LAPD(Side::type side, unsigned log_level);
  ~LAPD() override;

  void set_side(Side::type s) { side_ = s; }
  void set_log(unsigned level) { log_ = level; }
  void set_linkno(unsigned n) { linkno_ = n; }
  void hdlc(GenericHDLC* transport) { hdlc_ = transport; }
  void BindNotify(Notify* n) { notify_ = n; }
  void change_to_bri() { bri_ = true; }

  FlowStatus::Type GetFlowStatus() const { return flow_; }
  const char* state_text() const { return statetext(state); }
  void show_stat() const;

  // Protocol.
  const Protocol_name& name() const override { return name_; }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;    // DL-ESTABLISH
  void local_deactivate() override;  // DL-RELEASE
  int message(Packet& p) override;
  int receive(Packet& p) override;
  virtual std::ostream& PutHeader(std::ostream& os) const;

  // HDLC::Notify.
  void on_hdlc_receive(Packet& frame) override { receive(frame); }
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override { local_events(); }

  // Management entity.
  virtual void mdl_assign(std::uint8_t tei);
  virtual void on_mdl_assign() {}
  virtual void mdl_remove();
  virtual void on_error(unsigned code);
  void on_error(const std::string& text);

  void BeginTeiAssignProcedure();
  void tx_identity(std::uint16_t ri, std::uint8_t ai, std::uint8_t type);

  Smart_pointer<Internal_protocol_status> status() const;
  // Fills the record (its side is the caller's); true when it differs from
  // the one returned last time.
  bool GetInfo(ACP::IsdnLinkInfo& info) const;

  // Read access for the owner, statistics and tests.
  const LAPDFullState& full_state() const { return *this; }
  const Stats& stats() const { return stats_; }
  Side::type side() const { return side_; }
  bool is_bri() const { return bri_; }
  std::uint16_t ri() const { return Ri_; }
  unsigned log_level() const { return log_; }
  std::uint32_t queued() const { return OutData.count(); }
  std::uint32_t unacknowledged() const { return AckData.count(); }

  // Management error texts by code.
  static const char* error_text(unsigned code);

 private:
  enum TimerId { T200 = 0, T202 = 1, T203 = 2 };
  struct LinkTimer {
    const char* name;
    unsigned ms;
    void (LAPD::*expiry)();
    bool LAPDFullState::*running;
  };
  static const LinkTimer timers_[3];

  // Frames.
  std::uint8_t address1(bool command) const;
  std::uint8_t address2() const { return static_cast<std::uint8_t>(((ownTEI & 0x7F) << 1) | 1); }
  bool tx_cmd_resp(bool command, std::uint8_t control, int pf, bool supervisory);
  bool tx_cmd(std::uint8_t control, int pf, bool supervisory = false) { return tx_cmd_resp(true, control, pf, supervisory); }
  bool tx_response(std::uint8_t control, int pf, bool supervisory = false) {
    return tx_cmd_resp(false, control, pf, supervisory);
  }
  bool tx_iframe(Packet& msg);
  bool xmit(Packet& frame);
  bool strip(Packet& p, std::uint32_t n);
  void trace_frame(const char* prefix, const Packet& frame, bool sent);

  // Queues and pending work.
  void local_events();
  void ack_queue_refreash();
  void queued_up();
  void ack_pending();
  void discard_queue();
  void change_flowstatus(FlowStatus::Type f);
  void report_congestion() { change_flowstatus(FlowStatus::congested); }
  void release_congestion() { change_flowstatus(FlowStatus::normal); }

  // Timers.
  void start_timer(TimerId id);
  void stop_timer(TimerId id);
  void start_T200() { start_timer(T200); }
  void stop_T200() { stop_timer(T200); }
  void start_T202() { start_timer(T202); }
  void stop_T202() { stop_timer(T202); }
  void start_T203() { start_timer(T203); }
  void stop_T203() { stop_timer(T203); }
  void on_T200();
  void on_T202();
  void on_T203();
  void on_T200A();
  void on_T202A();
  void on_T203A();

  // Common procedures.
  void change_state(State s);
  void establish_dl();
  void clear_exception();
  void tx_enquiry();
  void tx_enquiry_response();
  void retransmission(Seq nr);
  void nr_recovery();
  void nr_error();
  bool nr_valid(Seq nr) const { return (VA <= nr) <= VS; }
  void up();
  void down(Smart_pointer<Internal_protocol_status> s);
  void down(const std::string& text) { down(Smart_pointer<Internal_protocol_status>(new Status(*this, text))); }
  void down_success(const std::string& text);
  void reset_sequence();

  // Received frames, by type.
  void on_SABME(bool cmd, int p);
  void on_DISC(bool cmd, int p);
  void on_UA(bool cmd, int f);
  void on_DM(bool cmd, int f);
  void on_FRMR(bool cmd, int f);
  void on_supervisory(lapd_frame::Supervisory type, bool cmd, int pf, Seq nr);
  void established_supervisory(lapd_frame::Supervisory type, bool cmd, int pf, Seq nr);
  void recovery_supervisory(lapd_frame::Supervisory type, bool cmd, int pf, Seq nr);
  void on_ICOM(Packet& p, int pf, Seq ns, Seq nr);
  void on_UI(Packet& p);
  void on_tei_management(Packet& p);

  std::ostream& trace() const;

  Side::type side_;
  Stats stats_;
  Notify* notify_ = nullptr;
  FlowStatus::Type flow_ = FlowStatus::normal;
  mutable ACP::IsdnLinkInfo last_info_;
  std::uint32_t linkno_ = 0;
  std::uint32_t log_;
  bool bri_ = false;
  std::uint16_t Ri_ = 0;
  Timer timer_;
  CleanQueue<Packet, 135> OutData;
  CleanQueue<Packet, 7> AckData;
  Protocol_name_str name_{"ISDN::LAPD"};
  GenericHDLC* hdlc_ = nullptr;
};

std::ostream& operator<<(std::ostream& os, const LAPD::Stats& s);

}  // namespace ISDN
