#pragma once
// Ports for tests that run beside other tests in one network namespace.
//
// A port handed out here is free now and stays this process's until it
// ends: every test process of the build takes its ports through a lock file
// of the build tree, so two tests running at once never get the same port,
// and the ports lie outside the kernel's ephemeral range, so no socket the
// kernel numbers (a listener on port 0, a client) takes one meanwhile.
#include <cstdint>

namespace testsupport {

// A port nobody listens on now, free for UDP too with the port above it
// (an RTP port and its RTCP port).
std::uint16_t free_port();
// The first of `count` consecutive ports, each free for TCP and UDP.
std::uint16_t free_ports(int count);
// Takes the ports first .. first + count - 1 for this process; false when
// this process or another test process already took one of them.
bool reserve_ports(int first, int count);

}  // namespace testsupport
