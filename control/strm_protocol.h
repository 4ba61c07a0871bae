#pragma once
// StrmProtocol: the bottom layer of a control connection, sitting on one
// connected, non-blocking stream socket (TCP or Unix domain).
//
// Readiness of the socket becomes one read passed upward as a packet; each
// outgoing packet is written completely, the event loop waiting (and the
// watchdog being pinged) for at most 1000 ms per packet; every socket error,
// end of file and write time-out closes the socket and reports the stack
// down with an error status. It adds no header or trailer.
#include "control/protocol.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/measure.h"
#include "runtime/packet_drops.h"

#include <cstdint>
#include <iosfwd>
#include <string>

// When non-zero, each layer's destructor writes a trace line.
extern int strm_protocol_debug;

class StrmProtocol : public Protocol {
 public:
  // The whole message must be out within this time of its first write.
  static constexpr int write_deadline_ms = 1000;

  StrmProtocol();
  explicit StrmProtocol(Fd fd);
  ~StrmProtocol() override;

  // Takes a duplicate of the socket (releasing any previous one) and probes
  // how the kernel reports its output queue. Neither arms nor reports.
  void attach(Fd fd);
  // Disarms the read event and closes the socket; reports nothing.
  void release();
  bool opened() const { return sock.is_valid(); }

  // Socket queries; -1 when the query itself fails.
  std::int32_t sendbuf_space() const;
  std::int32_t recvbuf_space() const;
  std::int32_t inq_space() const;
  std::int32_t outq_space() const;
  std::int32_t free_space() const;

  const std::string& service_name() const { return svc_name; }
  void service_name(const std::string& name) { svc_name = name; }

  const Measure& get_read_measure() const { return read_measure; }
  const Measure& get_write_measure() const { return write_measure; }
  std::uint32_t GetOverflowCounter() const { return overflow; }
  // Reads dropped because the packet pool was empty.
  std::uint32_t GetDropCounter() const { return drops.count(); }

  bool verbose() const { return verbose_; }
  void verbose(bool on) { verbose_ = on; }

  // "SockStream[<service name>]: "
  std::ostream& PutHeader(std::ostream& os) const;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  // Writes the whole packet; its length, or -1 when the write failed (the
  // stack has then been reported down).
  int message(Packet& p) override;

  void on_event(int fd, short revents);

 private:
  void init();
  void do_read();
  void on_error(const std::string& text);
  // The diagnostic line of a read or write: the word, then the socket's
  // buffer figures, then the error text when one is given.
  void diagnostic(std::ostream& os, const char* word, const char* error = nullptr) const;

  Protocol_name_str protocol_name{"StrmProtocol"};
  Fd sock;
  bool outq_reports_free = false;
  bool verbose_ = false;
  std::string svc_name;
  Event read_event;
  Measure read_measure;
  Measure write_measure;
  std::uint32_t overflow = 0;
  PacketDrops drops;
};
