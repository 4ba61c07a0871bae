#include "asn1/perdecoder.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace ASN1 {

unsigned const MaximumArraySize = 128;
unsigned const MaximumStringSize = 16384;

using detail::NoUpperBound;
using detail::shortFixed;

bool detail::shortFixed(ConstrainedObject const& v, unsigned bitsPerChar) {
  return v.getConstraintType() != Unconstrained &&
         static_cast<unsigned long long>(v.getUpperLimit()) * bitsPerChar <= 16;
}

PERDecoder::PERDecoder(char const* begin, char const* end, CoderEnv* env, bool aligned)
    : Visitor(env), position_(begin), end_(end < begin ? begin : end), bitsLeft_(8), aligned_(aligned) {}

void PERDecoder::byteAlign() {
  if (bitsLeft_ != 8) {
    bitsLeft_ = 8;
    ++position_;
  }
}

void PERDecoder::setPosition(char const* p) {
  position_ = p > end_ ? end_ : p;
  bitsLeft_ = 8;
}

void PERDecoder::rollback(memento_type const& m) {
  if (!m.position) return;
  position_ = m.position > end_ ? end_ : m.position;
  bitsLeft_ = static_cast<unsigned short>(m.bitsLeft);
}

unsigned long PERDecoder::remaining() const {
  return position_ < end_ ? static_cast<unsigned long>(end_ - position_) : 0;
}

// The position n octets on, clamped to the end (never formed beyond it).
char const* PERDecoder::ahead(unsigned n) const { return n > remaining() ? end_ : position_ + n; }

bool PERDecoder::decodeBitMap(std::vector<char>& bitmap, unsigned nbits) {
  return decodeBitMap(reinterpret_cast<unsigned char*>(bitmap.data()), static_cast<unsigned>(bitmap.size()), nbits);
}

bool PERDecoder::decodeBitMap(unsigned char* bitmap, unsigned bytes, unsigned nbits) {
  // nbits + 7 in 64 bits: a long of 32 bits would let it wrap to 0 octets.
  if (getBitsLeft() < nbits || bytes < (static_cast<unsigned long long>(nbits) + 7) / 8) return false;
  // Up to four octets per read.
  unsigned i = 0;
  while (nbits > 0) {
    unsigned const take = nbits < 32 ? nbits : 32;
    unsigned word = 0;
    decodeMultiBit(take, word);
    word <<= 32 - take;
    for (unsigned k = 0; k < (take + 7) / 8; ++k, ++i) bitmap[i] = static_cast<unsigned char>(word >> (24 - 8 * k));
    nbits -= take;
  }
  return true;
}

unsigned PERDecoder::decodeBlock(char* data, unsigned n) {
  if (n == 0) return 0;
  byteAlign();
  unsigned const count = static_cast<unsigned>(ahead(n) - position_);
  if (count) std::memcpy(data, position_, count);
  position_ += count;
  return count;
}

int PERDecoder::decodeWideUnsigned(unsigned lower, unsigned range, unsigned& value) {
  unsigned bits = CountBits(range);
  if (bits > 16) {
    unsigned octets = 0;
    if (decodeLength(1, (bits + 7) / 8, octets) != 0) return -1;
    bits = octets * 8;
  } else if (bits > 8) {
    bits = 16;
  }
  byteAlign();
  unsigned n = 0;
  if (!decodeMultiBit(bits, n)) return -1;
  value = n + lower;
  return 0;
}

int PERDecoder::decodeLength(unsigned lower, unsigned upper, unsigned& len) {
  if (upper <= 65535) return decodeUnsigned(lower, upper, len);
  byteAlign();
  if (atEnd()) return -1;
  unsigned first = 0;
  decodeMultiBit(8, first);
  if ((first & 0x80) == 0) {
    len = first;
    return 0;
  }
  if ((first & 0x40) != 0) return -1;  // a fragment: never accepted
  unsigned second = 0;
  if (!decodeMultiBit(8, second)) return -1;
  len = ((first & 0x3F) << 8) | second;
  return 0;
}

bool PERDecoder::decodeOpenLength(unsigned& len) {
  // The one-octet form (0..127) is nearly every length on the links.
  byteAlign();
  if (position_ < end_ && (*position_ & 0x80) == 0) {
    len = static_cast<unsigned char>(*position_++);
    return true;
  }
  return decodeLength(0, NoUpperBound, len) == 0;
}

bool PERDecoder::decodeOpenOctets(std::vector<char>& octets) {
  unsigned len = 0;
  if (!decodeOpenLength(len)) return false;
  octets.resize(len);
  return decodeBlock(octets.data(), len) == len;
}

bool PERDecoder::decodeSmallUnsigned(unsigned& value) {
  if (decodeSingleBit() == 0) return decodeMultiBit(6, value);
  unsigned octets = 0;
  if (!decodeOpenLength(octets) || octets > 4) return false;
  byteAlign();
  return decodeMultiBit(octets * 8, value);
}

int PERDecoder::decodeConstrainedLength(ConstrainedObject const& obj, unsigned& len) {
  switch (obj.getConstraintType()) {
    case ExtendableConstraint:
      if (decodeSingleBit()) return decodeLength(0, NoUpperBound, len);
      break;
    case FixedConstraint:
      break;
    default:
      // The encoder writes these without their bounds.
      return decodeLength(0, NoUpperBound, len);
  }
  return decodeLength(static_cast<unsigned>(obj.getLowerLimit()), obj.getUpperLimit(), len);
}

bool PERDecoder::decodeChoicePreamle(CHOICE& v, memento_type& m) {
  if (atEnd()) return false;
  unsigned const roots = v.getNumChoices();
  if (v.extendable() && decodeSingleBit()) {
    unsigned n = 0, len = 0;
    if (!decodeSmallUnsigned(n) || !decodeOpenLength(len)) return false;
    m = memento_type(ahead(len), 8);
    // n is compared with the number of known extensions, never added to
    // the root count first: on a 32-bit target that sum wraps onto a
    // root alternative.
    unsigned const total = v.getTotalChoices();
    unsigned const extensions = total > roots ? total - roots : 0;
    if (n >= extensions) {
      // An alternative this side does not know: skipped, as an unknown
      // SEQUENCE extension is, only when all its octets are there; else a
      // cut frame would pass.
      if (len > remaining()) return false;
      v.setSelection(CHOICE::UnknownSelection, 0);
      return true;
    }
    return v.select(static_cast<int>(roots + n));
  }
  if (roots == 0) return false;
  unsigned index = 0;
  if (roots > 1 && decodeUnsigned(0, roots - 1, index) != 0) return false;
  if (index >= roots) return false;  // a root index must name a root alternative
  return v.select(static_cast<int>(index));
}

bool PERDecoder::do_visit(Null&) { return true; }

bool PERDecoder::do_visit(BOOLEAN& v) {
  if (atEnd()) return false;
  v = decodeSingleBit() != 0;
  return true;
}

bool PERDecoder::do_visit(INTEGER& v) {
  ConstraintType const type = v.getConstraintType();
  bool const extension = type == ExtendableConstraint && decodeSingleBit();
  if ((type == FixedConstraint || type == ExtendableConstraint) && !extension) {
    unsigned value = 0;
    if (decodeUnsigned(static_cast<unsigned>(v.getLowerLimit()), v.getUpperLimit(), value) != 0) return false;
    v.setValue(static_cast<int>(value));
    return true;
  }
  unsigned octets = 0;
  if (!decodeOpenLength(octets) || octets > 4) return false;
  if (octets == 0) {
    v.setValue(0);
    return true;
  }
  unsigned value = 0;
  if (!decodeMultiBit(octets * 8, value)) return false;
  // The encoder writes two's complement: extend the sign.
  if (octets < 4 && (value & (1u << (octets * 8 - 1)))) value |= ~0u << (octets * 8);
  v.setValue(static_cast<int>(value));
  return true;
}

bool PERDecoder::do_visit(ENUMERATED& v) {
  if (v.extendable()) {
    if (atEnd()) return false;
    if (decodeSingleBit()) {
      unsigned n = 0, value = 0;
      if (!decodeSmallUnsigned(n) || n < 1 || decodeUnsigned(0, n - 1, value) != 0) return false;
      v.setFromInt(static_cast<int>(value));
      return true;
    }
  }
  int const maximum = v.getMaximum();
  if (maximum < 0) return false;  // no value of such a root can be sent
  unsigned value = 0;
  if (decodeUnsigned(0, static_cast<unsigned>(maximum), value) != 0) return false;
  v.setFromInt(static_cast<int>(value));
  return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  unsigned count = 0;
  if (decodeUnsigned(0, 255, count) != 0) return false;
  byteAlign();
  if (count > remaining()) return false;
  char const* contents = position_;
  position_ += count;
  return v.decodeCommon(contents, count);
}

bool PERDecoder::do_visit(OCTET_STRING& v) {
  unsigned len = 0;
  if (decodeConstrainedLength(v, len) != 0 || len > MaximumStringSize) return false;
  v.resize(len);
  if (len == 0) return true;
  if (len <= 2) {
    for (unsigned i = 0; i < len; ++i) {
      unsigned octet = 0;
      if (!decodeMultiBit(8, octet)) return false;
      v[i] = static_cast<char>(octet);
    }
    return true;
  }
  return decodeBlock(v.data(), len) == len;
}

bool PERDecoder::do_visit(BIT_STRING& v) {
  unsigned bits = 0;
  if (decodeConstrainedLength(v, bits) != 0 || bits > MaximumStringSize) return false;
  std::vector<char> data((bits + 7) / 8, 0);
  if (bits > 0) {
    if (getBitsLeft() < bits) return false;
    if (aligned_ && bits > 16) {
      unsigned const octets = static_cast<unsigned>(data.size());
      if (decodeBlock(data.data(), octets) != octets) return false;
    } else if (!decodeBitMap(data, bits)) {
      return false;
    }
  }
  v.assign(data, bits);
  return true;
}

bool PERDecoder::do_visit(AbstractString& v) {
  unsigned len = 0;
  if (decodeConstrainedLength(v, len) != 0 || len > MaximumStringSize) return false;
  unsigned const bits = v.getNumBits(aligned_);
  v.resize(len);
  if (!shortFixed(v, bits)) {
    if (bits == 8) {
      if (decodeBlock(&v[0], len) < len) {
        v.clear();
        return false;
      }
      return true;
    }
    byteAlign();
  }
  unsigned const setBits = v.getCanonicalSetBits();
  char const* set = v.getCharacterSet();
  unsigned const setSize = set ? v.getCharacterSetSize() : 0;
  bool const ownCode = 4 < setBits && setBits <= bits;
  for (unsigned i = 0; i < len; ++i) {
    unsigned c = 0;
    if (!decodeMultiBit(bits, c)) return false;
    if (ownCode) {
      v[i] = static_cast<char>(c);
    } else {
      if (c >= setSize) return false;  // no such character in the table
      v[i] = set[c];
    }
  }
  return true;
}

bool PERDecoder::do_visit(BMPString& v) {
  unsigned len = 0;
  if (decodeConstrainedLength(v, len) != 0 || len > MaximumStringSize) return false;
  v.resize(len);
  unsigned const bits = v.getNumBits(aligned_);
  if (!shortFixed(v, bits)) byteAlign();
  for (unsigned i = 0; i < len; ++i) {
    unsigned c = 0;
    if (!decodeMultiBit(bits, c)) return false;
    v[i] = static_cast<wchar_t>(c + v.getFirstChar());
  }
  return true;
}

bool PERDecoder::do_visit(CHOICE& v) {
  memento_type end;
  if (!decodeChoicePreamle(v, end)) return false;
  if (!v.isUnknownSelection()) {
    AbstractData* alternative = v.getSelection();
    if (!alternative || !(end.position ? acceptWithin(*alternative, end.position) : alternative->accept(*this)))
      return false;
  }
  rollback(end);
  return true;
}

// A value inside an open type is read from the open type's octets only: a
// value that needs more must not take them from what follows.
bool PERDecoder::acceptWithin(AbstractData& value, char const* openEnd) {
  char const* const outer = end_;
  if (openEnd < end_) end_ = openEnd;
  bool const ok = value.accept(*this);
  end_ = outer;
  return ok;
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  unsigned count = 0;
  if (decodeConstrainedLength(v, count) != 0 || count > MaximumArraySize) return false;
  v.resize(count);
  if (v.size() != count) return false;
  for (SEQUENCE_OF_Base::iterator it = v.begin(); it != v.end(); ++it) {
    if (!*it) *it = v.createElement();
    if (!*it || !(*it)->accept(*this)) {
      v.erase(it, v.end());
      return false;
    }
  }
  return true;
}

bool PERDecoder::do_visit(OpenData& v) {
  std::unique_ptr<std::vector<char> > octets(new std::vector<char>);
  if (!decodeOpenOctets(*octets)) return false;
  v.grab(octets.release());
  return true;
}

bool PERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  std::vector<char> const& buf = v.get_buf();
  PERDecoder inner(buf.data(), buf.data() + buf.size(), get_env(), true);
  return v.get_data().accept(inner);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& v) {
  unsigned len = 0;
  if (!decodeOpenLength(len)) return false;
  char const* end = ahead(len);
  bool const ok = v.has_data() && acceptWithin(v.get_data(), end);
  setPosition(end);
  return ok;
}

bool PERDecoder::do_visit(GeneralizedTime& v) {
  std::vector<char> octets;
  if (!decodeOpenOctets(octets)) return false;
  // From the defaults, so that nothing of a value decoded before (a UTC
  // flag, a fraction, an offset) survives into this one.
  GeneralizedTime time;
  time.set(std::string(octets.begin(), octets.end()).c_str());
  v = time;
  return true;
}

int PERDecoder::preVisitExtensionRoots(SEQUENCE& v) {
  bool extension = false;
  if (v.extendable()) {
    if (atEnd()) return Fail;
    extension = decodeSingleBit() != 0;
  }
  SEQUENCE::BitMap& optional = v.optionalMap();
  if (optional.size() > 0 && !decodeBitMap(optional.data(), optional.byteCount(), optional.size())) return Fail;
  if (!extension) v.extensionMap().resize(0);  // none on the wire
  return extension ? ContinueWithExt : Continue;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optId) {
  if (optId != -1 && !v.hasOptionalField(static_cast<unsigned>(optId))) return ContinueWithExt;
  AbstractData* field = v.makeField(static_cast<unsigned>(index));
  if (!field || !field->accept(*this)) return Fail;
  return ContinueWithExt;
}

int PERDecoder::preVisitExtensions(SEQUENCE& v) {
  unsigned n = 0;
  if (!decodeSmallUnsigned(n) || n >= MaximumArraySize) return Fail;
  SEQUENCE::BitMap& map = v.extensionMap();
  map.resize(n + 1);
  if (!decodeBitMap(map.data(), map.byteCount(), n + 1)) return Fail;
  return ContinueWithExt;
}

int PERDecoder::visitKnownExtension(SEQUENCE& v, int index, int optId) {
  if (!v.hasOptionalField(static_cast<unsigned>(optId))) return ContinueWithExt;
  unsigned len = 0;
  if (!decodeOpenLength(len)) return Fail;
  char const* end = ahead(len);
  AbstractData* field = v.makeField(static_cast<unsigned>(index));
  bool const ok = field && acceptWithin(*field, end);
  setPosition(end);
  return ok ? ContinueWithExt : Fail;
}

int PERDecoder::visitUnknownExtensions(SEQUENCE& v) {
  SEQUENCE::BitMap const& map = v.extensionMap();
  for (unsigned k = v.knownExtensionCount(); k < map.size(); ++k) {
    if (!map[k]) continue;
    unsigned len = 0;
    if (!decodeOpenLength(len)) return Fail;
    if (len > remaining()) return Fail;
    position_ += len;
  }
  return Stop;
}

}  // namespace ASN1
