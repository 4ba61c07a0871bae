#ifndef ASN1_ABSTRACTSTRING_H
#define ASN1_ABSTRACTSTRING_H

#include <iosfwd>
#include <string>

#include "asn1/stringvalue.h"

namespace ASN1 {

// Character tables of the restricted string types, ascending code order.
extern char const NumericStringSet[11];
extern char const PrintableStringSet[74];
extern char const VisibleStringSet[95];
extern char const IA5StringSet[128];
extern char const GeneralStringSet[256];

// The restricted character strings: one class, the type is in the record.
class AbstractString : public detail::StringValue<std::string>, public detail::Allocator<AbstractString> {
  typedef detail::StringValue<std::string> Base;

 public:
  typedef StringInfo InfoType;

  // From a record: empty, or with a text. Copies copy the characters; an
  // assignment keeps the record.
  using Base::Base;

  static AbstractData* create(void const* info);

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }

  AbstractString& assign(std::string const& text) {
    std::string::assign(text);
    return *this;
  }

  char const* getCharacterSet() const { return info()->characterSet; }
  unsigned getCharacterSetSize() const { return info()->characterSetSize; }
  unsigned getCanonicalSetBits() const { return info()->canonicalSetBits; }
  unsigned getNumBits(bool aligned) const { return aligned ? info()->alignedBits : info()->unalignedBits; }

  // Position of c in the type's ascending table; -1 when it is not there
  // (or the type has no table).
  int positionOf(unsigned char c) const;
  // Index of the first character outside the type's set, or npos (also
  // when the type has no table: no check).
  size_type find_first_invalid() const;

  bool isStrictlyValid() const;
  bool isValid() const;

 private:
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

// The characters as plain text (not value notation).
std::ostream& operator<<(std::ostream& os, AbstractString const& s);

// Typed classes of the string types; they add nothing but their record.
#define ASN1_STRING_CLASS(Name)                                                                \
  class Name : public AbstractString {                                                         \
   public:                                                                                     \
    static InfoType const theInfo;                                                             \
    explicit Name(void const* info = &theInfo) : AbstractString(info) {}                       \
    Name(std::string const& text, void const* info = &theInfo) : AbstractString(info, text) {} \
    Name(char const* text, void const* info = &theInfo) : AbstractString(info, text) {}        \
    Name& operator=(std::string const& text) {                                                 \
      assign(text);                                                                            \
      return *this;                                                                            \
    }                                                                                          \
    Name& operator=(char const* text) {                                                        \
      std::string::assign(text);                                                               \
      return *this;                                                                            \
    }                                                                                          \
    static AbstractData* create(void const* info) { return info ? new Name(info) : 0; }        \
  }

ASN1_STRING_CLASS(IA5String);
ASN1_STRING_CLASS(NumericString);
ASN1_STRING_CLASS(PrintableString);
ASN1_STRING_CLASS(VisibleString);
ASN1_STRING_CLASS(GeneralString);

#undef ASN1_STRING_CLASS

}  // namespace ASN1

#endif
