// The board has no simulator to steer.
#include "platform/control_socket.h"

namespace platform {
namespace control_socket {

std::string path() { return std::string(); }
int listen() { return -1; }
int accept(int) { return -1; }
bool serve(int, std::string&) { return false; }

}  // namespace control_socket
}  // namespace platform
