#include "runtime/trace_block.h"

namespace Trace {

Block::Block(bool enabled, const char* name, std::ostream& os) : enabled_(enabled), name_(name), os_(os) {
  if (enabled_) os_ << "Enter " << name_ << std::endl;
}

Block::~Block() {
  if (enabled_) os_ << "Leave " << name_ << std::endl;
}

}  // namespace Trace
