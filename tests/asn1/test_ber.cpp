#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "ber_support.h"
#include "records.h"

using namespace ASN1;

namespace {

// The value encodes to the image, and the image decodes into a fresh value
// of the same type that compares equal.
::testing::AssertionResult image(AbstractData const& value, std::string const& expected)
{
    std::string const got = bertest::encoded(value);
    if (got != expected)
        return ::testing::AssertionFailure() << "encodes to " << got;
    std::unique_ptr<AbstractData> back(AbstractData::create(value.infoPtr()));
    if (!bertest::decoded(expected, *back))
        return ::testing::AssertionFailure() << "does not decode";
    if (back->compare(value) != 0)
        return ::testing::AssertionFailure() << "decodes to " << back->asValueNotation();
    return ::testing::AssertionSuccess();
}

rec::Message ping(int seq, int slot)
{
    rec::Message m;
    if (seq >= 0)
        static_cast<INTEGER&>(*m.includeOptionalField(0, 0)) = seq;
    if (slot >= 0)
        static_cast<rec::Int1023&>(*m.includeOptionalField(1, 1)) = static_cast<unsigned>(slot);
    CHOICE& pdu = static_cast<CHOICE&>(*m.getField(2));
    pdu.select(0);
    static_cast<CHOICE&>(*pdu.getSelection()).select(12);
    return m;
}

rec::Rec recA(unsigned a)
{
    rec::Rec r;
    static_cast<rec::Int7&>(*r.getField(0)) = a;
    return r;
}

} // namespace

TEST(BerImages, UniversalTagsOfThePrimitives)
{
    EXPECT_TRUE(image(BOOLEAN(true), "01 01 FF"));
    EXPECT_TRUE(image(BOOLEAN(false), "01 01 00"));
    EXPECT_TRUE(image(Null(), "05 00"));
    EXPECT_TRUE(image(INTEGER(0), "02 01 00"));
    EXPECT_TRUE(image(INTEGER(127), "02 01 7F"));
    EXPECT_TRUE(image(INTEGER(128), "02 02 00 80"));
    EXPECT_TRUE(image(INTEGER(-129), "02 02 FF 7F"));
    EXPECT_TRUE(image(INTEGER(-2147483647 - 1), "02 04 80 00 00 00"));
    EXPECT_TRUE(image(OCTET_STRING(std::vector<char>{1, 2}), "04 02 01 02"));
    EXPECT_TRUE(image(IA5String("ab"), "16 02 61 62"));
    EXPECT_TRUE(image(BMPString(L"A\x263A"), "1E 04 00 41 26 3A"));

    OBJECT_IDENTIFIER oid;
    for (unsigned arc : {1u, 2u, 840u})
        oid.append(arc);
    EXPECT_TRUE(image(oid, "06 03 2A 86 48"));

    BIT_STRING bits;
    bits.assign(std::vector<char>{char(0xAB), char(0xCD)}, 16);
    EXPECT_TRUE(image(bits, "03 03 00 AB CD"));
    bits.assign(std::vector<char>{char(0xA0)}, 3);
    EXPECT_TRUE(image(bits, "03 02 05 A0"));
    EXPECT_TRUE(image(BIT_STRING(), "03 01 00"));

    rec::RadioStandby notUse;
    notUse.setFromInt(-1);  // comes back -1, not 255
    EXPECT_TRUE(image(notUse, "0A 01 FF"));
    rec::Payload r2s;
    r2s.setFromInt(123);
    EXPECT_TRUE(image(r2s, "0A 01 7B"));
}

TEST(BerImages, UnsignedRangesCodeTheUnsignedNumber)
{
    // 01 FF would be read as -1 by any other reader.
    EXPECT_TRUE(image(rec::Int32u(4294967295u), "02 05 00 FF FF FF FF"));
    EXPECT_TRUE(image(rec::Int32u(2147483648u), "02 05 00 80 00 00 00"));
    EXPECT_TRUE(image(rec::Int32u(2147483647u), "02 04 7F FF FF FF"));
    EXPECT_TRUE(image(rec::IntFrom0(255u), "02 02 00 FF"));
    EXPECT_EQ(5u, getDataLength(rec::Int32u(4294967295u)));
    EXPECT_EQ(7u, getObjectLength(rec::Int32u(4294967295u), 0xFFFFFFFFu));
    // Signed ranges and the unconstrained type keep two's complement.
    EXPECT_TRUE(image(rec::IntSigned8(static_cast<unsigned>(-1)), "02 01 FF"));
    EXPECT_TRUE(image(INTEGER(-1), "02 01 FF"));

    INTEGER plain;
    EXPECT_FALSE(bertest::decoded("02 05 00 FF FF FF FF", plain));  // five octets only unsigned
    rec::Int32u big;
    EXPECT_FALSE(bertest::decoded("02 05 01 00 00 00 00", big));    // a sixth byte's worth
    EXPECT_FALSE(bertest::decoded("02 06 00 00 FF FF FF FF", big));
}

TEST(BerImages, SequenceFieldsCarryContextTagsAndChoicesWrapTheirAlternative)
{
    rec::Inner inner;
    static_cast<rec::Int7&>(*inner.getField(0)) = 5u;
    EXPECT_TRUE(image(inner, "30 03 80 01 05"));

    EXPECT_TRUE(image(ping(1, 5), "30 0C 80 01 01 81 01 05 A2 04 A0 02 8C 00"));
    EXPECT_TRUE(image(ping(-1, -1), "30 06 A2 04 A0 02 8C 00"));
    // An untagged CHOICE alone has no header of its own.
    EXPECT_TRUE(image(static_cast<CHOICE const&>(*ping(1, 5).getField(2)), "A0 02 8C 00"));
    EXPECT_EQ(4u, getObjectLength(*ping(1, 5).getField(2), 0xFFFFFFFFu));
    EXPECT_EQ(4u, getObjectLength(*ping(1, 5).getField(2), 0));

    rec::Opt empty;
    EXPECT_TRUE(image(empty, "30 00"));

    rec::Rec r = recA(1);
    static_cast<INTEGER&>(*r.includeOptionalField(2, 4)) = 300;  // extension d is field [4]
    EXPECT_TRUE(image(r, "30 0C 80 01 01 A3 03 80 01 00 84 02 01 2C"));

    rec::IntList list;
    list.push_back(INTEGER(1));
    list.push_back(INTEGER(-1));
    EXPECT_TRUE(image(list, "30 06 02 01 01 02 01 FF"));
    rec::NameSet names;
    EXPECT_TRUE(image(names, "31 00"));

    EXPECT_EQ("FAIL", bertest::encoded(rec::Message()));  // nothing selected
    EXPECT_EQ("FAIL", bertest::encoded(OpenData()));      // nothing held
}

TEST(BerImages, LongLengthsAreCountedInTheEnclosingLength)
{
    rec::Rec r = recA(1);
    static_cast<OCTET_STRING&>(*r.includeOptionalField(3, 5)) = std::vector<char>(256, 'x');
    std::vector<char> out;
    ASSERT_TRUE(bertest::encode(r, out));
    // 80 01 01 | A3 03 80 01 00 | 85 82 01 00 <256>: 3 + 5 + 260 octets.
    EXPECT_EQ("30 82 01 0C 80 01 01 A3 03 80 01 00 85 82 01 00 78", per::hex(std::vector<char>(out.begin(), out.begin() + 17)));
    EXPECT_EQ(272u, out.size());
    EXPECT_EQ(268u, getDataLength(r));
    EXPECT_EQ(272u, getObjectLength(r, 0xFFFFFFFFu));
    rec::Rec back;
    ASSERT_TRUE(bertest::decoded(out, back));
    EXPECT_EQ(0, back.compare(r));

    EXPECT_EQ("04 81 80", bertest::encoded(OCTET_STRING(128, 'x')).substr(0, 8));
    EXPECT_EQ("04 81 FF", bertest::encoded(OCTET_STRING(255, 'x')).substr(0, 8));
    EXPECT_EQ("04 83 01 00 00", bertest::encoded(OCTET_STRING(65536, 'x')).substr(0, 14));
    EXPECT_EQ(1u, berTagLength(30));  // BMPString's own tag fits the identifier octet
}

namespace {
// High ::= CHOICE { a [31] NULL, b [128] INTEGER }, and
// Outer ::= CHOICE { high High (untagged), c [2] NULL }: alternative tag
// tables, which no generated record has.
void const* const highInfos[] = {&Null::theInfo, &INTEGER::theInfo};
unsigned const highTags[] = {ber::ContextClass | 31, ber::ContextClass | 128};
char const* const highNames[] = {"a", "b"};
ChoiceInfo const highInfo = {{&CHOICE::create, 0}, false, highInfos, 2, 2, highTags, highNames};
void const* const outerInfos[] = {&highInfo, &Null::theInfo};
unsigned const outerTags[] = {0, ber::ContextClass | 2};
char const* const outerNames[] = {"high", "c"};
ChoiceInfo const outerInfo = {{&CHOICE::create, 0}, false, outerInfos, 2, 2, outerTags, outerNames};
} // namespace

TEST(BerImages, TagNumbersFrom31OnFollowInBase128)
{
    CHOICE a(&highInfo);
    a.select(0);
    EXPECT_TRUE(image(a, "9F 1F 00"));
    CHOICE b(&highInfo);
    b.select(1);
    static_cast<INTEGER&>(*b.getSelection()) = 5;
    EXPECT_TRUE(image(b, "9F 81 00 01 05"));

    // A tag the outer table lacks is looked for inside its untagged CHOICE.
    CHOICE outer(&outerInfo);
    outer.setSelection(0, new CHOICE(a));
    EXPECT_TRUE(image(outer, "9F 1F 00"));
    CHOICE c(&outerInfo);
    c.select(1);
    EXPECT_TRUE(image(c, "82 00"));
    EXPECT_FALSE(bertest::decoded("9F 20 00", c));
    EXPECT_EQ(-2, c.currentSelection());
}

TEST(BerDecoder, HostileInputFails)
{
    struct Case {
        char const* image;
        char const* why;
    } const cases[] = {
        {"", "no header"},
        {"02", "no length"},
        {"02 02 00", "contents past the input"},
        {"02 84 00 00 00", "long length past the input"},
        {"02 85 00 00 00 00 01 00", "length of five octets"},
        {"30 85 01 00 00 00 06 A2 04 A0 02 8C 00", "length of five octets that would wrap to 6"},
        {"30 80 80 01 05 00 00", "indefinite length"},
        {"30 03 80 05 01 02 03 04 05", "field past the enclosing SEQUENCE"},
        {"30 05 A2 03 A0 03 8C 00 00", "alternative past its wrapper"},
        {"30 02 85 00", "mandatory field with another tag"},
        {"30 04 A2 02 A7 00", "alternative the type lacks"},
        {"30 04 A2 02 02 00", "alternative under a universal tag"},
        {"30 04 80 00 A2 00", "INTEGER of no octets"},
        {"30 08 80 00 A2 04 A0 02 8C 00", "optional field that does not decode, before a good one"},
        {"30 06 A2 04 A0 02 82 00", "alternative that does not decode"},
        {"30 09 80 05 01 00 00 00 00 A2 00", "INTEGER of five octets"},
    };
    for (Case const& c : cases) {
        rec::Message m;
        EXPECT_FALSE(bertest::decoded(c.image, m)) << c.why;
    }

    BIT_STRING bits;
    EXPECT_FALSE(bertest::decoded("03 00", bits));
    EXPECT_FALSE(bertest::decoded("03 02 08 00", bits));  // more than 7 unused bits
    EXPECT_FALSE(bertest::decoded("03 01 01", bits));     // unused bits but no octet
    EXPECT_TRUE(bertest::decoded("03 01 00", bits));
    EXPECT_EQ(0u, bits.size());

    BMPString bmp;
    EXPECT_FALSE(bertest::decoded("1E 03 00 41 00", bmp));  // half a character
    BOOLEAN b;
    EXPECT_FALSE(bertest::decoded("01 00", b));
    INTEGER i;
    EXPECT_FALSE(bertest::decoded("04 01 00", i));  // another universal tag
    // Nor does any other type take an INTEGER's header for its own.
    Null null;
    rec::ErrorCause cause;
    OBJECT_IDENTIFIER oid;
    OCTET_STRING octets;
    IA5String text;
    GeneralizedTime time;
    for (AbstractData* v : {static_cast<AbstractData*>(&null), static_cast<AbstractData*>(&b),
                            static_cast<AbstractData*>(&cause), static_cast<AbstractData*>(&oid),
                            static_cast<AbstractData*>(&bits), static_cast<AbstractData*>(&octets),
                            static_cast<AbstractData*>(&text), static_cast<AbstractData*>(&bmp),
                            static_cast<AbstractData*>(&time)})
        EXPECT_FALSE(bertest::decoded("02 01 00", *v)) << v->asValueNotation();
    EXPECT_FALSE(bertest::decoded("04 82 00", octets));  // a long length cut short
    std::vector<char> indefinite{0x04, char(0x80)};
    indefinite.resize(2 + 128);  // as many octets as 80 would give were it a length
    EXPECT_FALSE(bertest::decoded(indefinite, octets));

    // A type without an extension marker has nothing to skip.
    rec::Inner inner;
    EXPECT_FALSE(bertest::decoded("30 06 80 01 05 81 01 01", inner));
    // A tag number past 16 bits would reach the class bits: 0x800000 as [0].
    EXPECT_FALSE(bertest::decoded("30 07 1F 84 80 80 00 01 05", inner));
    rec::IntList list;
    EXPECT_FALSE(bertest::decoded("30 03 02 01", list));
    EXPECT_FALSE(bertest::decoded("30 04 02 00 02 00", list));  // elements that do not decode
}

TEST(BerDecoder, WhatItAccepts)
{
    // Octets after a complete value are ignored.
    rec::Message m;
    ASSERT_TRUE(bertest::decoded("30 06 A2 04 A0 02 8C 00 FF FF", m));
    EXPECT_EQ(0, m.compare(ping(-1, -1)));

    // An empty SEQUENCE is complete, also as the very last octets.
    rec::Opt opt;
    static_cast<INTEGER&>(*opt.includeOptionalField(0, 0)) = 3;
    ASSERT_TRUE(bertest::decoded("30 00", opt));
    EXPECT_FALSE(opt.hasOptionalField(0));

    // An extensible type skips the extensions it does not know.
    rec::Rec r;
    ASSERT_TRUE(bertest::decoded("30 0B 80 01 01 A3 03 80 01 00 89 01 07", r));
    EXPECT_EQ(0, r.compare(recA(1)));

    // Redundant leading octets of a number are no harm.
    INTEGER i;
    ASSERT_TRUE(bertest::decoded("02 03 00 00 05", i));
    EXPECT_EQ(5, i.getValue());
    ASSERT_TRUE(bertest::decoded("02 84 00 00 00 01 06", i));  // lengths of up to four octets
    EXPECT_EQ(6, i.getValue());
    rec::RadioStandby s;
    ASSERT_TRUE(bertest::decoded("0A 02 FF FF", s));
    EXPECT_EQ(-1, s.asInt());

    // A high tag number in the identifier: a field tag the type lacks.
    rec::Opt high;
    EXPECT_FALSE(bertest::decoded("30 04 9F 1F 01 00", high));
    EXPECT_FALSE(bertest::decoded("30 04 9F 9F 9F", high));
}

TEST(BerDecoder, OpenTypesCarryACompleteEncoding)
{
    rec::All all;
    static_cast<CHOICE&>(*all.getField(rec::All::alt)).select(0);
    OpenData& typed = static_cast<OpenData&>(*all.includeOptionalField(7, rec::All::typed));
    static_cast<rec::Int7&>(*static_cast<rec::Rec&>(typed.get_data()).getField(0)) = 2u;
    OpenData& open = static_cast<OpenData&>(*all.includeOptionalField(6, rec::All::open));
    open.grab(new std::vector<char>{5, 0});  // a NULL
    std::vector<char> out;
    ASSERT_TRUE(bertest::encode(all, out));
    std::string const hex = per::hex(out);
    EXPECT_NE(std::string::npos, hex.find("B8 02 05 00")) << hex;                      // open [24]
    EXPECT_NE(std::string::npos, hex.find("B9 0A 30 08 80 01 02 A3 03 80 01 00")) << hex;  // typed [25]
    rec::All back;
    ASSERT_TRUE(bertest::decoded(out, back));
    EXPECT_EQ(0, back.compare(all));

    // Alone, an untagged open type is the encoding it holds, header and all.
    OpenData top;
    ASSERT_TRUE(bertest::decoded("05 00 FF", top));
    EXPECT_EQ((std::vector<char>{5, 0}), top.get_buf());
    std::unique_ptr<AbstractData> typedTop(AbstractData::create(&rec::RecOpenInfo));
    ASSERT_TRUE(bertest::decoded("30 08 80 01 02 A3 03 80 01 00", *typedTop));
    EXPECT_EQ(0, typedTop->compare(typed));
}
