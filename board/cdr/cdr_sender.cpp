#include "board/cdr/cdr_sender.h"

#include "runtime/inet4_addr.h"

#include <sstream>
#include <sys/socket.h>

namespace CDR_Sender {

Sender::Sender() : sock_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

Sender::~Sender() { sock_.close(); }

bool Sender::SendTo(std::string& record, std::string const& destinations) {
  if (!sock_.is_valid()) return false;
  std::istringstream words(destinations);
  std::string word;
  while (words >> word) {
    // A word without a port, or whose address does not read, names nobody.
    INet4::Addr to;
    if (word.find(':') == std::string::npos || !INet4::Addr::Parse(word, to) || to.port() == 0) continue;
    ::sendto(sock_.lowlevel_fd(), record.data(), record.size(), 0, to, to.size());
  }
  return true;
}

}  // namespace CDR_Sender
