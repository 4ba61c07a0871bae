#ifndef TESTS_ASN1_BER_SUPPORT_H
#define TESTS_ASN1_BER_SUPPORT_H

// BER coding through the coder environment, for the BER tests.

#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "per_support.h"

namespace bertest {

inline bool encode(ASN1::AbstractData const& value, std::vector<char>& out)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    out.clear();
    return ASN1::encode(value, &env, std::back_inserter(out));
}

// The image, or "FAIL".
inline std::string encoded(ASN1::AbstractData const& value)
{
    std::vector<char> out;
    return encode(value, out) ? per::hex(out) : "FAIL";
}

// Decodes from an exactly sized heap block, so ASan sees any read past it.
inline bool decoded(std::vector<char> const& octets, ASN1::AbstractData& value)
{
    std::unique_ptr<char[]> copy(new char[octets.size() ? octets.size() : 1]);
    std::copy(octets.begin(), octets.end(), copy.get());
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    return ASN1::decode(copy.get(), copy.get() + octets.size(), &env, value, true);
}

inline bool decoded(std::string const& image, ASN1::AbstractData& value)
{
    return decoded(per::bytes(image), value);
}

} // namespace bertest

#endif
