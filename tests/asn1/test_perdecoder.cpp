#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/perdecoder.h"
#include "per_support.h"
#include "records.h"

using namespace ASN1;
using per::bytes;
using per::decoded;
using per::encoded;

namespace {
typedef Constrained_INTEGER<FixedConstraint, 0, 5> Int5;
ConstrainedInfo const wideOctets = {{&OCTET_STRING::create, 4}, FixedConstraint, 0, 20000};

// "LL" + n octets of 0x2A.
std::string octetsImage(std::string const& length, unsigned n)
{
    std::string s = length;
    for (unsigned i = 0; i < n; ++i)
        s += " 2A";
    return s;
}
} // namespace

TEST(PerDecoder, ControlMessageImages)
{
    rec::Message m;
    ASSERT_TRUE(decoded("C0 01 01 00 05 64", m));
    EXPECT_TRUE(m.hasOptionalField(0));
    EXPECT_EQ(1, static_cast<INTEGER&>(*m.getField(0)).getValue());
    EXPECT_EQ(5u, static_cast<rec::Int1023&>(*m.getField(1)).getValue());
    CHOICE& pdu = static_cast<CHOICE&>(*m.getField(2));
    EXPECT_EQ(1, pdu.currentSelection());
    CHOICE& response = static_cast<CHOICE&>(*pdu.getSelection());
    EXPECT_EQ(1, response.currentSelection());
    EXPECT_EQ(4, static_cast<ENUMERATED&>(*response.getSelection()).asInt());
    EXPECT_NE(nullptr, dynamic_cast<rec::ErrorCause*>(response.getSelection()));

    rec::Message ping;
    ASSERT_TRUE(decoded("06 00", ping));
    EXPECT_FALSE(ping.hasOptionalField(0));
    EXPECT_FALSE(ping.hasOptionalField(1));
    EXPECT_EQ("06 00", encoded(ping));

    // Octets after a complete message are ignored.
    rec::Message extra;
    EXPECT_TRUE(decoded("40 00 05 18 FF FF", extra));
    EXPECT_EQ("40 00 05 18", encoded(extra));
}

TEST(PerDecoder, UnknownCommandAlternativeIsSkipped)
{
    // Command: extension bit 1, alternative 15 + 0, open type of one octet:
    // 00 1 0000000, then 01 00.
    rec::Message m;
    ASSERT_TRUE(decoded("40 00 05 20 00 01 00", m));
    CHOICE& command = static_cast<CHOICE&>(
        *static_cast<CHOICE&>(*m.getField(2)).getSelection());
    EXPECT_EQ(-2, command.currentSelection());
    EXPECT_EQ(nullptr, command.getSelection());
}

TEST(PerDecoder, Integers)
{
    INTEGER i;
    ASSERT_TRUE(decoded("01 FF", i));
    EXPECT_EQ(-1, i.getValue());
    ASSERT_TRUE(decoded("02 FF 7F", i));
    EXPECT_EQ(-129, i.getValue());
    ASSERT_TRUE(decoded("02 00 80", i));
    EXPECT_EQ(128, i.getValue());
    ASSERT_TRUE(decoded("00", i));
    EXPECT_EQ(0, i.getValue());
    EXPECT_FALSE(decoded("05 01 02 03 04 05", i));
    EXPECT_FALSE(decoded("02 01", i));

    // What the encoder wrote in two's complement comes back signed, also
    // for a lower bound alone and for a value beyond an extensible range.
    rec::IntFrom0 from0;
    ASSERT_TRUE(decoded("01 FF", from0));
    EXPECT_EQ(0xFFFFFFFFu, from0.getValue());
    EXPECT_EQ(-1, from0.INTEGER::getValue());
    ASSERT_TRUE(decoded("02 00 FF", from0));
    EXPECT_EQ(255u, from0.getValue());
    rec::IntExt15 ext;
    ext.setValue(-1);
    ASSERT_EQ("80 01 FF", encoded(ext));
    rec::IntExt15 back;
    ASSERT_TRUE(decoded("80 01 FF", back));
    EXPECT_EQ(-1, back.INTEGER::getValue());

    // The range is not checked on reading: 0..5 from the bits 111 is 7.
    Int5 five;
    ASSERT_TRUE(decoded("E0", five));
    EXPECT_EQ(7u, five.getValue());

    rec::Int32u u32;
    ASSERT_TRUE(decoded("C0 FF FF FF FF", u32));
    EXPECT_EQ(0xFFFFFFFFu, u32.getValue());
    rec::IntWide wide;
    ASSERT_TRUE(decoded("80 04 64 E7", wide));
    EXPECT_EQ(399975u, wide.getValue());
    rec::IntSigned8 s8;
    ASSERT_TRUE(decoded("7F", s8));
    EXPECT_EQ(-1, s8.INTEGER::getValue());
}

TEST(PerDecoder, TruncatedInputFails)
{
    // The last field, an integer of 0..1023, is cut off.
    rec::Message m;
    EXPECT_FALSE(decoded("40 00", m));
    rec::Message m2;
    EXPECT_FALSE(decoded("40", m2));
    rec::Int1023 slot;
    EXPECT_FALSE(decoded("00", slot));

    BOOLEAN b;
    EXPECT_FALSE(decoded("", b));
    Null n;
    EXPECT_TRUE(decoded("", n));  // nothing to read
    rec::ErrorCause e;
    EXPECT_FALSE(decoded("", e));
    rec::Opt o;
    EXPECT_FALSE(decoded("", o));
}

TEST(PerDecoder, Enumerations)
{
    rec::StandbyState s;
    ASSERT_TRUE(decoded("40", s));
    EXPECT_EQ(8, s.asInt());
    rec::ErrorCause e;
    ASSERT_TRUE(decoded("95 A0", e));
    EXPECT_EQ(20, e.asInt());
    // An extension value of n = 0 does not exist.
    EXPECT_FALSE(decoded("80 00", e));
}

TEST(PerDecoder, ListLimits)
{
    rec::IntList ok;
    std::string image = "80 80";
    for (int i = 0; i < 128; ++i)
        image += " 01 05";
    ASSERT_TRUE(decoded(image, ok));
    EXPECT_EQ(128u, ok.size());
    EXPECT_EQ(5, ok[127].getValue());

    rec::IntList over;
    image = "80 81";
    for (int i = 0; i < 129; ++i)
        image += " 01 05";
    EXPECT_FALSE(decoded(image, over));

    // A failing element erases itself and the rest.
    rec::IntList partial;
    EXPECT_FALSE(decoded("03 01 01 01 02 05", partial));
    EXPECT_EQ(2u, partial.size());
}

TEST(PerDecoder, StringLimits)
{
    OCTET_STRING fits(&wideOctets);
    ASSERT_TRUE(decoded(octetsImage("40 00", 16384), fits));
    EXPECT_EQ(16384u, fits.size());
    OCTET_STRING over(&wideOctets);
    EXPECT_FALSE(decoded(octetsImage("40 01", 16385), over));

    // A fragmented length (first bits 1 1) is refused.
    OCTET_STRING frag;
    EXPECT_FALSE(decoded(octetsImage("C1", 16384), frag));
    OCTET_STRING cut;
    EXPECT_FALSE(decoded("05 01 02", cut));

    BIT_STRING bits;
    EXPECT_FALSE(decoded("C0 01", bits));
    ASSERT_TRUE(decoded("03 A0", bits));
    EXPECT_EQ(3u, bits.size());
    EXPECT_TRUE(bits[0]);
    EXPECT_FALSE(bits[1]);
    EXPECT_TRUE(bits[2]);
    EXPECT_FALSE(decoded("18 01 02", bits));
}

TEST(PerDecoder, CharacterStrings)
{
    NumericString n;
    ASSERT_TRUE(decoded("03 23 00", n));
    EXPECT_EQ("12 ", static_cast<std::string const&>(n));
    // Position 11 and up are beyond the numeric table.
    EXPECT_FALSE(decoded("01 B0", n));
    EXPECT_FALSE(decoded("01 F0", n));

    IA5String s;
    ASSERT_TRUE(decoded("03 61 62 63", s));
    EXPECT_EQ("abc", static_cast<std::string const&>(s));
    EXPECT_FALSE(decoded("05 61 62", s));
    EXPECT_TRUE(s.empty());

    static StringInfo const twoChars = {{{&PrintableString::create, 19}, FixedConstraint, 2, 2},
                                        PrintableStringSet, 74, 7, 7, 8};
    PrintableString p(&twoChars);
    ASSERT_TRUE(decoded("4F 4B", p));
    EXPECT_EQ("OK", static_cast<std::string const&>(p));

    BMPString b;
    ASSERT_TRUE(decoded("02 00 61 01 00", b));
    EXPECT_EQ(std::wstring(L"a\x100"), static_cast<std::wstring const&>(b));
    EXPECT_FALSE(decoded("02 00 61 01", b));

    OBJECT_IDENTIFIER o;
    ASSERT_TRUE(decoded("03 2A 86 48", o));
    EXPECT_EQ(3u, o.levels());
    EXPECT_EQ(840u, o[2]);
    EXPECT_FALSE(decoded("04 2A 86 48", o));
    EXPECT_FALSE(decoded("02 2A 86", o));

    GeneralizedTime t;
    ASSERT_TRUE(decoded("0F 32 30 32 34 30 33 30 35 31 34 30 37 30 39 5A", t));
    EXPECT_EQ("20240305140709Z", t.get());
    EXPECT_FALSE(decoded("0F 32 30", t));
    // A short time text reads nothing outside its octets.
    ASSERT_TRUE(decoded("01 2D", t));
}

TEST(PerDecoder, UnknownExtensions)
{
    // Rec with extension bits 001 (a third, unknown extension) whose open
    // type ends exactly at the last octet.
    rec::Rec r;
    EXPECT_TRUE(decoded("80 02 20 02 AA BB", r));
    EXPECT_EQ(3u, r.extensionMap().size());
    rec::Rec over;
    EXPECT_FALSE(decoded("80 02 20 03 AA BB", over));
}

TEST(PerDecoder, ChoiceIndexMustNameARootAlternative)
{
    // Alt has three root alternatives: the 2-bit index 3 is not one of
    // them, even though an extension alternative has that number.
    rec::Alt a;
    EXPECT_FALSE(decoded("60 00", a));
    ASSERT_TRUE(decoded("80 03 02 68 69", a));
    EXPECT_EQ(3, a.currentSelection());
    EXPECT_EQ("hi", static_cast<std::string const&>(static_cast<IA5String&>(*a.getSelection())));
}

TEST(PerDecoder, ReusedValueLosesStaleExtensions)
{
    rec::Rec r;
    r.includeOptionalField(3, 5);
    ASSERT_TRUE(decoded("00 00", r));
    EXPECT_FALSE(r.hasOptionalField(3));
    EXPECT_EQ("00 00", encoded(r));
}

TEST(PerDecoder, KnownExtensionResumesAfterItsOpenType)
{
    rec::RecList list;
    list.resize(2);
    rec::Rec& first = list[0];
    static_cast<INTEGER&>(*first.includeOptionalField(2, 4)) = 5;
    static_cast<INTEGER&>(*list[1].getField(0)) = 1;
    static_cast<INTEGER&>(*static_cast<SEQUENCE&>(*list[1].getField(3)).getField(0)) = 2;
    ASSERT_EQ("02 80 00 80 02 01 05 05 00", encoded(list));

    // The same with two octets of padding inside the open type.
    rec::RecList padded;
    ASSERT_TRUE(decoded("02 80 00 80 04 01 05 FF FF 05 00", padded));
    EXPECT_EQ(0, padded.compare(list));
}

TEST(PerDecoder, OpenTypes)
{
    OpenData o;
    ASSERT_TRUE(decoded("03 01 02 03", o));
    ASSERT_TRUE(o.has_buf());
    EXPECT_EQ((std::vector<char>{1, 2, 3}), o.get_buf());
    EXPECT_FALSE(o.has_data());
    EXPECT_FALSE(decoded("04 01 02 03", o));

    AbstractData* typed = AbstractData::create(&rec::RecOpenInfo);
    ASSERT_TRUE(decoded("02 05 00 77", *typed));
    rec::Rec const& inner =
        static_cast<rec::Rec const&>(static_cast<OpenData*>(typed)->get_data());
    EXPECT_EQ(1u, static_cast<rec::Int7 const&>(*inner.getField(0)).getValue());
    delete typed;
}

TEST(PerDecoder, Primitives)
{
    std::vector<char> in = bytes("A5 0F");
    PERDecoder d(in.data(), in.data() + in.size());
    EXPECT_EQ(16u, d.getBitsLeft());
    EXPECT_EQ(1u, d.decodeSingleBit());
    unsigned v = 0;
    EXPECT_TRUE(d.decodeMultiBit(3, v));
    EXPECT_EQ(2u, v);
    EXPECT_EQ(12u, d.getBitsLeft());
    PERDecoder::memento_type m(d.getPosition(), 4);
    d.byteAlign();
    EXPECT_EQ(8u, d.getBitsLeft());
    EXPECT_FALSE(d.decodeMultiBit(9, v));
    EXPECT_FALSE(d.decodeMultiBit(33, v));
    d.rollback(m);
    EXPECT_EQ(12u, d.getBitsLeft());
    d.setPosition(in.data() + 100);  // clamped
    EXPECT_TRUE(d.atEnd());
    EXPECT_EQ(0u, d.decodeSingleBit());
    char buf[4];
    EXPECT_EQ(0u, d.decodeBlock(buf, 4));

    std::vector<char> small = bytes("7E 80 01 40");
    PERDecoder s(small.data(), small.data() + small.size());
    EXPECT_TRUE(s.decodeSmallUnsigned(v));
    EXPECT_EQ(63u, v);
    s.byteAlign();
    EXPECT_TRUE(s.decodeSmallUnsigned(v));
    EXPECT_EQ(64u, v);
}
