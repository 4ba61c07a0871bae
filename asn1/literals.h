#ifndef ASN1_LITERALS_H
#define ASN1_LITERALS_H

// Readers of quoted, bit string and octet string literals of value notation.

#include <iosfwd>
#include <string>
#include <vector>

namespace ASN1 {

// 'digits'B or 'digits'H from the stream into octets and a bit count.
bool get_value_from(std::istream& is, std::vector<char>& out, unsigned& bits);
bool get_from_bstring(std::string const& digits, std::vector<char>& out, unsigned& bits);
bool get_from_hstring(std::string const& digits, std::vector<char>& out, unsigned& bits);
// Digits of base 2 or 16 into octets (blanks and newlines skipped, the last
// group padded with "0"); false at a digit outside the base.
bool get_from_string(std::string const& digits, std::vector<char>& out, unsigned& bits, int base);
// "text" from the stream (no escapes).
bool get_string(std::istream& is, std::string& out);
// Index of the first table entry equal to the name.
bool get_id(char const* const* names, unsigned count, std::string const& name, unsigned& id);
bool input_success(std::istream& is);
bool is_space_or_newline(char c);

}  // namespace ASN1

#endif
