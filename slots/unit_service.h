#pragma once
// What the owners of the board's DSP units share: the device, opened again
// when a request finds it closed and watched for event records that are
// read whole; request ids that never come out 0; the records, built field
// by field in the machine's byte order; and each unit's receivers, found by
// their time slot.
#include "runtime/cyclic_list.h"
#include "runtime/event.h"
#include "runtime/fd.h"

#include <boost/container/small_vector.hpp>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>

namespace Hardware {

namespace unit_record {

inline void put32(std::uint8_t* rec, std::size_t off, std::uint32_t v) { std::memcpy(rec + off, &v, sizeof v); }
inline void put16(std::uint8_t* rec, std::size_t off, std::uint16_t v) { std::memcpy(rec + off, &v, sizeof v); }
inline std::uint32_t get32(const std::uint8_t* rec, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, rec + off, sizeof v);
  return v;
}

// The tail of a fail line: the text of the saved errno.
struct FailTail {
  int err;
};
std::ostream& operator<<(std::ostream& os, FailTail t);

}  // namespace unit_record

// A receiver's node in the list of its kind, with the way back to it.
template <class R>
class UnitReceiverLink : public Containers::CyclicList {
 public:
  explicit UnitReceiverLink(R* r) : owner_(r) { head().AddToTail(this); }

  // The first receiver for which timeslot_of gives ts; null when none.
  template <class Timeslot>
  static R* find(std::uint32_t ts, Timeslot timeslot_of) {
    Containers::CyclicList& list = head();
    for (auto it = list.begin(); it != list.end(); ++it) {
      R* r = static_cast<UnitReceiverLink*>(*it)->owner_;
      if (timeslot_of(*r) == ts) return r;
    }
    return nullptr;
  }

  // The first receiver on ts that `wants` the event; else the first on ts
  // (null when none). Two slots may hold one time slot (a mixer channel's
  // input and output): the event goes to the one whose function it is.
  template <class Timeslot, class Wants>
  static R* find(std::uint32_t ts, Timeslot timeslot_of, Wants wants) {
    Containers::CyclicList& list = head();
    for (auto it = list.begin(); it != list.end(); ++it) {
      R* r = static_cast<UnitReceiverLink*>(*it)->owner_;
      if (timeslot_of(*r) == ts && wants(*r)) return r;
    }
    return find(ts, timeslot_of);
  }

  // A receiver other than `self` on ts that satisfies `pred`; null when
  // none: a unit function of the time slot it still uses is not switched
  // off for it.
  template <class Timeslot, class Pred>
  static R* other(const R* self, std::uint32_t ts, Timeslot timeslot_of, Pred pred) {
    Containers::CyclicList& list = head();
    for (auto it = list.begin(); it != list.end(); ++it) {
      R* r = static_cast<UnitReceiverLink*>(*it)->owner_;
      if (r != self && timeslot_of(*r) == ts && pred(*r)) return r;
    }
    return nullptr;
  }

  // The time slot of a receiver as event dispatch sees it: a retired one
  // (its unit vanished, and a unit come back under its number gave the time
  // slot to a new receiver) is not on ts while a live receiver is, so the
  // new receiver's events do not go to the slot that waits for its destroy.
  template <class Timeslot, class Retired>
  static auto live_timeslot(std::uint32_t ts, Timeslot timeslot_of, Retired retired) {
    const bool live = other(nullptr, ts, timeslot_of, [&](const R& c) { return !retired(c); }) != nullptr;
    return [live, timeslot_of, retired](R& c) -> std::int64_t { return live && retired(c) ? -1 : timeslot_of(c); };
  }

  // Calls `deliver` for every receiver on ts that `wants` the event, in list
  // order; one that left the list meanwhile (destroyed by an earlier call)
  // is skipped. Called per unit event: a time slot has one or two receivers,
  // held without a heap allocation, and only a receiver after the first
  // delivery is looked for again.
  template <class Timeslot, class Wants, class Deliver>
  static void each(std::uint32_t ts, Timeslot timeslot_of, Wants wants, Deliver deliver) {
    boost::container::small_vector<R*, 2> found;
    Containers::CyclicList& list = head();
    for (auto it = list.begin(); it != list.end(); ++it) {
      R* r = static_cast<UnitReceiverLink*>(*it)->owner_;
      if (timeslot_of(*r) == ts && wants(*r)) found.push_back(r);
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
      R* r = found[i];
      bool linked = i == 0;
      for (auto it = list.begin(); it != list.end() && !linked; ++it)
        linked = static_cast<UnitReceiverLink*>(*it)->owner_ == r;
      if (linked) deliver(*r);
    }
  }

 private:
  static Containers::CyclicList& head() {
    static Containers::CyclicList list;
    return list;
  }
  R* owner_;
};

class UnitService {
 public:
  // The unit's device and its event records.
  struct Device {
    const char* (*path)();
    int open_flags;
    const char* open_fail;   // the line of a failed open, before the error
    const char* word;        // the unit in the lines of a failed read
    const char* event_name;  // the watcher in the status dump
    std::size_t record_size;
  };
  static constexpr std::size_t max_record_size = 32;

  UnitService(const UnitService&) = delete;
  UnitService& operator=(const UnitService&) = delete;

  // Opens the device and watches it for events; a failed open, or a watch
  // that cannot copy the descriptor, leaves it closed (the configure
  // requests try again).
  void init();

  void OnEvent(int fd, short revents);

  bool is_open() const { return fd.is_valid(); }
  std::uint32_t request_counter() const { return request_counter_; }
  // Tests start the counter where they need it.
  void set_request_counter(std::uint32_t v) { request_counter_ = v; }

 protected:
  explicit UnitService(const Device& device);
  virtual ~UnitService();

  std::uint32_t next_id();
  // Opens the device again when closed; false (with the line) when it
  // stays closed.
  bool ensure_open(const char* not_opened, std::uint32_t ts);
  // One whole event record.
  virtual void dispatch(const std::uint8_t* rec) = 0;

  Fd fd;

 private:
  const Device& device_;
  Event event;
  std::uint32_t request_counter_ = 0;
};

}  // namespace Hardware
