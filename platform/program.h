#pragma once
// Outside programs the server starts (pppd, the fax programs). The argument
// vector always names the board path; this gives the file to execute: on
// the board the path itself; on the simulator the file under the board root
// when one is there, else the project's stand-in program.
#include <string>

namespace platform {

std::string program_file(const std::string& board_program);

}  // namespace platform
