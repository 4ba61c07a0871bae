// Any bytes as a Zarn radio packet: unpacking must read nothing past the
// given length, and whatever decodes must pack and decode to itself and
// dump to text within the comparison buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "radio/zarn/sig_proto.h"
#include "tests/radio/radio_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  sig_proto p;
  sig_proto_init(&p);
  const int rc = sig_proto_unpack(&p, data, static_cast<int>(size));
  if (rc != 0) {
    if (rc != SIG_PROTO_ERR_TYPE && rc != SIG_PROTO_ERR_SHORT) std::abort();
    return 0;
  }
  std::uint8_t bytes[1024];
  const int n = sig_proto_pack(&p, bytes, sizeof bytes);
  if (n < 4 || n > static_cast<int>(size) + 3) std::abort();
  sig_proto back;
  sig_proto_init(&back);
  if (sig_proto_unpack(&back, bytes, n) != 0 || !radio_test::same_packet(back, p)) std::abort();

  char text[8192];
  for (int options : {0, 1, 2, 4}) {
    const int len = sprintf_sig_proto(text, sizeof text, &p, options);
    if (len < 0 || len >= static_cast<int>(sizeof text) - 1) std::abort();
  }
  if (cmp_sig_proto(&p, &back) != 0 || cmp_sig_proto_flags(&p, &back) != 0) std::abort();
  return 0;
}
