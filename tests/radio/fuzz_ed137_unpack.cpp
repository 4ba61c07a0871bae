// Any bytes as an ED-137 header extension, read as both forms: unpacking
// must read nothing past the given length, and the elements it keeps (also
// before a truncated one) must pack and decode to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "radio/ed137/r2s_proto.h"
#include "tests/radio/radio_records.h"

namespace {

void check(const std::uint8_t* data, int size, bool rx) {
  r2s_proto p;
  r2s_proto_init(&p, 0);
  const int rc = rx ? r2s_proto_unpack_rx(&p, data, size) : r2s_proto_unpack_tx(&p, data, size);
  if (rc == R2S_PROTO_ERR_SHORT && size < 2) return;
  if (rc != 0 && rc != R2S_PROTO_ERR_SHORT) std::abort();
  if (p.additional_count > R2S_PROTO_MAX_ADDITIONALS) std::abort();

  std::uint8_t bytes[256];
  const int n = r2s_proto_pack(&p, bytes, sizeof bytes);
  if (n < 2) std::abort();
  r2s_proto back;
  r2s_proto_init(&back, 0);
  const int again = rx ? r2s_proto_unpack_rx(&back, bytes, n) : r2s_proto_unpack_tx(&back, bytes, n);
  if (again != 0 || !radio_test::same_payload(back, p)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  check(data, static_cast<int>(size), true);
  check(data, static_cast<int>(size), false);
  return 0;
}
