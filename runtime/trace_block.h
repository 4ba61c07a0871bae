#pragma once
// Scoped enter/leave trace lines:
//
//   Trace::Block trace(traces.hdlc, "HDLC::OnEvent", std::clog);
//
// writes "Enter HDLC::OnEvent" now and "Leave HDLC::OnEvent" when the scope
// ends, or nothing at all when not enabled.
#include <ostream>

namespace Trace {

class Block {
 public:
  Block(bool enabled, const char* name, std::ostream& os);
  ~Block();
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

 private:
  bool enabled_;
  const char* name_;
  std::ostream& os_;
};

}  // namespace Trace
