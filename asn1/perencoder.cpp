#include "asn1/perencoder.h"

#include <cstdint>
#include <string>

#include "asn1/asn1.h"
#include "asn1/perdecoder.h"

namespace ASN1 {

using detail::NoUpperBound;
using detail::shortFixed;

PEREncoder::PEREncoder(std::vector<char>& out, bool aligned) : out_(out), bitsFree_(8), aligned_(aligned) {
  out_.clear();
  out_.reserve(256);
}

PEREncoder::PEREncoder(std::vector<char>& out, bool aligned, AppendTag) : out_(out), bitsFree_(8), aligned_(aligned) {
  // A caller that reserved room keeps its choice.
  if (out_.capacity() == 0) out_.reserve(256);
}

void PEREncoder::encodeByte(unsigned value) {
  byteAlign();
  out_.push_back(static_cast<char>(value));
}

void PEREncoder::encodeBlock(char const* data, unsigned n) {
  if (n == 0) return;
  byteAlign();
  out_.insert(out_.end(), data, data + n);
}

void PEREncoder::encodeBitMap(std::vector<char> const& bitmap, unsigned nbits) {
  encodeBitMap(reinterpret_cast<unsigned char const*>(bitmap.data()), static_cast<unsigned>(bitmap.size()), nbits);
}

void PEREncoder::encodeBitMap(unsigned char const* bitmap, unsigned bytes, unsigned nbits) {
  // Up to four octets per write.
  unsigned i = 0;
  while (nbits > 0) {
    unsigned const take = nbits < 32 ? nbits : 32;
    unsigned word = 0;
    for (unsigned k = 0; k < (take + 7) / 8; ++k, ++i)
      word |= static_cast<unsigned>(i < bytes ? bitmap[i] : 0u) << (24 - 8 * k);
    encodeMultiBit(word >> (32 - take), take);
    nbits -= take;
  }
}

bool PEREncoder::encodeWideUnsigned(unsigned offset, unsigned range) {
  if (range == 256) {
    encodeByte(offset);
  } else if (range != 0 && range <= 65536) {
    byteAlign();
    encodeMultiBit(offset, 16);
  } else {
    unsigned const octets = offset == 0 ? 1 : (CountBits(offset + 1) + 7) / 8;
    if (!encodeUnsigned(octets, 1, (CountBits(range) + 7) / 8)) return false;
    byteAlign();
    encodeMultiBit(offset, octets * 8);
  }
  return true;
}

bool PEREncoder::encodeLength(unsigned len, unsigned lower, unsigned upper) {
  if (len < lower || len > upper) return false;
  if (upper <= 65535) return encodeUnsigned(len, lower, upper);
  if (len > 16383) return false;  // the fragmented form is not produced
  byteAlign();
  if (len <= 127) {
    encodeByte(len);
  } else {
    encodeByte(0x80 | (len >> 8));
    encodeByte(len & 0xFF);
  }
  return true;
}

void PEREncoder::encodeSmallUnsigned(unsigned value) {
  if (value <= 63) {
    encodeSingleBit(false);
    encodeMultiBit(value, 6);
    return;
  }
  encodeSingleBit(true);
  unsigned const octets = value < 0x100u ? 1 : value < 0x10000u ? 2 : value < 0x1000000u ? 3 : 4;
  encodeLength(octets, 0, NoUpperBound);
  byteAlign();
  encodeMultiBit(value, octets * 8);
}

bool PEREncoder::encodeConstraint(ConstrainedObject const& obj, unsigned value) {
  switch (obj.getConstraintType()) {
    case ExtendableConstraint: {
      int const lb = obj.getLowerLimit();
      bool const below = lb < 0 ? static_cast<int>(value) < lb : value < static_cast<unsigned>(lb);
      bool const outside = value > obj.getUpperLimit() || below;
      encodeSingleBit(outside);
      return outside;
    }
    case FixedConstraint:
      return false;
    default:
      return true;
  }
}

bool PEREncoder::encodeConstrainedLength(ConstrainedObject const& obj, unsigned len) {
  if (encodeConstraint(obj, len)) return encodeLength(len, 0, NoUpperBound);
  return encodeLength(len, static_cast<unsigned>(obj.getLowerLimit()), obj.getUpperLimit());
}

bool PEREncoder::encodeAnyType(AbstractData const* value) {
  // The value is written in place and its length put in front of it
  // afterwards; the length is aligned, and so are the octets.
  byteAlign();
  std::size_t const start = out_.size();
  if (value) {
    PEREncoder encoder(out_, aligned_, append);
    if (!value->accept(encoder)) {
      out_.resize(start);
      return false;
    }
  }
  std::size_t const n = out_.size() - start;
  if (n == 0) {
    out_.push_back(0);
    out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(start), 1);
    return true;
  }
  if (n > 16383) {
    out_.resize(start);
    return false;  // the fragmented form is not produced
  }
  std::vector<char>::iterator at = out_.begin() + static_cast<std::ptrdiff_t>(start);
  if (n <= 127) {
    out_.insert(at, static_cast<char>(n));
  } else {
    char const length[2] = {static_cast<char>(0x80 | (n >> 8)), static_cast<char>(n & 0xFF)};
    out_.insert(at, length, length + 2);
  }
  return true;
}

bool PEREncoder::encodeOpenOctets(char const* data, unsigned n) {
  if (!encodeLength(n, 0, NoUpperBound)) return false;
  encodeBlock(data, n);
  return true;
}

bool PEREncoder::do_visit(Null const&) { return true; }

bool PEREncoder::do_visit(BOOLEAN const& v) {
  encodeSingleBit(v);
  return true;
}

bool PEREncoder::do_visit(INTEGER const& v) {
  unsigned const value = static_cast<unsigned>(v.getValue());
  if (encodeConstraint(v, value)) {
    unsigned const octets = static_cast<unsigned>(getIntegerDataLength(v.getValue()));
    encodeByte(octets);  // its length with no bound: one aligned octet
    encodeMultiBit(value, octets * 8);
    return true;
  }
  return encodeUnsigned(value, static_cast<unsigned>(v.getLowerLimit()), v.getUpperLimit());
}

bool PEREncoder::do_visit(ENUMERATED const& v) {
  int const value = v.asInt();
  int const maximum = v.getMaximum();
  if (value < 0) return false;
  if (v.extendable()) {
    bool const extension = value > maximum;
    encodeSingleBit(extension);
    if (extension) {
      encodeSmallUnsigned(static_cast<unsigned>(value) + 1);
      return encodeUnsigned(static_cast<unsigned>(value), 0, static_cast<unsigned>(value));
    }
  } else if (value > maximum) {
    return false;
  }
  return encodeUnsigned(static_cast<unsigned>(value), 0, static_cast<unsigned>(maximum));
}

bool PEREncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  std::vector<char> contents;
  v.encodeCommon(contents);
  if (contents.size() > 255) return false;
  encodeUnsigned(static_cast<unsigned>(contents.size()), 0, 255);
  encodeBlock(contents.data(), static_cast<unsigned>(contents.size()));
  return true;
}

bool PEREncoder::do_visit(BIT_STRING const& v) {
  unsigned const n = v.size();
  // More than the peer's decoder accepts would be refused there.
  if (n > MaximumStringSize || !encodeConstrainedLength(v, n)) return false;
  if (n == 0) return true;
  if (aligned_ && n > 16)
    encodeBlock(v.getData().data(), (n + 7) / 8);
  else
    encodeBitMap(v.getData(), n);
  return true;
}

bool PEREncoder::do_visit(OCTET_STRING const& v) {
  unsigned const n = static_cast<unsigned>(v.size());
  if (n > MaximumStringSize || !encodeConstrainedLength(v, n)) return false;
  if (n <= 2) {
    for (unsigned i = 0; i < n; ++i) encodeMultiBit(static_cast<unsigned char>(v[i]), 8);
    return true;
  }
  encodeBlock(v.data(), n);
  return true;
}

bool PEREncoder::do_visit(AbstractString const& v) {
  unsigned const n = static_cast<unsigned>(v.size());
  if (n > MaximumStringSize || !encodeConstrainedLength(v, n)) return false;
  unsigned const bits = v.getNumBits(aligned_);
  if (!shortFixed(v, bits)) {
    if (bits == 8) {
      encodeBlock(v.data(), n);
      return true;
    }
    byteAlign();
  }
  unsigned const setBits = v.getCanonicalSetBits();
  bool const noTable = !v.getCharacterSet() || v.getCharacterSetSize() == 0;
  bool const ownCode = 4 < setBits && setBits <= bits;
  for (unsigned i = 0; i < n; ++i) {
    unsigned char const c = static_cast<unsigned char>(v[i]);
    int const pos = v.positionOf(c);
    if (pos < 0 && !(ownCode && noTable))  // no table: no check
      return false;
    encodeMultiBit(ownCode ? c : static_cast<unsigned>(pos), bits);
  }
  return true;
}

bool PEREncoder::do_visit(BMPString const& v) {
  unsigned const n = static_cast<unsigned>(v.size());
  if (n > MaximumStringSize || !encodeConstrainedLength(v, n)) return false;
  unsigned const bits = v.getNumBits(aligned_);
  if (!shortFixed(v, bits)) byteAlign();
  for (unsigned i = 0; i < n; ++i) {
    // A character outside the type's range would be cut to pieces.
    if (!v.legalCharacter(v[i])) return false;
    encodeMultiBit(static_cast<unsigned>(v[i]) - v.getFirstChar(), bits);
  }
  return true;
}

bool PEREncoder::do_visit(CHOICE const& v) {
  int const id = v.currentSelection();
  AbstractData const* alternative = v.getSelection();
  if (id < 0 || !alternative) return false;
  unsigned const index = static_cast<unsigned>(id);
  unsigned const roots = v.getNumChoices();
  if (v.extendable()) {
    bool const extension = index >= roots;
    encodeSingleBit(extension);
    if (extension) {
      encodeSmallUnsigned(index - roots);
      return encodeAnyType(alternative);
    }
  } else if (index >= roots) {
    return false;
  }
  if (roots > 1 && !encodeUnsigned(index, 0, roots - 1)) return false;
  return alternative->accept(*this);
}

bool PEREncoder::do_visit(OpenData const& v) {
  if (v.has_data()) return encodeAnyType(&v.get_data());
  if (v.has_buf()) {
    // Octets kept from a decode go out again as they came.
    std::vector<char> const& buf = v.get_buf();
    return encodeOpenOctets(buf.data(), static_cast<unsigned>(buf.size()));
  }
  return encodeAnyType(0);
}

bool PEREncoder::do_visit(GeneralizedTime const& v) {
  std::string const text = v.get();
  return encodeOpenOctets(text.data(), static_cast<unsigned>(text.size()));
}

bool PEREncoder::do_visit(SEQUENCE_OF_Base const& v) {
  unsigned const n = static_cast<unsigned>(v.size());
  if (n > MaximumArraySize || !encodeConstrainedLength(v, n)) return false;
  for (SEQUENCE_OF_Base::const_iterator it = v.begin(); it != v.end(); ++it) {
    if (!(*it)->accept(*this)) return false;
  }
  return true;
}

bool PEREncoder::preVisitExtensionRoots(SEQUENCE const& v) {
  if (v.extendable()) encodeSingleBit(v.extensionMap().any());
  SEQUENCE::BitMap const& map = v.optionalMap();
  encodeBitMap(map.data(), map.byteCount(), map.size());
  return true;
}

bool PEREncoder::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  return field && field->accept(*this);
}

bool PEREncoder::preVisitExtensions(SEQUENCE const& v) {
  SEQUENCE::BitMap const& map = v.extensionMap();
  if (!map.any()) return true;
  // Extensions only in an extensible type, only known ones (an unknown
  // one would have no octets behind its bit) and no more than the peer
  // accepts.
  if (!v.extendable() || map.size() > MaximumArraySize) return false;
  for (unsigned k = v.knownExtensionCount(); k < map.size(); ++k) {
    if (map[k]) return false;
  }
  encodeSmallUnsigned(map.size() - 1);
  encodeBitMap(map.data(), map.byteCount(), map.size());
  return true;
}

bool PEREncoder::visitKnownExtension(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  return field && encodeAnyType(field);
}

}  // namespace ASN1
