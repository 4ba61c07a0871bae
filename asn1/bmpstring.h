#ifndef ASN1_BMPSTRING_H
#define ASN1_BMPSTRING_H

#include <string>

#include "asn1/stringvalue.h"

namespace ASN1 {

class BMPString : public detail::StringValue<std::wstring> {
  typedef detail::StringValue<std::wstring> Base;

 public:
  typedef BMPStringInfo InfoType;
  static InfoType const theInfo;

  BMPString() : Base(&theInfo) {}
  explicit BMPString(void const* info) : Base(info) {}
  BMPString(std::wstring const& text, void const* info = &theInfo) : Base(info, text) {}
  BMPString(wchar_t const* text, void const* info = &theInfo) : Base(info, text) {}
  BMPString(BMPString const& other) : Base(other) {}
  BMPString& operator=(BMPString const& other) {
    Base::operator=(other);
    return *this;
  }

  static AbstractData* create(void const* info);

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }

  BMPString& assign(wchar_t const* text, size_type count) {
    std::wstring::assign(text, count);
    return *this;
  }

  unsigned getFirstChar() const { return info()->firstChar; }
  unsigned getLastChar() const { return info()->lastChar; }
  unsigned getNumBits(bool aligned) const { return aligned ? info()->alignedBits : info()->unalignedBits; }
  bool legalCharacter(wchar_t c) const;
  // Index of the first illegal character, the length when all are legal.
  size_type first_illegal_at() const;

  bool isStrictlyValid() const;
  bool isValid() const;

 private:
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1

#endif
