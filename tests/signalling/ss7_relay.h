#pragma once
// Test stand-ins around SS7 links (header only, so the benchmark and the
// fuzz target can use them too).
//
// Relay: two GenericHDLC ends joined back to back. A frame one end takes is
// delivered to the other end's HDLC::Notify on the event loop after the
// direction's delay, unless the direction's loss rule drops it. An end can be
// made to refuse frames; lifting the refusal calls on_hdlc_ready of the end's
// own link on the loop, as the HDLC engine does once the device drains.
// Every frame taken can be written to a pcap file (link type 140: MTP2, no
// FCS).
//
// Upper: the layer above a link: a protocol family holding the link as its
// only layer and recording what the link reports.
#include "control/protocols_list.h"
#include "runtime/mux_time.h"
#include "runtime/packet.h"
#include "runtime/timer.h"
#include "signalling/ss7/slc.h"
#include "slots/hdlc.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace ss7test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes_of(const Packet& p) {
  Bytes b(p.length());
  for (std::uint32_t i = 0; i < b.size(); ++i) b[i] = p[int(i)];
  return b;
}

inline Packet packet_of(const Bytes& b, std::uint32_t headroom = 3) {
  Packet p;
  p.reserve_head(headroom);
  for (std::uint8_t x : b) p.put8(x);
  return p;
}

// A pcap file of MTP2 signal units without flags and FCS.
class PcapWriter {
 public:
  ~PcapWriter() { close(); }
  bool open(const std::string& path) {
    close();
    f_ = std::fopen(path.c_str(), "wb");
    if (!f_) return false;
    put32(0xA1B2C3D4);  // written little-endian: readers take the order from it
    put16(2);
    put16(4);
    put32(0);
    put32(0);
    put32(65535);
    put32(140);
    return true;
  }
  void write(const Bytes& frame) {
    if (!f_) return;
    Mux::timeval tv;
    Mux::gettimeval(tv);
    put32(std::uint32_t(tv.tv_sec));
    put32(std::uint32_t(tv.tv_usec));
    put32(std::uint32_t(frame.size()));
    put32(std::uint32_t(frame.size()));
    std::fwrite(frame.data(), 1, frame.size(), f_);
  }
  bool is_open() const { return f_ != nullptr; }
  void close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
  }

 private:
  void put16(std::uint16_t v) {
    const unsigned char b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
    std::fwrite(b, 1, 2, f_);
  }
  void put32(std::uint32_t v) {
    const unsigned char b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    std::fwrite(b, 1, 4, f_);
  }
  std::FILE* f_ = nullptr;
};

class Relay {
 public:
  // Decides whether a frame taken by an end is lost on the way.
  using LossRule = std::function<bool(const Bytes& frame)>;

  class End : public GenericHDLC {
   public:
    bool hdlc_transmit(Packet& frame) override { return relay_->take(side_, frame); }
    bool is_open() const override { return true; }
    bool is_ready() const override { return !refusing_; }

   private:
    friend class Relay;
    Relay* relay_ = nullptr;
    int side_ = 0;
    bool refusing_ = false;
    bool refused_ = false;  // a frame was refused: on_hdlc_ready is owed
  };

  Relay() {
    for (int s = 0; s < 2; ++s) {
      ends_[s].relay_ = this;
      ends_[s].side_ = s;
    }
  }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Joins the link of a side: it sends through end(side) and receives what
  // the other side sends.
  void attach(int side, SS7::SLC* link) {
    notify_[side] = link;
    link->hdlc(&ends_[side]);
  }
  End& end(int side) { return ends_[side]; }

  void set_delay(int side, unsigned int ms) { dir_[side].delay = ms; }
  void set_loss(int side, LossRule rule) { dir_[side].loss = std::move(rule); }
  void set_refusing(int side, bool on) {
    End& e = ends_[side];
    e.refusing_ = on;
    if (!on && e.refused_) {
      e.refused_ = false;
      ready_timer_[side].set(0, side == 0 ? &Relay::ready0 : &Relay::ready1, this);
    }
  }
  void record(bool on) { recording_ = on; }
  bool capture(const std::string& path) { return pcap_.open(path); }
  void end_capture() { pcap_.close(); }

  // Frames taken from a side (when recording), whether lost or delivered,
  // and from both sides in the order taken (the order of the capture).
  std::vector<Bytes> sent[2];
  std::vector<Bytes> taken;
  unsigned lost[2] = {0, 0};
  unsigned delivered[2] = {0, 0};
  std::size_t in_flight(int side) const { return dir_[side].queue.size(); }

 private:
  struct Direction {
    unsigned int delay = 1;
    LossRule loss;
    std::deque<std::pair<std::uint32_t, Packet>> queue;  // due time, frame
    Timer timer;
  };

  bool take(int side, Packet& frame) {
    if (ends_[side].refusing_) {
      ends_[side].refused_ = true;
      return false;
    }
    if (frame.empty()) return true;
    Direction& d = dir_[side];
    if (recording_ || pcap_.is_open() || d.loss) {
      const Bytes b = bytes_of(frame);
      pcap_.write(b);
      if (recording_) {
        sent[side].push_back(b);
        taken.push_back(b);
      }
      if (d.loss && d.loss(b)) {
        ++lost[side];
        return true;
      }
    }
    d.queue.emplace_back(now() + d.delay, frame);
    if (d.queue.size() == 1) arm(side);
    return true;
  }

  static std::uint32_t now() { return std::uint32_t(Mux::milliseconds()); }

  void arm(int side) {
    Direction& d = dir_[side];
    if (d.queue.empty()) return;
    const std::int32_t wait = std::int32_t(d.queue.front().first - now());
    d.timer.set(wait > 0 ? unsigned(wait) : 0u, side == 0 ? &Relay::deliver0 : &Relay::deliver1, this);
  }

  void deliver(int side) {
    Direction& d = dir_[side];
    while (!d.queue.empty() && std::int32_t(d.queue.front().first - now()) <= 0) {
      Packet p = d.queue.front().second;
      d.queue.pop_front();
      ++delivered[side];
      if (notify_[1 - side]) notify_[1 - side]->on_hdlc_receive(p);
    }
    arm(side);
  }
  void deliver0() { deliver(0); }
  void deliver1() { deliver(1); }
  void ready0() {
    if (notify_[0]) notify_[0]->on_hdlc_ready();
  }
  void ready1() {
    if (notify_[1]) notify_[1]->on_hdlc_ready();
  }

  End ends_[2];
  HDLC::Notify* notify_[2] = {nullptr, nullptr};
  Direction dir_[2];
  Timer ready_timer_[2];
  PcapWriter pcap_;
  bool recording_ = false;
};

class Upper : public ProtocolsFamily {
 public:
  // Takes the link over (the family deletes its layers).
  explicit Upper(SS7::SLC* link) : link_(link) { add_protocol_tail(link); }
  SS7::SLC& link() { return *link_; }

  int on_message(Packet& p) override {
    received.push_back(bytes_of(p));
    return 0;
  }
  void on_activated(Protocol*) override {
    ++activations;
    activated_at.push_back(std::uint32_t(Mux::milliseconds()));
  }
  void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> s) override {
    deactivations.push_back(s->message());
  }
  // An MSU from level 3.
  void send(const Bytes& msu) {
    Packet p = packet_of(msu);
    link_->message(p);
  }

  std::vector<Bytes> received;
  int activations = 0;
  std::vector<std::uint32_t> activated_at;
  std::vector<std::string> deactivations;

 private:
  SS7::SLC* link_;
};

}  // namespace ss7test
