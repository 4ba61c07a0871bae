// libFuzzer target: hostile octets decoded as the messages of the control and
// monitoring links. Whatever decodes must encode again and come back equal.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <vector>

#include "asn1/asn1.h"
#include "schema/lgcp/LGCP.h"
#include "schema/mon/MON.h"

namespace {

template <class T>
void roundTrip(const char* begin, const char* end) {
  ASN1::CoderEnv env;
  env.set_encodingRule(2);
  T value;
  if (!ASN1::decode(begin, end, &env, value, true)) return;
  std::ostringstream text;
  text << value;  // the control server logs what it cannot place
  std::vector<char> out;
  // An unknown extension alternative is kept as "nothing known selected",
  // which cannot be sent again; everything else must survive the trip.
  if (!ASN1::encode(value, &env, std::back_inserter(out))) return;
  T again;
  if (!ASN1::decode(out.data(), out.data() + out.size(), &env, again, true)) std::abort();
  if (again.compare(value) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  roundTrip<LGCP::Message>(begin, begin + size);
  roundTrip<MON::Message>(begin, begin + size);
  return 0;
}
