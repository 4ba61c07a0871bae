#pragma once
// CDR_Sender::Sender: sends one call record, an opaque text, as one UDP
// datagram to each of a list of receivers ("a.b.c.d:port" words separated by
// white space), in list order. A receiver that cannot be reached does not
// stop the others.
#include "runtime/fd.h"

#include <string>

namespace CDR_Sender {

class Sender {
 public:
  // Creates the UDP socket; without one every SendTo fails.
  Sender();
  virtual ~Sender();
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  // False when there is no socket; otherwise true after trying every
  // receiver. Words that are not an address with a port are skipped.
  bool SendTo(std::string& record, std::string const& destinations);

 private:
  Fd sock_;
};

}  // namespace CDR_Sender
