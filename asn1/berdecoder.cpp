#include "asn1/berdecoder.h"

#include <string>

#include "asn1/asn1.h"
#include "asn1/berencoder.h"

namespace ASN1 {

BERDecoder::BERDecoder(char const* begin, char const* end, CoderEnv* env)
    : Visitor(env), position_(begin), end_(end), tolerance_(0) {}

bool BERDecoder::decodeByte(unsigned char& octet) {
  if (atEnd()) return false;
  octet = static_cast<unsigned char>(*position_++);
  return true;
}

unsigned BERDecoder::decodeBlock(char* data, unsigned n) {
  unsigned const count = left() < n ? static_cast<unsigned>(left()) : n;
  std::copy(position_, position_ + count, data);
  position_ += count;
  return count;
}

bool BERDecoder::decodeHeader(unsigned& tag, bool& primitive, unsigned& length) {
  unsigned char c;
  if (!decodeByte(c)) return false;
  primitive = (c & 0x20u) == 0;
  unsigned const cls = c & 0xC0u;
  unsigned number = c & 0x1Fu;
  if (number == 31) {
    number = 0;
    unsigned char g;
    do {
      if (!decodeByte(g)) return false;
      number = (number << 7) | (g & 0x7Fu);
      if (number > 0xFFFFu) return false;  // tag numbers are held in 16 bits
    } while (g & 0x80u);
  }
  tag = (cls << 16) | number;

  if (!decodeByte(c)) return false;
  if (c < 0x80u) {
    length = c;
  } else {
    // The indefinite form (80) has no end this decoder could find.
    unsigned const k = c & 0x7Fu;
    if (k == 0 || k > 4) return false;
    length = 0;
    for (unsigned i = 0; i < k; ++i) {
      if (!decodeByte(c)) return false;
      length = (length << 8) | c;
    }
  }
  return length <= left();
}

bool BERDecoder::decodeHeader(AbstractData const& v, unsigned& length) {
  char const* const start = position_;
  unsigned tag;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) {
    position_ = start;
    return false;
  }
  if (tolerance_ > 0) {
    // A field or alternative tag in place of the value's own.
    tolerance_ = 0;
    return true;
  }
  if (tag == v.getTag()) return true;
  position_ = start;
  return false;
}

bool BERDecoder::decodeNumber(unsigned length, bool unsignedForm, int& value) {
  if (length == 0 || length > 5) return false;
  if (length == 5 && !(unsignedForm && *position_ == 0)) return false;
  long long n = static_cast<signed char>(*position_++);
  for (unsigned i = 1; i < length; ++i) n = n * 256 + static_cast<unsigned char>(*position_++);
  value = static_cast<int>(static_cast<unsigned>(n & 0xFFFFFFFFll));
  return true;
}

bool BERDecoder::decodeContents(AbstractData const& v, std::vector<char>& octets) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  octets.assign(position_, position_ + length);
  position_ += length;
  return true;
}

bool BERDecoder::do_visit(Null& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  position_ += length;
  return true;
}

bool BERDecoder::do_visit(BOOLEAN& v) {
  unsigned length;
  if (!decodeHeader(v, length) || length == 0) return false;
  v = position_[length - 1] != 0;
  position_ += length;
  return true;
}

bool BERDecoder::do_visit(INTEGER& v) {
  unsigned length;
  int value;
  if (!decodeHeader(v, length) || !decodeNumber(length, ber::codedUnsigned(v), value)) return false;
  v.setValue(value);
  return true;
}

bool BERDecoder::do_visit(ENUMERATED& v) {
  unsigned length;
  int value;
  if (!decodeHeader(v, length) || !decodeNumber(length, false, value)) return false;
  v.setFromInt(value);
  return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  char const* const contents = position_;
  position_ += length;
  return v.decodeCommon(contents, length);
}

bool BERDecoder::do_visit(OCTET_STRING& v) {
  std::vector<char> octets;
  if (!decodeContents(v, octets)) return false;
  v.assign(octets.begin(), octets.end());
  return true;
}

bool BERDecoder::do_visit(BIT_STRING& v) {
  std::vector<char> octets;
  if (!decodeContents(v, octets) || octets.empty()) return false;
  unsigned const unused = static_cast<unsigned char>(octets[0]);
  if (unused > 7 || (unused > 0 && octets.size() == 1)) return false;
  octets.erase(octets.begin());
  v.assign(octets, static_cast<unsigned>(octets.size()) * 8 - unused);
  return true;
}

bool BERDecoder::do_visit(AbstractString& v) {
  std::vector<char> octets;
  if (!decodeContents(v, octets)) return false;
  v.std::string::assign(octets.begin(), octets.end());
  return true;
}

bool BERDecoder::do_visit(BMPString& v) {
  std::vector<char> octets;
  if (!decodeContents(v, octets) || octets.size() % 2 != 0) return false;
  std::wstring text;
  for (std::size_t i = 0; i < octets.size(); i += 2)
    text.push_back(
        static_cast<wchar_t>(static_cast<unsigned char>(octets[i]) << 8 | static_cast<unsigned char>(octets[i + 1])));
  v.std::wstring::assign(text);
  return true;
}

bool BERDecoder::do_visit(GeneralizedTime& v) {
  std::vector<char> octets;
  if (!decodeContents(v, octets)) return false;
  // From the defaults, so nothing of an earlier value stays.
  GeneralizedTime fresh;
  fresh.set(std::string(octets.begin(), octets.end()).c_str());
  v = fresh;
  return true;
}

bool BERDecoder::decodeChoicePreamle(CHOICE& v, char const*& alternativeEnd) {
  char const* const start = position_;
  unsigned tag, length;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  char const* alternative = start;
  if (tolerance_ > 0 || v.getTag() != 0) {
    // That header was the choice's own; the alternative's follows.
    tolerance_ = 0;
    alternativeEnd = position_ + length;
    alternative = position_;
    ends_.push_back(alternativeEnd);
    bool const ok = decodeHeader(tag, primitive, length);
    ends_.pop_back();
    if (!ok) return false;
  } else {
    alternativeEnd = position_ + length;
  }
  position_ = alternative;
  // Without a tag table the alternatives carry the context tags [i].
  if (!v.info()->tags && (tag >> 16) != 0x80u) return false;
  if (!v.setID(tag & 0xFFFFu, tag >> 16)) return false;
  if (v.getSelectionTag() != 0) tolerance_ = 1;
  return true;
}

bool BERDecoder::do_visit(CHOICE& v) {
  char const* end = 0;
  if (!decodeChoicePreamle(v, end) || !v.getSelection()) return false;
  std::size_t const depth = ends_.size();
  ends_.push_back(end);
  bool const ok = v.getSelection()->accept(*this);
  ends_.resize(depth);
  tolerance_ = 0;
  if (!ok) return false;
  position_ = end;
  return true;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  v.clear();
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  char const* const end = position_ + length;
  std::size_t const depth = ends_.size();
  ends_.push_back(end);
  while (position_ < end) {
    AbstractData* element = v.createElement();
    char const* const before = position_;
    tolerance_ = 0;
    if (!element || !element->accept(*this) || position_ == before) {
      delete element;
      ends_.resize(depth);
      return false;
    }
    v.push_back(element);
  }
  ends_.resize(depth);
  position_ = end;
  return true;
}

bool BERDecoder::do_visit(OpenData& v) {
  char const* const start = position_;
  bool const tagged = tolerance_ > 0 || v.getTag() != 0;
  tolerance_ = 0;
  unsigned tag, length;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  // A header of the open type's own wraps the contained encoding; an
  // untagged open type is that encoding, header included.
  char const* const from = tagged ? position_ : start;
  position_ += length;
  if (!v.has_buf()) v.grab(new std::vector<char>());
  v.get_buf().assign(from, position_);
  return true;
}

bool BERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  std::vector<char> const& buf = v.get_buf();
  BERDecoder inner(buf.data(), buf.data() + buf.size(), get_env());
  return v.get_data().accept(inner);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& v) {
  if (!v.has_data()) return false;
  bool const tagged = tolerance_ > 0 || v.getTag() != 0;
  tolerance_ = 0;
  if (!tagged) return v.get_data().accept(*this);
  unsigned tag, length;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  char const* const end = position_ + length;
  std::size_t const depth = ends_.size();
  ends_.push_back(end);
  bool const ok = v.get_data().accept(*this) && position_ == end;
  ends_.resize(depth);
  return ok;
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return Fail;
  // A SEQUENCE of length 0 is complete, also as the last octets of the
  // input.
  ends_.push_back(position_ + length);
  return ContinueWithExt;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optId) {
  bool const mandatory = optId < 0;
  if (position_ >= limit()) return absentField(v, optId);
  char const* const start = position_;
  unsigned tag, length;
  bool primitive;
  bool const ok = decodeHeader(tag, primitive, length);
  position_ = start;
  if (!ok) return Fail;
  unsigned const fieldTag = v.getFieldTag(index);
  // Fields come in order: a mandatory one cannot be missing.
  if (fieldTag != 0 && tag != fieldTag) return absentField(v, optId);
  AbstractData* field = presentField(v, index, optId);
  if (!field) return Fail;
  if (v.tagMode() != 2) tolerance_ = 1;
  std::size_t const depth = ends_.size();
  if (!field->accept(*this)) {
    ends_.resize(depth);
    tolerance_ = 0;
    if (!mandatory) v.removeOptionalField(static_cast<unsigned>(optId));
    return fieldTag == 0 && !mandatory ? ContinueWithExt : Fail;
  }
  return ContinueWithExt;
}

int BERDecoder::visitKnownExtension(SEQUENCE& v, int index, int optId) { return visitExtensionRoot(v, index, optId); }

int BERDecoder::visitUnknownExtensions(SEQUENCE& v) {
  char const* const end = ends_.back();
  ends_.pop_back();
  // Unknown extensions are skipped; a type without an extension marker
  // has nothing to skip, so octets left over are corrupt.
  if (position_ != end && !v.extendable()) return Fail;
  position_ = end;
  return Stop;
}

}  // namespace ASN1
