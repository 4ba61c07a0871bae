#include "signalling/lapd/hdlc_bus.h"

#include "runtime/mux_time.h"

HdlcBus::HdlcBus(unsigned terminals) : count_(terminals < max_terminals ? terminals : max_terminals) {
  for (unsigned i = 0; i < max_terminals; ++i) {
    terminals_[i].bus_ = this;
    terminals_[i].index_ = i;
  }
}

HdlcBus::~HdlcBus() { timer_.reset(); }

bool HdlcBus::Terminal::hdlc_transmit(Packet& frame) {
  if (!frame.empty()) bus_->put(static_cast<int>(index_), frame);
  return true;
}

int HdlcBus::transmit(Packet& frame) {
  if (!frame.empty()) put(-1, frame);
  return 0;
}

int HdlcBus::on_message(Packet& message) {
  if (upper_) upper_(message);
  return 0;
}

void HdlcBus::put(int from, const Packet& frame) {
  if (tap_) tap_(from, frame);
  line_.push_back(InFlight{frame, from, static_cast<std::uint32_t>(Mux::milliseconds()) + latency_});
  schedule();
}

void HdlcBus::schedule() {
  if (line_.empty() || timer_.is_running()) return;
  std::int32_t wait = static_cast<std::int32_t>(line_.front().due - static_cast<std::uint32_t>(Mux::milliseconds()));
  timer_.set(wait > 0 ? static_cast<unsigned>(wait) : 0u, &HdlcBus::deliver, this);
}

void HdlcBus::deliver() {
  std::uint32_t now = static_cast<std::uint32_t>(Mux::milliseconds());
  for (std::size_t n = line_.size(); n > 0 && !line_.empty(); --n) {
    if (static_cast<std::int32_t>(line_.front().due - now) > 0) break;
    InFlight f = std::move(line_.front());
    line_.pop_front();
    if (f.from < 0) {
      for (unsigned i = 0; i < count_; ++i) {
        Terminal& t = terminals_[i];
        if (t.cut_ || !t.notify_) continue;
        Packet copy = f.frame;
        t.notify_->on_hdlc_receive(copy);
      }
    } else if (!terminals_[f.from].cut_) {
      receive(f.frame);
    }
  }
  schedule();
}
