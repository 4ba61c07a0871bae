// libFuzzer target: hostile text parsed as value notation of the messages of
// the control and monitoring links. Whatever parses and can be sent must
// come back equal through aligned PER.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "schema/lgcp/LGCP.h"
#include "schema/mon/MON.h"

namespace {

template <class T>
void parse(std::string const& text)
{
    T value;
    if (!value.setFromValueNotation(text))
        return;
    std::ostringstream why;
    ASN1::trace_invalid(why, "", value);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> out;
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return;  // out of range, or a mandatory field never given
    T again;
    if (!ASN1::decode(out.data(), out.data() + out.size(), &env, again, true))
        std::abort();
    if (again.compare(value) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    std::string const text(reinterpret_cast<char const*>(data), size);
    parse<LGCP::Message>(text);
    parse<MON::Message>(text);
    return 0;
}
