#include "signalling/lapd/hdlc_relay.h"

#include "runtime/errno_text.h"
#include "runtime/mux_time.h"

#include <iostream>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

HdlcRelay::HdlcRelay() {
  for (int i = 0; i < 2; ++i) {
    ends_[i].relay_ = this;
    ends_[i].index_ = i;
  }
  line_fd_ = Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  line_event_.Bind("HdlcRelay::on_line", &HdlcRelay::on_line, this);
  line_event_.Schedule(line_fd_, POLLIN);
  if (!line_event_.IsActive()) {
    // No descriptor for the line or its watch: a signal nobody polls would
    // hold every frame for good. The timer carries them instead.
    const Errno e;
    std::cerr << "HdlcRelay: line not polled, frames go by timer: " << e << std::endl;
    line_fd_.close();
  }
}

void HdlcRelay::signal(bool pending) {
  if (pending == signalled_ || !line_fd_) return;
  std::uint64_t v = 1;
  ssize_t r = pending ? ::write(line_fd_.lowlevel_fd(), &v, sizeof v) : ::read(line_fd_.lowlevel_fd(), &v, sizeof v);
  (void)r;
  signalled_ = pending;
}

void HdlcRelay::on_line(int, short revents) {
  if (revents & POLLIN) deliver();
}

bool HdlcRelay::End::hdlc_transmit(Packet& frame) { return relay_->accept(*this, frame); }

bool HdlcRelay::End::is_ready() const { return relay_->capacity_ == 0 || in_flight_ < relay_->capacity_; }

bool HdlcRelay::accept(End& from, Packet& frame) {
  if (frame.empty()) return true;
  if (!from.is_ready()) {
    from.refused_ = true;
    ++refused_;
    return false;
  }
  ++taken_;
  bool lose = (drop_every_ != 0 && taken_ % drop_every_ == 0) || (loss_ && loss_(from.index_, frame));
  if (tap_) tap_(from.index_, frame, lose);
  if (lose) {
    ++lost_;
    return true;
  }
  ++from.in_flight_;
  std::uint32_t now = static_cast<std::uint32_t>(Mux::milliseconds());
  line_.push_back(InFlight{frame, from.index_, now + latency_});
  schedule();
  return true;
}

// Without latency the line's descriptor wakes the loop; with it (or with
// no watched descriptor), a timer runs until the oldest frame is due.
void HdlcRelay::schedule() {
  if (line_.empty()) {
    signal(false);
    timer_.reset();
    return;
  }
  if (latency_ == 0 && line_event_.IsActive()) {
    signal(true);
    return;
  }
  if (timer_.is_running()) return;
  std::int32_t wait = static_cast<std::int32_t>(line_.front().due - static_cast<std::uint32_t>(Mux::milliseconds()));
  timer_.set(wait > 0 ? static_cast<unsigned>(wait) : 0u, &HdlcRelay::on_timer, this);
}

void HdlcRelay::on_timer() { deliver(); }

void HdlcRelay::deliver() {
  // Only what was on the line when the pass began (and is due): answers sent
  // from the receivers' callbacks travel later.
  std::uint32_t now = static_cast<std::uint32_t>(Mux::milliseconds());
  for (std::size_t n = line_.size(); n > 0 && !line_.empty(); --n) {
    if (static_cast<std::int32_t>(line_.front().due - now) > 0) break;
    InFlight f = std::move(line_.front());
    line_.pop_front();
    End& sender = ends_[f.from];
    End& receiver = ends_[f.from ^ 1];
    --sender.in_flight_;
    if (receiver.notify_) receiver.notify_->on_hdlc_receive(f.frame);
  }
  for (End& e : ends_) {
    if (e.refused_ && e.is_ready()) {
      e.refused_ = false;
      if (e.notify_) e.notify_->on_hdlc_ready();
    }
  }
  schedule();
}
