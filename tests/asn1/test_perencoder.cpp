#include <gtest/gtest.h>

#include <cstring>

#include "asn1/asn1.h"
#include "asn1/perencoder.h"
#include "per_support.h"
#include "records.h"

using namespace ASN1;
using per::encoded;
using per::image;

namespace {

// A message with seq 1 and slot 5 as asked, and the PDU alternative made.
rec::Message message(bool seq, bool slot, int pdu = -1, int inner = -1)
{
    rec::Message m;
    if (seq)
        static_cast<INTEGER&>(*m.includeOptionalField(0, 0)) = 1;
    if (slot)
        static_cast<rec::Int1023&>(*m.includeOptionalField(1, 1)) = 5u;
    CHOICE& p = static_cast<CHOICE&>(*m.getField(2));
    if (pdu >= 0) {
        p.select(pdu);
        static_cast<CHOICE&>(*p.getSelection()).select(inner);
    }
    return m;
}

// What the primitive writers put out, or "FAIL".
template <class Write>
std::string written(Write write)
{
    std::vector<char> out;
    PEREncoder e(out);
    return write(e) ? per::hex(out) : "FAIL";
}

} // namespace

TEST(PerEncoder, ControlMessageImages)
{
    EXPECT_TRUE(image(message(false, false, 0, 12), "06 00"));  // ping
    EXPECT_TRUE(image(message(false, true, 0, 12), "40 00 05 18"));
    EXPECT_TRUE(image(message(true, true, 0, 12), "C0 01 01 00 05 18"));
    EXPECT_TRUE(image(message(true, true, 1, 0), "C0 01 01 00 05 40"));  // success
    rec::Message error = message(true, true, 1, 1);
    static_cast<ENUMERATED&>(
        *static_cast<CHOICE&>(*static_cast<CHOICE&>(*error.getField(2)).getSelection())
             .getSelection())
        .setFromInt(4);
    EXPECT_TRUE(image(error, "C0 01 01 00 05 64"));
    EXPECT_EQ("FAIL", encoded(message(true, true)));  // nothing selected
}

TEST(PerEncoder, Integers)
{
    EXPECT_TRUE(image(INTEGER(0), "01 00"));
    EXPECT_TRUE(image(INTEGER(127), "01 7F"));
    EXPECT_TRUE(image(INTEGER(128), "02 00 80"));
    EXPECT_TRUE(image(INTEGER(-1), "01 FF"));
    EXPECT_TRUE(image(INTEGER(-128), "01 80"));
    EXPECT_TRUE(image(INTEGER(-129), "02 FF 7F"));
    EXPECT_TRUE(image(INTEGER(-2147483647 - 1), "04 80 00 00 00"));
    // A lower bound alone still goes as two's complement, and so does a
    // value beyond an extensible range (after its extension bit).
    EXPECT_TRUE(image(rec::IntFrom0(255u), "02 00 FF"));
    EXPECT_TRUE(image(rec::IntExt15(16u), "80 01 10"));
    EXPECT_TRUE(image(rec::IntExt15(0xFFFFFFFFu), "80 01 FF"));
    EXPECT_TRUE(image(rec::IntExt15(0u), "00"));  // both bounds are in the root
    EXPECT_TRUE(image(rec::IntExt15(15u), "78"));

    EXPECT_TRUE(image(rec::Int1023(5u), "00 05"));
    EXPECT_TRUE(image(rec::Int7(7u), "E0"));
    EXPECT_TRUE(image(rec::Int32u(0u), "00 00"));
    EXPECT_TRUE(image(rec::Int32u(256u), "40 01 00"));
    EXPECT_TRUE(image(rec::Int32u(0xFFFFFFFFu), "C0 FF FF FF FF"));
    EXPECT_TRUE(image(rec::IntWide(112000u), "00 00"));
    EXPECT_TRUE(image(rec::IntWide(399975u), "80 04 64 E7"));
    // One value past 64K no longer fits two octets: its octet count goes first.
    EXPECT_TRUE(image(Constrained_INTEGER<FixedConstraint, 0, 65536>(65536u), "80 01 00 00"));
    // -128..127 goes as the offset in one octet.
    EXPECT_TRUE(image(rec::IntSigned8(0xFFFFFFFFu), "7F"));
    EXPECT_TRUE(image(rec::IntSigned8(127u), "FF"));

    EXPECT_EQ("FAIL", encoded(rec::Int1023(1024u)));
    EXPECT_EQ("FAIL", encoded(rec::IntSigned8(128u)));
    EXPECT_EQ("FAIL", encoded(rec::IntWide(111999u)));
    typedef Constrained_INTEGER<FixedConstraint, 3, 3> Three;
    EXPECT_EQ("", encoded(Three(3u)));
    EXPECT_EQ("FAIL", encoded(Three(4u)));
}

TEST(PerEncoder, IntegersEitherSideOfEveryOctetCount)
{
    // The shortest two's complement form: the count octet says how many
    // follow, and the decoder (which reads a word at a time, also at the
    // very end of its input) gives the number back.
    int const cases[][2] = {{127, 1},          {128, 2},         {-128, 1},       {-129, 2},
                            {32767, 2},        {32768, 3},       {-32768, 2},     {-32769, 3},
                            {8388607, 3},      {8388608, 4},     {-8388608, 3},   {-8388609, 4},
                            {2147483647, 4},   {-2147483647 - 1, 4}};
    for (auto const& c : cases) {
        std::vector<char> const octets = per::bytes(encoded(INTEGER(c[0])));
        ASSERT_EQ(static_cast<std::size_t>(c[1]) + 1, octets.size()) << c[0];
        EXPECT_EQ(c[1], octets[0]) << c[0];
        INTEGER back(5);
        ASSERT_TRUE(per::decoded(octets, back)) << c[0];
        EXPECT_EQ(c[0], back.getValue());
    }
}

TEST(PerEncoder, Primitives)
{
    auto number = [](bool lead, unsigned v, unsigned ub) {
        return written([=](PEREncoder& e) {
            if (lead)
                e.encodeSingleBit(true);
            return e.encodeUnsigned(v, 0, ub);
        });
    };
    EXPECT_EQ("FE", number(false, 127, 127));
    EXPECT_EQ("FE", number(false, 254, 254));
    EXPECT_EQ("FF 00", number(true, 254, 254));  // a bit field: no alignment
    EXPECT_EQ("80 FF", number(true, 255, 255));  // one aligned octet
    EXPECT_EQ("FF FF", number(false, 65535, 65535));

    auto length = [](unsigned n) {
        return written([n](PEREncoder& e) { return e.encodeLength(n, 0, 0x7FFFFFFF); });
    };
    EXPECT_EQ("7F", length(127));
    EXPECT_EQ("80 80", length(128));
    EXPECT_EQ("BF FF", length(16383));
    EXPECT_EQ("FAIL", length(16384));
    EXPECT_EQ("FAIL", written([](PEREncoder& e) { return e.encodeLength(3, 4, 10); }));
    // An upper bound below 64K makes the length a bounded number; from 64K
    // on it goes in the open form, whose lower bound still holds.
    auto bounded = [](unsigned n, unsigned lb, unsigned ub) {
        return written([=](PEREncoder& e) { return e.encodeLength(n, lb, ub); });
    };
    EXPECT_EQ("00 03", bounded(3, 0, 65535));
    EXPECT_EQ("03", bounded(3, 0, 65536));
    EXPECT_EQ("FAIL", bounded(3, 4, 100000));

    EXPECT_EQ("7E", written([](PEREncoder& e) { return e.encodeSmallUnsigned(63), true; }));
    EXPECT_EQ("80 01 40", written([](PEREncoder& e) { return e.encodeSmallUnsigned(64), true; }));
    // Above 63 the fewest octets that hold the number.
    for (auto const& c : {std::make_pair(255u, "80 01 FF"), std::make_pair(256u, "80 02 01 00"),
                          std::make_pair(65536u, "80 03 01 00 00"), std::make_pair(16777216u, "80 04 01 00 00 00")})
        EXPECT_EQ(c.second, written([&](PEREncoder& e) { return e.encodeSmallUnsigned(c.first), true; }));
    // An empty block pads nothing: the decoder aligns only for octets it reads.
    EXPECT_EQ("C0", written([](PEREncoder& e) {
        e.encodeSingleBit(true);
        e.encodeBlock("", 0);
        return e.encodeSingleBit(true), true;
    }));
}

TEST(PerEncoder, Enumerations)
{
    rec::StandbyState s;
    s.setFromInt(8);  // by value, not by position: 8 in 5 bits
    EXPECT_TRUE(image(s, "40"));
    rec::Payload p;
    p.setFromInt(123);
    EXPECT_TRUE(image(p, "F6"));
    p.setFromInt(124);
    EXPECT_EQ("FAIL", encoded(p));
    rec::RadioStandby r;
    r.setFromInt(-1);
    EXPECT_EQ("FAIL", encoded(r));

    rec::ErrorCause e;
    e.setFromInt(12);
    EXPECT_TRUE(image(e, "60"));
    e.setFromInt(20);  // beyond the root: extension bit, n = 21, then 20 in 0..20
    EXPECT_TRUE(image(e, "95 A0"));
}

TEST(PerEncoder, ChoicesAndOpenTypes)
{
    rec::Alt a;
    a.select(1);
    static_cast<INTEGER&>(*a.getSelection()) = 0x55;
    EXPECT_TRUE(image(a, "20 55"));
    a.select(3);  // extension alternative: index 0, then an open type
    static_cast<IA5String&>(*a.getSelection()) = "hi";
    EXPECT_TRUE(image(a, "80 03 02 68 69"));
    a.select(0);
    EXPECT_TRUE(image(a, "00"));
    a.setSelection(3, nullptr);  // an alternative named but not made
    EXPECT_EQ("FAIL", written([&](PEREncoder& e) { return a.accept(e); }));

    EXPECT_EQ("01 00", written([](PEREncoder& e) {
                  Null n;
                  return e.encodeAnyType(&n);
              }));
    EXPECT_EQ("01 00", encoded(OpenData()));
    EXPECT_EQ("01 E0", encoded(OpenData(new rec::Int7(7u), &OpenData::theInfo)));
    // Octets kept from a decode go out unchanged, also none at all.
    OpenData kept;
    kept.grab(new std::vector<char>{1, 2, 3});
    EXPECT_TRUE(image(kept, "03 01 02 03"));
    kept.grab(new std::vector<char>);
    EXPECT_EQ("00", encoded(kept));
    kept.grab(new std::vector<char>(16384));  // past the longest length
    EXPECT_EQ("FAIL", written([&](PEREncoder& e) { return kept.accept(e); }));
}

TEST(PerEncoder, SequencePreambleAndExtensions)
{
    EXPECT_EQ("", encoded(Null()));
    EXPECT_EQ("80", encoded(BOOLEAN(true)));
    EXPECT_TRUE(image(rec::Opt(), "00"));

    // Extension map with entries but none set: bit 0 and no extension part.
    rec::Rec r;
    r.includeOptionalField(3, 5);
    r.removeOptionalField(3);
    EXPECT_EQ("00 00", encoded(r));
    r.includeOptionalField(3, 5);
    static_cast<OCTET_STRING&>(*r.getField(5)) = std::vector<char>{0x11};
    // 1 00 000 000 | 0000001 | 01 | open type 02 (01 11)
    EXPECT_TRUE(image(r, "80 01 40 02 01 11"));
    // One or two octets are not aligned after a leading bit.
    static_cast<OCTET_STRING&>(*r.getField(5)) = std::vector<char>{0x11, 0x22};
    EXPECT_TRUE(image(r, "80 01 40 03 02 11 22"));

    // An extension bit beyond the known extensions has no octets to send.
    rec::Rec unknown;
    unknown.includeOptionalField(4, 5);
    EXPECT_EQ(3u, unknown.extensionMap().size());
    EXPECT_EQ("FAIL", encoded(unknown));
    // Extensions of a type without an extension marker.
    rec::Opt o;
    o.includeOptionalField(2, 0);
    EXPECT_EQ("FAIL", encoded(o));
}

TEST(PerEncoder, Strings)
{
    EXPECT_TRUE(image(OCTET_STRING(), "00"));
    EXPECT_TRUE(image(OCTET_STRING(1, char(0xAB)), "01 AB"));
    EXPECT_TRUE(image(OCTET_STRING(std::vector<char>{1, 2, 3}), "03 01 02 03"));
    // A size beyond an extensible root goes in the open form after its bit.
    static ConstrainedInfo const ext2to4 = {{&OCTET_STRING::create, 4}, ExtendableConstraint, 2, 4};
    EXPECT_TRUE(image(OCTET_STRING(3, 'x', &ext2to4), "20 78 78 78"));
    EXPECT_TRUE(image(OCTET_STRING(5, 'x', &ext2to4), "80 05 78 78 78 78 78"));

    EXPECT_TRUE(image(IA5String("abc"), "03 61 62 63"));
    std::string bad = "a";
    bad += char(200);
    EXPECT_EQ("02 61 C8", encoded(IA5String(bad)));  // 8-bit block: no check
    // NumericString sends positions in 4 bits.
    EXPECT_TRUE(image(NumericString("12 "), "03 23 00"));
    EXPECT_EQ("FAIL", encoded(NumericString("1x")));
    // PrintableString in 8 bits goes as a block; a short fixed one per character.
    static StringInfo const twoChars = {{{&PrintableString::create, 19}, FixedConstraint, 2, 2},
                                        PrintableStringSet, 74, 7, 7, 8};
    EXPECT_TRUE(image(PrintableString("OK", &twoChars), "4F 4B"));
    EXPECT_EQ("FAIL", encoded(PrintableString("O*", &twoChars)));
    EXPECT_EQ("FAIL", encoded(PrintableString("OKK", &twoChars)));

    BIT_STRING b;
    b.assign(std::vector<char>{char(0xA0)}, 3);
    EXPECT_TRUE(image(b, "03 A0"));
    b.assign(std::vector<char>{1, 2, 3}, 24);
    EXPECT_TRUE(image(b, "18 01 02 03"));

    EXPECT_TRUE(image(BMPString(L"a\x100"), "02 00 61 01 00"));
    // A character beyond the 16 bits of a BMPString would be cut.
    EXPECT_EQ("FAIL", encoded(BMPString(std::wstring(1, wchar_t(0x10000)))));

    OBJECT_IDENTIFIER o;
    for (unsigned arc : {1u, 2u, 840u})
        o.append(arc);
    EXPECT_TRUE(image(o, "03 2A 86 48"));

    EXPECT_TRUE(image(GeneralizedTime("20240305140709Z"),
                      "0F 32 30 32 34 30 33 30 35 31 34 30 37 30 39 5A"));
}

TEST(PerEncoder, PeerLimits)
{
    EXPECT_EQ("FAIL", encoded(OCTET_STRING(16384, 'x')));  // an unbounded length stops at 16383
    static ConstrainedInfo const wide = {{&OCTET_STRING::create, 4}, FixedConstraint, 0, 20000};
    EXPECT_NE("FAIL", encoded(OCTET_STRING(16384, 'x', &wide)));
    EXPECT_EQ("FAIL", encoded(OCTET_STRING(16385, 'x', &wide)));  // the peer refuses it
    // The length in front of an open type's contents (the octets' own length
    // plus them): one octet up to 127, two up to 16383, none beyond.
    for (auto const& c : {std::make_pair(126u, "7F 7E"), std::make_pair(127u, "80 80 7F"),
                          std::make_pair(16381u, "BF FF BF FD"), std::make_pair(16382u, "FAIL")}) {
        std::string const out = written([&](PEREncoder& e) {
            OCTET_STRING inner(c.first, 'x');
            return e.encodeAnyType(&inner);
        });
        EXPECT_EQ(c.second, out.substr(0, std::strlen(c.second))) << c.first;
    }

    rec::IntList list;
    list.resize(128);
    EXPECT_NE("FAIL", encoded(list));
    list.resize(129);
    EXPECT_EQ("FAIL", encoded(list));
    SEQUENCE_OF<NumericString, EmptyConstraint> digits;  // one bad element fails the list
    digits.push_back(NumericString("1"));
    digits.push_back(NumericString("x"));
    EXPECT_EQ("FAIL", written([&](PEREncoder& e) { return digits.accept(e); }));
}
