#include "asn1/literals.h"

#include <cctype>
#include <cstdlib>
#include <istream>

namespace ASN1 {

bool is_space_or_newline(char c) { return c == ' ' || c == '\n'; }

bool input_success(std::istream& is) { return !(is.rdstate() & (std::ios_base::failbit | std::ios_base::badbit)); }

namespace {
// Next character that is not a blank or a newline.
bool nextNonBlank(std::istream& is, char& c) {
  while (is.get(c)) {
    if (!is_space_or_newline(c)) return true;
  }
  return false;
}
}  // namespace

bool get_value_from(std::istream& is, std::vector<char>& out, unsigned& bits) {
  char c;
  if (!nextNonBlank(is, c) || c != '\'') return false;
  std::string digits;
  if (!std::getline(is, digits, '\'')) return false;
  if (!nextNonBlank(is, c)) return false;
  if (c == 'B') return get_from_bstring(digits, out, bits);
  if (c == 'H') return get_from_hstring(digits, out, bits);
  return false;
}

bool get_from_bstring(std::string const& digits, std::vector<char>& out, unsigned& bits) {
  return get_from_string(digits, out, bits, 2);
}

bool get_from_hstring(std::string const& digits, std::vector<char>& out, unsigned& bits) {
  return get_from_string(digits, out, bits, 16);
}

bool get_from_string(std::string const& digits, std::vector<char>& out, unsigned& bits, int base) {
  std::string d;
  for (char c : digits) {
    if (!is_space_or_newline(c)) d += c;
  }
  unsigned const width = base == 2 ? 8 : 2;
  bits = static_cast<unsigned>(d.size()) * (base == 2 ? 1 : 4);
  if (d.size() % width != 0) d.append(width - d.size() % width, '0');
  out.reserve(out.size() + d.size() / width);
  for (std::size_t i = 0; i < d.size(); i += width) {
    std::string const group = d.substr(i, width);
    // strtol alone would also take a sign or a "0x" prefix.
    for (char c : group) {
      bool const digit = base == 2 ? (c == '0' || c == '1') : std::isxdigit(static_cast<unsigned char>(c)) != 0;
      if (!digit) return false;
    }
    char* end = 0;
    long const v = std::strtol(group.c_str(), &end, base);
    if (end != group.c_str() + group.size()) return false;
    out.push_back(static_cast<char>(v));
  }
  return true;
}

bool get_string(std::istream& is, std::string& out) {
  char c;
  if (!nextNonBlank(is, c) || c != '"') return false;
  out.clear();
  std::getline(is, out, '"');
  // A text the input ends inside has no closing quote.
  return input_success(is) && !is.eof();
}

bool get_id(char const* const* names, unsigned count, std::string const& name, unsigned& id) {
  for (unsigned i = 0; i < count; ++i) {
    if (name == names[i]) {
      id = i;
      return true;
    }
  }
  return false;
}

}  // namespace ASN1
