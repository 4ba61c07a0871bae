#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/perdecoder.h"
#include "per_support.h"
#include "records.h"

using namespace ASN1;
using per::bytes;
using per::decoded;
using per::encoded;

// Images that both coders write and read are in the encoder's tests; these
// are the cases only the decoder meets.

namespace {
// The length octets, then n octets of 0x2A.
std::string octetsImage(std::string s, unsigned n)
{
    for (unsigned i = 0; i < n; ++i)
        s += " 2A";
    return s;
}
} // namespace

TEST(PerDecoder, ExtraOctetsAndUnknownAlternatives)
{
    // Octets after a complete message are ignored.
    rec::Message extra;
    EXPECT_TRUE(decoded("40 00 05 18 FF FF", extra));
    EXPECT_EQ("40 00 05 18", encoded(extra));

    // Command: extension bit 1, alternative 15 + 0, open type of one octet:
    // 00 1 0000000, then 01 00. Skipped, as an unknown selection.
    rec::Message m;
    ASSERT_TRUE(decoded("40 00 05 20 00 01 00", m));
    CHOICE& command =
        static_cast<CHOICE&>(*static_cast<CHOICE&>(*m.getField(2)).getSelection());
    EXPECT_EQ(-2, command.currentSelection());
    EXPECT_EQ(nullptr, command.getSelection());
    // Its open type cut short, the frame is refused.
    for (const char* cut : {"40 00 05 20 00 01", "40 00 05 20 00 02 00"}) {
        rec::Message m2;
        EXPECT_FALSE(decoded(cut, m2)) << cut;
    }

    // Alt has three root alternatives: the 2-bit index 3 is not one of
    // them, even though an extension alternative has that number.
    rec::Alt a;
    EXPECT_FALSE(decoded("60 00", a));

    // Extension numbers near 2^32 (a 4-octet normally small number) must
    // not wrap onto a root alternative when the root count is added, on a
    // 32-bit target either: 2^32 - 3 + 3 roots would be x, 2^32 - 2 y.
    for (const char* n : {"FF FF FF FD", "FF FF FF FE", "FF FF FF FF"}) {
        rec::Alt far;
        ASSERT_TRUE(decoded(std::string("C0 04 ") + n + " 01 00", far)) << n;
        EXPECT_EQ(-2, far.currentSelection()) << n;
        EXPECT_EQ(nullptr, far.getSelection()) << n;
    }
}

TEST(PerDecoder, Integers)
{
    INTEGER i(9);
    ASSERT_TRUE(decoded("00", i));  // no octets: 0
    EXPECT_EQ(0, i.getValue());
    EXPECT_FALSE(decoded("05 01 02 03 04 05", i));
    EXPECT_FALSE(decoded("02 01", i));

    // What the encoder wrote in two's complement comes back signed, also
    // for a lower bound alone.
    rec::IntFrom0 from0;
    ASSERT_TRUE(decoded("01 FF", from0));
    EXPECT_EQ(-1, from0.INTEGER::getValue());

    // The range is not checked on reading: 0..5 from the bits 111 is 7.
    Constrained_INTEGER<FixedConstraint, 0, 5> five;
    ASSERT_TRUE(decoded("E0", five));
    EXPECT_EQ(7u, five.getValue());

    rec::ErrorCause e;
    EXPECT_FALSE(decoded("80 00", e));  // an extension value of n = 0 does not exist
}

TEST(PerDecoder, TruncatedInputFails)
{
    // The last field, an integer of 0..1023, is cut off.
    rec::Message m, m2;
    EXPECT_FALSE(decoded("40 00", m));
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

    // A length cut off, or a value it counts, is no empty or zero value;
    // nor is a cut extension bitmap or an unknown extension's lost length.
    OCTET_STRING none, half, short2;
    INTEGER i;
    IA5String ia5;
    NumericString num;
    BMPString bmp;
    OpenData open;
    rec::Alt alt;
    rec::Rec noMap, noLength;
    struct { char const* image; AbstractData* value; } const cut[] = {
        {"", &none}, {"80", &half}, {"02 41", &short2}, {"", &i}, {"", &ia5}, {"03 12", &num},
        {"", &bmp}, {"", &open}, {"20", &alt}, {"80 02", &noMap}, {"80 02 20", &noLength}};
    for (auto const& c : cut)
        EXPECT_FALSE(decoded(c.image, *c.value)) << c.image;
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
    EXPECT_FALSE(decoded("80 81" + image.substr(5) + " 01 05", over));

    // A failing element erases itself and the rest.
    rec::IntList partial;
    EXPECT_FALSE(decoded("03 01 01 01 02 05", partial));
    EXPECT_EQ(2u, partial.size());
}

TEST(PerDecoder, StringLimitsAndShortInput)
{
    static ConstrainedInfo const wide = {{&OCTET_STRING::create, 4}, FixedConstraint, 0, 20000};
    OCTET_STRING fits(&wide), over(&wide), frag, cut;
    ASSERT_TRUE(decoded(octetsImage("40 00", 16384), fits));
    EXPECT_EQ(16384u, fits.size());
    EXPECT_FALSE(decoded(octetsImage("40 01", 16385), over));
    static ConstrainedInfo const wideBits = {{&BIT_STRING::create, 3}, FixedConstraint, 0, 20000};
    BIT_STRING bitsAtLimit(&wideBits);
    ASSERT_TRUE(decoded(octetsImage("40 00", 2048), bitsAtLimit));
    EXPECT_EQ(16384u, bitsAtLimit.size());
    // A fragmented length (first bits 1 1) is refused.
    EXPECT_FALSE(decoded(octetsImage("C1", 16384), frag));
    EXPECT_FALSE(decoded("05 01 02", cut));

    BIT_STRING bits;
    EXPECT_FALSE(decoded("C0 01", bits));
    EXPECT_FALSE(decoded("18 01 02", bits));

    // Positions 11 and up are beyond the numeric table.
    NumericString n;
    EXPECT_FALSE(decoded("01 B0", n));
    EXPECT_FALSE(decoded("01 F0", n));

    IA5String s("old");
    EXPECT_FALSE(decoded("05 61 62", s));
    EXPECT_TRUE(s.empty());

    BMPString b;
    EXPECT_FALSE(decoded("02 00 61 01", b));

    OBJECT_IDENTIFIER o;
    EXPECT_FALSE(decoded("04 2A 86 48", o));
    EXPECT_FALSE(decoded("02 2A 86", o));

    GeneralizedTime t;
    EXPECT_FALSE(decoded("0F 32 30", t));
    // A short time text reads nothing outside its octets.
    EXPECT_TRUE(decoded("01 2D", t));
}

TEST(PerDecoder, UnknownExtensions)
{
    // Rec with extension bits 001 (a third, unknown extension) whose open
    // type ends exactly at the last octet.
    rec::Rec r, over;
    EXPECT_TRUE(decoded("80 02 20 02 AA BB", r));
    EXPECT_EQ(3u, r.extensionMap().size());
    EXPECT_FALSE(decoded("80 02 20 03 AA BB", over));
    // Of three unknown extensions only the middle one is present.
    rec::Rec gap;
    EXPECT_TRUE(decoded("80 04 10 02 AA BB", gap));
}

TEST(PerDecoder, ReusedValueKeepsNothingStale)
{
    rec::Rec r;
    r.includeOptionalField(3, 5);
    ASSERT_TRUE(decoded("00 00", r));
    EXPECT_FALSE(r.hasOptionalField(3));
    EXPECT_EQ("00 00", encoded(r));

    // A time without fraction, zone or offset has none after decoding.
    GeneralizedTime t(2001, 2, 3, 4, 5, 6, 789, 0, true);
    ASSERT_TRUE(decoded(encoded(GeneralizedTime(2024, 3, 5, 14, 7, 9, 0, 0, false)), t));
    EXPECT_EQ("20240305140709", t.get());
    GeneralizedTime offset(2001, 2, 3, 4, 5, 6, 0, 90, false);
    ASSERT_TRUE(decoded(encoded(GeneralizedTime(2024, 3, 5, 14, 7, 9, 0, 0, false)), offset));
    EXPECT_EQ("20240305140709", offset.get());
}

TEST(PerDecoder, OpenTypesResumeAtTheirEnd)
{
    rec::RecList list;
    list.resize(2);
    static_cast<INTEGER&>(*list[0].includeOptionalField(2, 4)) = 5;
    static_cast<INTEGER&>(*list[1].getField(0)) = 1;
    static_cast<INTEGER&>(*static_cast<SEQUENCE&>(*list[1].getField(3)).getField(0)) = 2;
    ASSERT_EQ("02 80 00 80 02 01 05 05 00", encoded(list));
    // The same with two octets of padding inside the known extension's
    // open type.
    rec::RecList padded;
    ASSERT_TRUE(decoded("02 80 00 80 04 01 05 FF FF 05 00", padded));
    EXPECT_EQ(0, padded.compare(list));
    // A value is read from its open type's octets only, never from the
    // octets after it: the extension here claims one octet for two, the
    // alternative w two octets for three.
    rec::RecList cut;
    EXPECT_FALSE(decoded("02 80 00 80 01 01 05 05 00", cut));
    rec::Alt w, wCut;
    ASSERT_TRUE(decoded("80 03 02 61 62", w));
    EXPECT_EQ(3, w.currentSelection());
    EXPECT_FALSE(decoded("80 02 02 61 62", wCut));

    OpenData o;
    ASSERT_TRUE(decoded("03 01 02 03", o));
    ASSERT_TRUE(o.has_buf());
    EXPECT_EQ((std::vector<char>{1, 2, 3}), o.get_buf());
    EXPECT_FALSE(o.has_data());
    EXPECT_FALSE(decoded("04 01 02 03", o));

    // A type-constrained open type is decoded in place.
    std::unique_ptr<AbstractData> typed(AbstractData::create(&rec::RecOpenInfo));
    ASSERT_TRUE(decoded("02 05 00 77", *typed));
    rec::Rec const& inner =
        static_cast<rec::Rec const&>(static_cast<OpenData&>(*typed).get_data());
    EXPECT_EQ(1u, static_cast<rec::Int7 const&>(*inner.getField(0)).getValue());
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
    // A bitmap may take the very last bit.
    unsigned char map[1];
    PERDecoder last(in.data() + 1, in.data() + 2);
    EXPECT_TRUE(last.decodeBitMap(map, 1, 8));
    EXPECT_EQ(0x0F, map[0]);

    std::vector<char> small = bytes("7E 80 01 40");
    PERDecoder s(small.data(), small.data() + small.size());
    EXPECT_TRUE(s.decodeSmallUnsigned(v));
    EXPECT_EQ(63u, v);
    s.byteAlign();
    EXPECT_TRUE(s.decodeSmallUnsigned(v));
    EXPECT_EQ(64u, v);
}
