#include "asn1/abstractstring.h"

#include <ostream>

#include "asn1/visitor.h"

namespace ASN1 {

char const NumericStringSet[11] = {' ', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
char const PrintableStringSet[74] = {' ', '\'', '(', ')', '+', ',', '-', '.', '/', '0', '1', '2', '3', '4', '5',
                                     '6', '7',  '8', '9', ':', '=', '?', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H',
                                     'I', 'J',  'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W',
                                     'X', 'Y',  'Z', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l',
                                     'm', 'n',  'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z'};
char const VisibleStringSet[95] = {
    '\x20', '\x21', '\x22', '\x23', '\x24', '\x25', '\x26', '\x27', '\x28', '\x29', '\x2a', '\x2b', '\x2c', '\x2d',
    '\x2e', '\x2f', '0',    '1',    '2',    '3',    '4',    '5',    '6',    '7',    '8',    '9',    '\x3a', '\x3b',
    '\x3c', '\x3d', '\x3e', '\x3f', '\x40', 'A',    'B',    'C',    'D',    'E',    'F',    'G',    'H',    'I',
    'J',    'K',    'L',    'M',    'N',    'O',    'P',    'Q',    'R',    'S',    'T',    'U',    'V',    'W',
    'X',    'Y',    'Z',    '\x5b', '\x5c', '\x5d', '\x5e', '\x5f', '\x60', 'a',    'b',    'c',    'd',    'e',
    'f',    'g',    'h',    'i',    'j',    'k',    'l',    'm',    'n',    'o',    'p',    'q',    'r',    's',
    't',    'u',    'v',    'w',    'x',    'y',    'z',    '\x7b', '\x7c', '\x7d', '\x7e'};
char const IA5StringSet[128] = {
    '\x00', '\x01', '\x02', '\x03', '\x04', '\x05', '\x06', '\x07', '\x08', '\x09', '\x0a', '\x0b', '\x0c',
    '\x0d', '\x0e', '\x0f', '\x10', '\x11', '\x12', '\x13', '\x14', '\x15', '\x16', '\x17', '\x18', '\x19',
    '\x1a', '\x1b', '\x1c', '\x1d', '\x1e', '\x1f', '\x20', '\x21', '\x22', '\x23', '\x24', '\x25', '\x26',
    '\x27', '\x28', '\x29', '\x2a', '\x2b', '\x2c', '\x2d', '\x2e', '\x2f', '0',    '1',    '2',    '3',
    '4',    '5',    '6',    '7',    '8',    '9',    '\x3a', '\x3b', '\x3c', '\x3d', '\x3e', '\x3f', '\x40',
    'A',    'B',    'C',    'D',    'E',    'F',    'G',    'H',    'I',    'J',    'K',    'L',    'M',
    'N',    'O',    'P',    'Q',    'R',    'S',    'T',    'U',    'V',    'W',    'X',    'Y',    'Z',
    '\x5b', '\x5c', '\x5d', '\x5e', '\x5f', '\x60', 'a',    'b',    'c',    'd',    'e',    'f',    'g',
    'h',    'i',    'j',    'k',    'l',    'm',    'n',    'o',    'p',    'q',    'r',    's',    't',
    'u',    'v',    'w',    'x',    'y',    'z',    '\x7b', '\x7c', '\x7d', '\x7e', '\x7f'};
char const GeneralStringSet[256] = {
    '\x00', '\x01', '\x02', '\x03', '\x04', '\x05', '\x06', '\x07', '\x08', '\x09', '\x0a', '\x0b', '\x0c', '\x0d',
    '\x0e', '\x0f', '\x10', '\x11', '\x12', '\x13', '\x14', '\x15', '\x16', '\x17', '\x18', '\x19', '\x1a', '\x1b',
    '\x1c', '\x1d', '\x1e', '\x1f', '\x20', '\x21', '\x22', '\x23', '\x24', '\x25', '\x26', '\x27', '\x28', '\x29',
    '\x2a', '\x2b', '\x2c', '\x2d', '\x2e', '\x2f', '0',    '1',    '2',    '3',    '4',    '5',    '6',    '7',
    '8',    '9',    '\x3a', '\x3b', '\x3c', '\x3d', '\x3e', '\x3f', '\x40', 'A',    'B',    'C',    'D',    'E',
    'F',    'G',    'H',    'I',    'J',    'K',    'L',    'M',    'N',    'O',    'P',    'Q',    'R',    'S',
    'T',    'U',    'V',    'W',    'X',    'Y',    'Z',    '\x5b', '\x5c', '\x5d', '\x5e', '\x5f', '\x60', 'a',
    'b',    'c',    'd',    'e',    'f',    'g',    'h',    'i',    'j',    'k',    'l',    'm',    'n',    'o',
    'p',    'q',    'r',    's',    't',    'u',    'v',    'w',    'x',    'y',    'z',    '\x7b', '\x7c', '\x7d',
    '\x7e', '\x7f', '\x80', '\x81', '\x82', '\x83', '\x84', '\x85', '\x86', '\x87', '\x88', '\x89', '\x8a', '\x8b',
    '\x8c', '\x8d', '\x8e', '\x8f', '\x90', '\x91', '\x92', '\x93', '\x94', '\x95', '\x96', '\x97', '\x98', '\x99',
    '\x9a', '\x9b', '\x9c', '\x9d', '\x9e', '\x9f', '\xa0', '\xa1', '\xa2', '\xa3', '\xa4', '\xa5', '\xa6', '\xa7',
    '\xa8', '\xa9', '\xaa', '\xab', '\xac', '\xad', '\xae', '\xaf', '\xb0', '\xb1', '\xb2', '\xb3', '\xb4', '\xb5',
    '\xb6', '\xb7', '\xb8', '\xb9', '\xba', '\xbb', '\xbc', '\xbd', '\xbe', '\xbf', '\xc0', '\xc1', '\xc2', '\xc3',
    '\xc4', '\xc5', '\xc6', '\xc7', '\xc8', '\xc9', '\xca', '\xcb', '\xcc', '\xcd', '\xce', '\xcf', '\xd0', '\xd1',
    '\xd2', '\xd3', '\xd4', '\xd5', '\xd6', '\xd7', '\xd8', '\xd9', '\xda', '\xdb', '\xdc', '\xdd', '\xde', '\xdf',
    '\xe0', '\xe1', '\xe2', '\xe3', '\xe4', '\xe5', '\xe6', '\xe7', '\xe8', '\xe9', '\xea', '\xeb', '\xec', '\xed',
    '\xee', '\xef', '\xf0', '\xf1', '\xf2', '\xf3', '\xf4', '\xf5', '\xf6', '\xf7', '\xf8', '\xf9', '\xfa', '\xfb',
    '\xfc', '\xfd', '\xfe', '\xff'};

#define ASN1_STRING_INFO(Name, tag, set, setBits, unaligned, aligned) \
  Name::InfoType const Name::theInfo = {                              \
      {{&Name::create, tag}, Unconstrained, 0, 0xFFFFFFFFu}, set, sizeof(set), setBits, unaligned, aligned}

ASN1_STRING_INFO(NumericString, 18, NumericStringSet, 4, 4, 4);
ASN1_STRING_INFO(PrintableString, 19, PrintableStringSet, 7, 7, 8);
ASN1_STRING_INFO(VisibleString, 26, VisibleStringSet, 7, 7, 8);
ASN1_STRING_INFO(IA5String, 22, IA5StringSet, 7, 7, 8);
ASN1_STRING_INFO(GeneralString, 27, GeneralStringSet, 8, 8, 8);

#undef ASN1_STRING_INFO

AbstractData* AbstractString::create(void const* info) { return info ? new AbstractString(info) : 0; }

int AbstractString::positionOf(unsigned char c) const {
  char const* set = getCharacterSet();
  unsigned const n = set ? getCharacterSetSize() : 0;
  unsigned lo = 0, hi = n;
  while (lo < hi) {
    unsigned const mid = lo + (hi - lo) / 2;
    if (static_cast<unsigned char>(set[mid]) < c)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < n && static_cast<unsigned char>(set[lo]) == c ? static_cast<int>(lo) : -1;
}

AbstractString::size_type AbstractString::find_first_invalid() const {
  if (!getCharacterSet() || getCharacterSetSize() == 0) return npos;
  for (size_type i = 0; i < size(); ++i) {
    if (positionOf(static_cast<unsigned char>((*this)[i])) < 0) return i;
  }
  return npos;
}

bool AbstractString::isStrictlyValid() const {
  return sizeStrictlyValid(static_cast<unsigned>(size())) && find_first_invalid() == npos;
}

bool AbstractString::isValid() const {
  return sizeValidUnlessExtendable(static_cast<unsigned>(size())) && find_first_invalid() == npos;
}

AbstractData* AbstractString::do_clone() const { return cloneOf(*this); }

bool AbstractString::do_accept(Visitor& v) { return v.visit(*this); }

bool AbstractString::do_accept(ConstVisitor& v) const { return v.visit(*this); }

std::ostream& operator<<(std::ostream& os, AbstractString const& s) { return os << static_cast<std::string const&>(s); }

}  // namespace ASN1
