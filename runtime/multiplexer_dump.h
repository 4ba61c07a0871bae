#pragma once
// The loop's share of the status dump is Multiplexer::dump (declared with the
// loop); this is its helper for the poll masks it lists.
#include <string>

// The names of the set poll bits joined by "|" ("POLLIN|POLLOUT"); "" when
// none of the known bits is set.
std::string PollEventAsText(short mask);
