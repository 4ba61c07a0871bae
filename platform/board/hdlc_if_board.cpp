#include "platform/hdlc_if.h"
#include "platform/program.h"

#include <sys/ioctl.h>

namespace platform {

int hdlc_ioctl(int sock, unsigned long request, void* arg) { return ::ioctl(sock, request, arg); }

std::string program_file(const std::string& board_program) { return board_program; }

}  // namespace platform
