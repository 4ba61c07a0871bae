// libFuzzer target: hostile octets decoded in BER as the messages of the
// control and monitoring links. Whatever decodes must encode again and come
// back equal.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "asn1/asn1.h"
#include "schema/lgcp/LGCP.h"
#include "schema/mon/MON.h"

namespace {

template <class T>
void roundTrip(char const* begin, char const* end)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    T value;
    if (!ASN1::decode(begin, end, &env, value, true))
        return;
    (void)value.asValueNotation();
    (void)value.isValid();
    std::vector<char> out;
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return;  // an alternative left unknown cannot be written
    if (out.size() != ASN1::getObjectLength(value, 0xFFFFFFFFu))
        std::abort();
    T again;
    if (!ASN1::decode(out.data(), out.data() + out.size(), &env, again, true))
        std::abort();
    if (again.compare(value) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    char const* begin = reinterpret_cast<char const*>(data);
    roundTrip<LGCP::Message>(begin, begin + size);
    roundTrip<MON::Message>(begin, begin + size);
    return 0;
}
