#include "control/tpkt_protocol.h"

#include "runtime/profile.h"

#include <algorithm>
#include <cstring>
#include <iostream>

Tpkt_protocol::Tpkt_protocol() = default;

void Tpkt_protocol::local_prepare_head(Packet& p) { p.reserve_head(header_size); }

void Tpkt_protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void Tpkt_protocol::reset() {
  timer.reset();
  reassembly.clear();
  length = 0;
  remaining = 0;
  state_ = idle;
}

void Tpkt_protocol::local_activate() { reset(); }

void Tpkt_protocol::local_deactivate() {
  reset();
  on_deactivate(Smart_pointer<Internal_protocol_status>(new Protocol_status_success(this, "TPKT deactivated")));
}

int Tpkt_protocol::message(Packet& p) {
  static Profile::Point point("Tpkt_protocol::message");
  const std::uint32_t len = p.length();
  // A longer payload would wrap the 16-bit length and corrupt the stream.
  if (len > max_payload) {
    std::cerr << *this << " TPKT payload too long: " << len << " octets (max " << max_payload << "), dropped."
              << std::endl;
    return -1;
  }
  point.begin();
  if (p.null())
    p.reserve_head(header_size);
  else if (p._headroom() < header_size)
    p.reserve_head(header_size - p._headroom());
  p.push16_b(static_cast<std::uint16_t>(len + header_size));
  p.push8(0);
  p.push8(3);
  const int r = transmit(p);
  point.end();
  return r;
}

void Tpkt_protocol::begin_frame() {
  flush_log();  // ahead of a line on the error stream
  reassembly.clear();
  // The peer's stream goes on whatever the pool holds: without a buffer the
  // frame is skipped, not the process ended.
  if (!drops.Take(reassembly)) {
    drops.Count();
    if (drops.ShouldLog())
      std::cerr << *this << " packet pool empty, TPKT frame dropped (" << drops.count() << " frames dropped)"
                << std::endl;
    state_ = remaining ? ignore : idle;
    return;
  }
  if (remaining > reassembly.tailroom()) {
    std::clog << "TPKT length too big, received = " << remaining << " max = " << reassembly.tailroom() << std::endl;
    state_ = ignore;
    return;
  }
  state_ = body;
  // A frame without payload is an (empty) message of its own.
  if (remaining == 0) deliver();
}

void Tpkt_protocol::deliver() {
  Packet msg = reassembly;
  reassembly.clear();
  state_ = idle;
  // The lines of the junk before this frame go out ahead of whatever its
  // handling writes.
  flush_log();
  on_message(msg);
}

void Tpkt_protocol::flush_log() {
  if (!log_pending) return;
  log_pending = false;
  std::clog.flush();
}

int Tpkt_protocol::receive(Packet& p) {
  // Every stray octet or bad header is a line of the log. The lines are
  // ended here but flushed once per read (and before a frame goes up): a
  // flush per line cost the log a write per octet, and a read full of junk
  // held the loop for hundreds of milliseconds.
  while (p.length() > 0) {
    switch (state_) {
      case idle:
        if (p.pull8() == 3) {
          state_ = reserved;
        } else {
          std::clog << *this << " bad TPKT packet start.\n";
          log_pending = true;
        }
        break;
      case reserved:
        if (p.pull8() == 0) {
          state_ = length_high;
        } else {
          std::clog << *this << " bad TPKT reserved.\n";
          log_pending = true;
          state_ = idle;
        }
        break;
      case length_high:
        length = std::uint32_t(p.pull8()) << 8;
        state_ = length_low;
        break;
      case length_low:
        length |= p.pull8();
        if (length < header_size) {
          std::clog << "TPKT too small " << length << '\n';
          log_pending = true;
          state_ = idle;
        } else {
          remaining = length - header_size;
          begin_frame();
        }
        break;
      case body: {
        const std::uint32_t n = std::min(p.length(), remaining);
        std::memcpy(reassembly.put(n), p.pull(n), n);
        remaining -= n;
        if (remaining == 0) deliver();
        break;
      }
      case ignore: {
        const std::uint32_t n = std::min(p.length(), remaining);
        p.pull(n);
        remaining -= n;
        if (remaining == 0) state_ = idle;
        break;
      }
    }
  }
  flush_log();
  if (state_ != idle)
    timer.set(reassembly_timeout_ms, &Tpkt_protocol::on_timeout, this);
  else
    timer.reset();
  return 0;
}

void Tpkt_protocol::on_timeout() {
  std::clog << " TPKT packet timeout." << std::endl;
  reset();
}
