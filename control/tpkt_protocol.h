#pragma once
// Tpkt_protocol: cuts the byte stream of a control connection into messages
// and frames outgoing ones, one message per TPKT frame:
//
//   03 00 <length, 16-bit big-endian, header included> <length - 4 octets>
//
// Received octets may come split or joined in any way; an incomplete frame
// whose next octets do not come within 3000 ms is dropped (each piece
// restarts the wait, so a frame may take longer as a whole). Bad frame starts are logged and skipped
// octet by octet until a version octet 3 comes. A frame that finds the packet
// pool empty is skipped and counted.
#include "control/protocol.h"
#include "runtime/packet_drops.h"
#include "runtime/timer.h"

#include <cstdint>

class Tpkt_protocol : public Protocol {
 public:
  enum State { idle, reserved, length_high, length_low, body, ignore };

  static constexpr std::uint32_t header_size = 4;
  static constexpr std::uint32_t max_payload = 0xFFFF - header_size;
  static constexpr unsigned int reassembly_timeout_ms = 3000;

  Tpkt_protocol();

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  // Resets the receiver. The stack's activation report stops here.
  void local_activate() override;
  // Resets the receiver and reports "TPKT deactivated" downward.
  void local_deactivate() override;
  // Frames the packet and transmits it; -1 (and nothing sent) for a payload
  // that no frame can carry.
  int message(Packet& p) override;
  int receive(Packet& p) override;

  State state() const { return state_; }
  // Frames skipped because the packet pool was empty.
  std::uint32_t GetDropCounter() const { return drops.count(); }

 private:
  void reset();
  void on_timeout();
  void begin_frame();
  void deliver();
  // Sends the lines this read has written so far to the log.
  void flush_log();

  Protocol_name_str protocol_name{"TPKT"};
  std::uint32_t length = 0;     // the length field being read
  std::uint32_t remaining = 0;  // payload octets still expected
  Timer timer;
  State state_ = idle;
  bool log_pending = false;  // lines written and not flushed yet
  Packet reassembly;
  PacketDrops drops;
};
