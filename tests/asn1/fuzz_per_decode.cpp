// libFuzzer target: aligned PER decoding of hostile octets into every kind
// of value. Whatever decodes must encode again and come back equal.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "asn1/asn1.h"
#include "records.h"
// The test records are one source with no library of their own.
#include "records.cpp"

namespace {

template <class T>
void roundTrip(char const* begin, char const* end)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(2);
    T value;
    if (!ASN1::decode(begin, end, &env, value, true))
        return;
    std::vector<char> out;
    // Values the encoder refuses (a range the decoder does not check, an
    // unknown alternative) are fine; what it writes must read back equal.
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return;
    T again;
    if (!ASN1::decode(out.data(), out.data() + out.size(), &env, again, true))
        std::abort();
    if (again.compare(value) != 0)
        std::abort();
    (void)value.asValueNotation();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    char const* begin = reinterpret_cast<char const*>(data);
    char const* end = begin + size;
    roundTrip<rec::All>(begin, end);
    roundTrip<rec::Message>(begin, end);
    roundTrip<rec::RecList>(begin, end);
    return 0;
}
