#ifndef TESTS_SUPPORT_PER_IMAGE_H
#define TESTS_SUPPORT_PER_IMAGE_H

// Aligned PER byte images of schema values, as hexadecimal text ("C0 01 05"),
// for tests that compare what goes on the wire with the images the protocol
// documents.

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace testsupport {

inline std::string hex(std::vector<char> const& bytes)
{
    std::string s;
    char buf[4];
    for (char c : bytes) {
        std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", static_cast<unsigned char>(c));
        s += buf;
    }
    return s;
}

// The same without blanks ("C00105"), as the simulator's words write frames.
inline std::string hex_word(char const* data, std::size_t n)
{
    static char const digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char const c = static_cast<unsigned char>(data[i]);
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

// Octets of a text of hexadecimal pairs separated by blanks.
inline std::vector<char> bytes(std::string const& text)
{
    std::vector<char> out;
    unsigned v = 0;
    int digits = 0;
    for (char c : text) {
        int d = (c >= '0' && c <= '9') ? c - '0'
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0)
            continue;
        v = v * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            out.push_back(static_cast<char>(v));
            v = 0;
            digits = 0;
        }
    }
    return out;
}

// The encoding of the value, or "encode failed".
inline std::string per(ASN1::AbstractData const& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> out;
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return "encode failed";
    return hex(out);
}

inline bool decode(std::vector<char> const& in, ASN1::AbstractData& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    char const* p = in.empty() ? "" : in.data();
    return ASN1::decode(p, p + in.size(), &env, value, true);
}

inline bool decode(std::string const& image, ASN1::AbstractData& value)
{
    return decode(bytes(image), value);
}

// Encodes, decodes into a fresh T and tells whether the copy equals the
// original; `image` receives the encoding.
template <class T>
bool round_trip(T const& value, std::string* image = nullptr)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> out;
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return false;
    if (image)
        *image = hex(out);
    T copy;
    return decode(out, copy) && copy == value;
}

} // namespace testsupport

#endif
