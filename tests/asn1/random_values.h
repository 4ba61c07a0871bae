#ifndef TESTS_ASN1_RANDOM_VALUES_H
#define TESTS_ASN1_RANDOM_VALUES_H

// Random values of the test records, in the forms that survive a PER round
// trip (clean bit string padding, octets-only open types, object identifiers
// whose first two arcs split back the same way).

#include <random>
#include <string>

#include "asn1/asn1.h"
#include "records.h"

namespace rnd {

template <class Rng>
int between(Rng& rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

template <class Rng>
unsigned any32(Rng& rng)
{
    // Mostly small numbers, sometimes the whole range.
    switch (between(rng, 0, 3)) {
    case 0:
        return static_cast<unsigned>(between(rng, 0, 300));
    case 1:
        return static_cast<unsigned>(-between(rng, 0, 300));
    default:
        return std::uniform_int_distribution<unsigned>()(rng);
    }
}

template <class Rng>
bool coin(Rng& rng)
{
    return between(rng, 0, 1) == 1;
}

template <class Rng>
std::string text(Rng& rng, char const* set, unsigned setSize, int maxLen)
{
    std::string s(static_cast<std::size_t>(between(rng, 0, maxLen)), ' ');
    for (char& c : s)
        c = set[between(rng, 0, static_cast<int>(setSize) - 1)];
    return s;
}

template <class Rng>
std::vector<char> octets(Rng& rng, int minLen, int maxLen)
{
    std::vector<char> v(static_cast<std::size_t>(between(rng, minLen, maxLen)));
    for (char& c : v)
        c = static_cast<char>(between(rng, 0, 255));
    return v;
}

template <class T>
T& field(ASN1::SEQUENCE& s, unsigned index)
{
    return static_cast<T&>(*s.getField(index));
}

template <class T>
T& include(ASN1::SEQUENCE& s, unsigned id, unsigned index)
{
    return static_cast<T&>(*s.includeOptionalField(id, index));
}

template <class Rng>
void randomRec(Rng& rng, rec::Rec& r)
{
    field<rec::Int7>(r, 0) = static_cast<unsigned>(between(rng, 0, 7));
    if (coin(rng))
        include<ASN1::BOOLEAN>(r, 0, 1) = coin(rng);
    if (coin(rng))
        include<ASN1::IA5String>(r, 1, 2) = text(rng, ASN1::IA5StringSet, 128, 20);
    field<rec::Int7>(field<rec::Inner>(r, 3), 0) = static_cast<unsigned>(between(rng, 0, 7));
    if (coin(rng))
        include<ASN1::INTEGER>(r, 2, 4) = static_cast<int>(any32(rng));
    if (coin(rng))
        include<ASN1::OCTET_STRING>(r, 3, 5) = octets(rng, 0, 5);
    // Now and then an extension included and dropped again.
    if (between(rng, 0, 5) == 0)
        r.removeOptionalField(static_cast<unsigned>(between(rng, 2, 3)));
}

template <class Rng>
void randomAll(Rng& rng, rec::All& a, int maxList)
{
    using namespace ASN1;
    using rec::All;
    field<BOOLEAN>(a, All::f) = coin(rng);
    field<INTEGER>(a, All::i) = static_cast<int>(any32(rng));
    field<rec::Int7>(a, All::i7) = static_cast<unsigned>(between(rng, 0, 7));
    if (coin(rng))
        include<rec::Int1023>(a, 0, All::i1023) = static_cast<unsigned>(between(rng, 0, 1023));
    field<rec::IntSigned8>(a, All::s8) = static_cast<unsigned>(between(rng, -128, 127));
    field<rec::Int32u>(a, All::u32) = any32(rng);
    field<rec::IntWide>(a, All::wide) = static_cast<unsigned>(between(rng, 112000, 399975));
    field<rec::IntFrom0>(a, All::from0) = any32(rng);
    field<rec::IntExt15>(a, All::x15) = coin(rng) ? static_cast<unsigned>(between(rng, 0, 15))
                                                  : any32(rng);
    static int const standby[] = {0, 1, 2, 4, 8, 16};
    field<rec::StandbyState>(a, All::st).setFromInt(standby[between(rng, 0, 5)]);
    field<rec::ErrorCause>(a, All::err).setFromInt(between(rng, 0, 1) ? between(rng, 0, 12)
                                                                      : between(rng, 13, 100000));
    if (coin(rng))
        include<rec::RadioStandby>(a, 1, All::rs).setFromInt(between(rng, 0, 1));
    if (coin(rng)) {
        OBJECT_IDENTIFIER& o = include<OBJECT_IDENTIFIER>(a, 2, All::oid);
        unsigned const first = static_cast<unsigned>(between(rng, 0, 2));
        o.append(first);
        o.append(first < 2 ? static_cast<unsigned>(between(rng, 0, 39)) : any32(rng) % 100000);
        for (int n = between(rng, 0, 8); n > 0; --n)
            o.append(any32(rng));
    }
    {
        unsigned const n = static_cast<unsigned>(between(rng, 0, 40));
        std::vector<char> data = octets(rng, static_cast<int>((n + 7) / 8),
                                        static_cast<int>((n + 7) / 8));
        if (n % 8)
            data.back() = static_cast<char>(data.back() & (0xFF << (8 - n % 8)));
        field<BIT_STRING>(a, All::bits).assign(data, n);
    }
    field<OCTET_STRING>(a, All::oct) = octets(rng, 0, between(rng, 0, 1) ? 3 : 300);
    field<IA5String>(a, All::ia5) = text(rng, IA5StringSet, 128, 30);
    field<NumericString>(a, All::num) = text(rng, NumericStringSet, 11, 12);
    field<PrintableString>(a, All::pr) = text(rng, PrintableStringSet, 74, 12);
    if (coin(rng)) {
        BMPString& b = include<BMPString>(a, 3, All::bmp);
        for (int n = between(rng, 0, 5); n > 0; --n)
            b.push_back(static_cast<wchar_t>(between(rng, 0, 65535)));
    }
    {
        rec::Alt& alt = field<rec::Alt>(a, All::alt);
        int const which = between(rng, 0, 3);
        alt.select(which);
        if (which == 1)
            static_cast<rec::Int255&>(*alt.getSelection()) = static_cast<unsigned>(between(rng, 0, 255));
        else if (which == 2)
            randomRec(rng, static_cast<rec::Rec&>(*alt.getSelection()));
        else if (which == 3)
            static_cast<IA5String&>(*alt.getSelection()) = text(rng, IA5StringSet, 128, 10);
    }
    {
        rec::RecList& list = field<rec::RecList>(a, All::list);
        list.resize(static_cast<unsigned>(between(rng, maxList > 4 ? maxList : 0, maxList)));
        for (rec::Rec& r : list)
            randomRec(rng, r);
    }
    if (coin(rng)) {
        rec::IntList& ints = include<rec::IntList>(a, 4, All::ints);
        for (int n = between(rng, 0, 4); n > 0; --n)
            ints.push_back(INTEGER(static_cast<int>(any32(rng))));
    }
    if (coin(rng)) {
        rec::NameSet& names = include<rec::NameSet>(a, 5, All::names);
        for (int n = between(rng, 0, 3); n > 0; --n)
            names.push_back(IA5String(text(rng, IA5StringSet, 128, 6)));
    }
    if (coin(rng))
        include<OpenData>(a, 6, All::open).grab(new std::vector<char>(octets(rng, 1, 20)));
    if (coin(rng)) {
        OpenData& typed = include<OpenData>(a, 7, All::typed);
        randomRec(rng, static_cast<rec::Rec&>(typed.get_data()));
    }
    if (coin(rng)) {
        bool const utc = coin(rng);
        include<GeneralizedTime>(a, 8, All::time) = GeneralizedTime(
            between(rng, 1, 9999), between(rng, 1, 12), between(rng, 1, 31), between(rng, 0, 23),
            between(rng, 0, 59), between(rng, 0, 59), between(rng, 0, 999),
            utc ? 0 : between(rng, -720, 720), utc);
    }
    if (coin(rng))
        randomRec(rng, include<rec::Rec>(a, 9, All::ext1));
    if (coin(rng))
        include<IA5String>(a, 10, All::ext2) = text(rng, IA5StringSet, 128, 8);
}

} // namespace rnd

using rnd::randomAll;

#endif
