#ifndef ASN1_BMPSTRING_H
#define ASN1_BMPSTRING_H

#include <string>

#include "asn1/abstractdata.h"

namespace ASN1 {

class BMPString : public ConstrainedObject, public std::wstring {
public:
    typedef BMPStringInfo InfoType;
    static InfoType const theInfo;

    BMPString() : ConstrainedObject(&theInfo) {}
    explicit BMPString(void const* info) : ConstrainedObject(info) {}
    BMPString(std::wstring const& text, void const* info = &theInfo)
        : ConstrainedObject(info), std::wstring(text) {}
    BMPString(wchar_t const* text, void const* info = &theInfo)
        : ConstrainedObject(info), std::wstring(text) {}
    BMPString(BMPString const& other) : ConstrainedObject(other), std::wstring(other) {}
    BMPString& operator=(BMPString const& other)
    {
        std::wstring::operator=(other);
        return *this;
    }

    using ConstrainedObject::operator==;
    using ConstrainedObject::operator!=;
    // The value comparison, not the string's own.
    using ConstrainedObject::compare;

    static AbstractData* create(void const* info);

    InfoType const* info() const { return static_cast<InfoType const*>(info_); }

    BMPString& assign(wchar_t const* text, size_type count)
    {
        std::wstring::assign(text, count);
        return *this;
    }

    unsigned getFirstChar() const { return info()->firstChar; }
    unsigned getLastChar() const { return info()->lastChar; }
    unsigned getNumBits(bool aligned) const
    {
        return aligned ? info()->alignedBits : info()->unalignedBits;
    }
    bool legalCharacter(wchar_t c) const;
    // Index of the first illegal character, the length when all are legal.
    size_type first_illegal_at() const;

    bool isStrictlyValid() const;
    bool isValid() const;

private:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

} // namespace ASN1

#endif
