#include "asn1/berencoder.h"

#include <string>

#include "asn1/asn1.h"

namespace ASN1 {

namespace ber {

bool codedUnsigned(INTEGER const& v) { return v.constrained() && v.getLowerLimit() >= 0; }

unsigned integerLength(INTEGER const& v) {
  if (codedUnsigned(v) && static_cast<unsigned>(v.getValue()) > 0x7FFFFFFFu)
    return 5;  // a leading 00 keeps the top bit from reading as a sign
  return static_cast<unsigned>(getIntegerDataLength(v.getValue()));
}

}  // namespace ber

namespace {

unsigned tagNumber(unsigned tag) { return tag & 0xFFFFu; }

// The object length of a value coded under `tag` (ber::OwnTag: its own).
unsigned objectLength(AbstractData const& v, unsigned tag) { return getObjectLength(v, tag); }

}  // namespace

unsigned berTagLength(unsigned tag) {
  unsigned n = tagNumber(tag);
  if (n < 31) return 1;
  unsigned octets = 1;
  for (; n; n >>= 7) ++octets;
  return octets;
}

unsigned berLengthLength(unsigned length) {
  if (length < 128) return 1;
  return 1 + (CountBits(length + 1) + 7) / 8;
}

unsigned getDataLength(AbstractData const& value) {
  DataLengthCounter counter;
  value.accept(counter);
  return counter.getDataLen();
}

unsigned getObjectLength(AbstractData const& value, unsigned tag) {
  if (tag == ber::OwnTag) tag = value.getTag();
  DataLengthCounter counter;
  value.accept(counter);
  if (tag == 0) return counter.getDataLen();
  return counter.getObjectLen(tag);
}

// ---------------------------------------------------------------- lengths

unsigned DataLengthCounter::getObjectLen(unsigned tag) const {
  return berTagLength(tag) + berLengthLength(len_) + len_;
}

bool DataLengthCounter::do_visit(Null const&) { return true; }

bool DataLengthCounter::do_visit(BOOLEAN const&) {
  len_ += 1;
  return true;
}

bool DataLengthCounter::do_visit(INTEGER const& v) {
  len_ += ber::integerLength(v);
  return true;
}

bool DataLengthCounter::do_visit(ENUMERATED const& v) {
  len_ += static_cast<unsigned>(getIntegerDataLength(v.asInt()));
  return true;
}

bool DataLengthCounter::do_visit(OBJECT_IDENTIFIER const& v) {
  std::vector<char> octets;
  v.encodeCommon(octets);
  len_ += static_cast<unsigned>(octets.size());
  return true;
}

bool DataLengthCounter::do_visit(BIT_STRING const& v) {
  len_ += 1 + (v.size() + 7) / 8;
  return true;
}

bool DataLengthCounter::do_visit(OCTET_STRING const& v) {
  len_ += static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(AbstractString const& v) {
  len_ += static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(BMPString const& v) {
  len_ += 2 * static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(CHOICE const& v) {
  if (v.currentSelection() >= 0 && v.getSelection()) len_ += objectLength(*v.getSelection(), v.getSelectionTag());
  return true;
}

bool DataLengthCounter::do_visit(OpenData const& v) {
  // The contents are the whole encoding of the contained value (or the
  // stored octets, which hold one).
  if (v.has_data())
    len_ += objectLength(v.get_data(), ber::OwnTag);
  else if (v.has_buf())
    len_ += static_cast<unsigned>(v.get_buf().size());
  return true;
}

bool DataLengthCounter::do_visit(GeneralizedTime const& v) {
  len_ += static_cast<unsigned>(v.get().size());
  return true;
}

bool DataLengthCounter::do_visit(SEQUENCE_OF_Base const& v) {
  for (AbstractData const* e : v) len_ += objectLength(*e, ber::OwnTag);
  return true;
}

bool DataLengthCounter::preVisitExtensionRoots(SEQUENCE const&) { return true; }

bool DataLengthCounter::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  if (field) len_ += objectLength(*field, v.getFieldTag(index));
  return true;
}

bool DataLengthCounter::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

// ---------------------------------------------------------------- form

// A CHOICE or an open type that has a header of its own wraps a complete
// encoding, so that header is constructed.
bool PrimitiveChecker::do_visit(CHOICE const&) { return false; }

bool PrimitiveChecker::do_visit(OpenData const&) { return false; }

bool PrimitiveChecker::do_visit(SEQUENCE_OF_Base const&) { return false; }

bool PrimitiveChecker::preVisitExtensionRoots(SEQUENCE const&) { return false; }

// ---------------------------------------------------------------- encoder

BEREncoder::BEREncoder(std::vector<char>& out) : out_(out), tag_(ber::OwnTag) {
  out_.clear();
  out_.reserve(256);
}

void BEREncoder::encodeHeader(unsigned tag, bool constructed, unsigned length) {
  unsigned const cls = (tag >> 16) & 0xC0u;
  unsigned const number = tagNumber(tag);
  unsigned const form = constructed ? 0x20u : 0u;
  if (number < 31) {
    encodeByte(cls | form | number);
  } else {
    encodeByte(cls | form | 31u);
    unsigned groups = berTagLength(tag) - 1;
    while (groups-- > 0) encodeByte(((number >> (7 * groups)) & 0x7Fu) | (groups ? 0x80u : 0u));
  }
  if (length < 128) {
    encodeByte(length);
    return;
  }
  unsigned const k = berLengthLength(length) - 1;
  encodeByte(0x80u | k);
  for (unsigned i = k; i-- > 0;) encodeByte((length >> (8 * i)) & 0xFFu);
}

void BEREncoder::encodeHeader(AbstractData const& v) {
  unsigned const tag = tag_ == ber::OwnTag ? v.getTag() : tag_;
  tag_ = ber::OwnTag;
  if (tag == 0) return;
  PrimitiveChecker checker;
  encodeHeader(tag, !v.accept(checker), getDataLength(v));
}

void BEREncoder::encodeSigned(long long value, unsigned octets) {
  for (unsigned i = octets; i-- > 0;) encodeByte(static_cast<unsigned>((value >> (8 * i)) & 0xFF));
}

bool BEREncoder::do_visit(Null const& v) {
  encodeHeader(v);
  return true;
}

bool BEREncoder::do_visit(BOOLEAN const& v) {
  encodeHeader(v);
  encodeByte(v ? 0xFFu : 0x00u);
  return true;
}

bool BEREncoder::do_visit(INTEGER const& v) {
  encodeHeader(v);
  long long const n = ber::codedUnsigned(v) ? static_cast<long long>(static_cast<unsigned>(v.getValue()))
                                            : static_cast<long long>(v.getValue());
  encodeSigned(n, ber::integerLength(v));
  return true;
}

bool BEREncoder::do_visit(ENUMERATED const& v) {
  encodeHeader(v);
  encodeSigned(v.asInt(), static_cast<unsigned>(getIntegerDataLength(v.asInt())));
  return true;
}

bool BEREncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  encodeHeader(v);
  std::vector<char> octets;
  v.encodeCommon(octets);
  out_.insert(out_.end(), octets.begin(), octets.end());
  return true;
}

bool BEREncoder::do_visit(BIT_STRING const& v) {
  encodeHeader(v);
  unsigned const octets = (v.size() + 7) / 8;
  encodeByte(octets * 8 - v.size());
  encodeBlock(v.getData().data(), octets);
  return true;
}

bool BEREncoder::do_visit(OCTET_STRING const& v) {
  encodeHeader(v);
  encodeBlock(v.data(), static_cast<unsigned>(v.size()));
  return true;
}

bool BEREncoder::do_visit(AbstractString const& v) {
  encodeHeader(v);
  encodeBlock(v.data(), static_cast<unsigned>(v.size()));
  return true;
}

bool BEREncoder::do_visit(BMPString const& v) {
  encodeHeader(v);
  for (wchar_t c : v) {
    unsigned const code = static_cast<unsigned>(c);
    encodeByte((code >> 8) & 0xFFu);
    encodeByte(code & 0xFFu);
  }
  return true;
}

bool BEREncoder::do_visit(CHOICE const& v) {
  if (v.currentSelection() < 0 || !v.getSelection()) return false;
  encodeHeader(v);
  tag_ = v.getSelectionTag();
  return v.getSelection()->accept(*this);
}

bool BEREncoder::do_visit(OpenData const& v) {
  if (v.isEmpty()) return false;
  encodeHeader(v);
  if (v.has_data()) return v.get_data().accept(*this);
  encodeBlock(v.get_buf().data(), static_cast<unsigned>(v.get_buf().size()));
  return true;
}

bool BEREncoder::do_visit(GeneralizedTime const& v) {
  encodeHeader(v);
  std::string const text = v.get();
  encodeBlock(text.data(), static_cast<unsigned>(text.size()));
  return true;
}

bool BEREncoder::do_visit(SEQUENCE_OF_Base const& v) {
  encodeHeader(v);
  for (AbstractData const* e : v) {
    tag_ = ber::OwnTag;
    if (!e->accept(*this)) return false;
  }
  return true;
}

bool BEREncoder::preVisitExtensionRoots(SEQUENCE const& v) {
  encodeHeader(v);
  return true;
}

bool BEREncoder::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  if (!field) return false;
  tag_ = v.getFieldTag(index);
  return field->accept(*this);
}

bool BEREncoder::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

}  // namespace ASN1
