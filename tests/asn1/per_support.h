#ifndef TESTS_ASN1_PER_SUPPORT_H
#define TESTS_ASN1_PER_SUPPORT_H

// Hex images for the PER tests.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.h"

namespace per {

// "C0 01 01" from octets.
inline std::string hex(std::vector<char> const& octets)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < octets.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", static_cast<unsigned char>(octets[i]));
        s += buf;
    }
    return s;
}

// Octets from "C0 01 01" (blanks ignored).
inline std::vector<char> bytes(std::string const& text)
{
    std::vector<char> out;
    std::string digits;
    for (char c : text) {
        if (c != ' ')
            digits += c;
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

// The aligned PER image of a value, or "FAIL".
inline std::string encoded(ASN1::AbstractData const& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(2);
    std::vector<char> out;
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return "FAIL";
    return hex(out);
}

// Decodes octets held in an exactly sized heap block, so that any read past
// the end is caught by the address sanitizer.
inline bool decoded(std::vector<char> const& octets, ASN1::AbstractData& value)
{
    char* copy = new char[octets.size() ? octets.size() : 1];
    std::copy(octets.begin(), octets.end(), copy);
    ASN1::CoderEnv env;
    env.set_encodingRule(2);
    bool const ok = ASN1::decode(copy, copy + octets.size(), &env, value, true);
    delete[] copy;
    return ok;
}

inline bool decoded(std::string const& text, ASN1::AbstractData& value)
{
    return decoded(bytes(text), value);
}

// The value encodes to the image ("FAIL": it cannot be encoded), and the
// image decodes into a new value of the same type that compares equal.
inline ::testing::AssertionResult image(ASN1::AbstractData const& value, std::string const& expected)
{
    std::string const got = encoded(value);
    if (got != expected)
        return ::testing::AssertionFailure() << "encodes to " << got;
    if (expected == "FAIL")
        return ::testing::AssertionSuccess();
    std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(value.infoPtr()));
    if (!decoded(expected, *back))
        return ::testing::AssertionFailure() << "does not decode";
    if (back->compare(value) != 0)
        return ::testing::AssertionFailure() << "decodes to " << back->asValueNotation();
    return ::testing::AssertionSuccess();
}

} // namespace per

#endif
