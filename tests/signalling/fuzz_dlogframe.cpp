// Hostile frames into the trace decoder: the output buffer is exactly the
// size the links use (heap, so a write past it is caught), the frame is a
// buffer of its own size (a read past it is caught), and the text must be
// NUL-terminated within the buffer.
#include "signalling/trace/dlogframe.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<unsigned char> frame(data + 1, data + size);
  std::unique_ptr<char[]> out(new char[ISDN::logbuf_size]);
  std::memset(out.get(), 'X', ISDN::logbuf_size);
  ISDN::dlogframe(frame.empty() ? nullptr : frame.data(), static_cast<int>(frame.size()), data[0] & 1, out.get());
  if (frame.size() > 2 && !std::memchr(out.get(), '\0', ISDN::logbuf_size)) std::abort();
  // A small buffer cuts the same text.
  char small[7];
  ISDN::dlogframe(frame.data(), static_cast<int>(frame.size()), data[0] & 1, small, sizeof small);
  return 0;
}
