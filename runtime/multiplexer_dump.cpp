// Multiplexer::dump: the loop timings, the profile points and the table of
// the named descriptor events being polled.
#include "runtime/multiplexer_dump.h"

#include <ostream>

#include "runtime/event.h"
#include "runtime/ext_table.h"
#include "runtime/multiplexer.h"
#include "runtime/profile.h"

std::string PollEventAsText(short mask) {
  static const struct {
    unsigned bit;
    const char* name;
  } names[] = {
      {0x001, "|POLLIN"},     {0x002, "|POLLPRI"},    {0x004, "|POLLOUT"},    {0x008, "|POLLERR"},
      {0x010, "|POLLHUP"},    {0x020, "|POLLNVAL"},   {0x040, "|POLLRDNORM"}, {0x080, "|POLLRDBAND"},
      {0x100, "|POLLWRNORM"}, {0x200, "|POLLWRBAND"}, {0x400, "|POLLMSG"},
  };
  std::string text;
  for (const auto& n : names)
    if (static_cast<unsigned short>(mask) & n.bit) text += n.name;
  return text.empty() ? text : text.substr(1);
}

void Multiplexer::dump(std::ostream& os) const {
  os << "dpc transition measurement (min/max/cur/counter): " << dpc_measure << '\n';
  os << "event transition measurement (min/max/cur/counter): " << event_measure << '\n';
  os << "timer transition measurement (min/max/cur/counter): " << timer_measure << '\n';
  Profile::dump(os);

  ext::Table table(40, 30, 10, 10, 5, 60);
  os << table << ext::delimeter;
  os << table << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count"
     << ext::nextrow << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow;
  os << table << ext::delimeter;
  // The poll order; handlers attached since the last rebuild are not polled
  // yet and not listed.
  for (F_dual_list<EventHandler>::iterator it = active->begin(); it != active->end(); ++it) {
    const EventHandler* h = *it;
    if (!h->is_named()) continue;
    const Event* ev = dynamic_cast<const Event*>(h);
    if (!ev) {
      os << table << ext::beginrow << h->event_name() << ext::nextrow;
      continue;
    }
    os << table << ext::beginrow << ev->event_name() << ext::nextrow << PollEventAsText(ev->get_events())
       << ext::nextrow << ev->get_count() << ext::nextrow
       << (ev->has_handler() ? "attached" : "unattached") << ext::nextrow << ev->lowlevel_fd()
       << ext::nextrow << ev->measure() << ext::nextrow;
  }
  os << table << ext::delimeter;
  os << '\n';
}
