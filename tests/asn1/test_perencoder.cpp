#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/perencoder.h"
#include "per_support.h"
#include "records.h"

using namespace ASN1;
using per::encoded;
using per::hex;

namespace {

rec::Message message(bool seq, bool slot)
{
    rec::Message m;
    if (seq)
        static_cast<INTEGER&>(*m.includeOptionalField(0, 0)) = 1;
    if (slot)
        static_cast<rec::Int1023&>(*m.includeOptionalField(1, 1)) = 5u;
    return m;
}

CHOICE& pdu(rec::Message& m)
{
    return static_cast<CHOICE&>(*m.getField(2));
}

rec::Message ping(bool seq, bool slot)
{
    rec::Message m = message(seq, slot);
    pdu(m).setSelection(0, AbstractData::create(&rec::Command::theInfo));
    static_cast<CHOICE&>(*pdu(m).getSelection()).select(12);
    return m;
}

template <class Write>
std::string written(Write write)
{
    std::vector<char> out;
    PEREncoder e(out);
    if (!write(e))
        return "FAIL";
    return hex(out);
}

} // namespace

TEST(PerEncoder, ControlMessageImages)
{
    EXPECT_EQ("06 00", encoded(ping(false, false)));
    EXPECT_EQ("40 00 05 18", encoded(ping(false, true)));
    EXPECT_EQ("C0 01 01 00 05 18", encoded(ping(true, true)));

    rec::Message success = message(true, true);
    pdu(success).setSelection(1, AbstractData::create(&rec::Response::theInfo));
    static_cast<CHOICE&>(*pdu(success).getSelection()).select(0);
    EXPECT_EQ("C0 01 01 00 05 40", encoded(success));

    rec::Message error = message(true, true);
    pdu(error).setSelection(1, AbstractData::create(&rec::Response::theInfo));
    CHOICE& response = static_cast<CHOICE&>(*pdu(error).getSelection());
    response.select(1);
    static_cast<ENUMERATED&>(*response.getSelection()).setFromInt(4);
    EXPECT_EQ("C0 01 01 00 05 64", encoded(error));

    // Nothing selected cannot be encoded.
    EXPECT_EQ("FAIL", encoded(message(true, true)));
}

TEST(PerEncoder, UnconstrainedIntegers)
{
    EXPECT_EQ("01 00", encoded(INTEGER(0)));
    EXPECT_EQ("01 7F", encoded(INTEGER(127)));
    EXPECT_EQ("02 00 80", encoded(INTEGER(128)));
    EXPECT_EQ("01 FF", encoded(INTEGER(-1)));
    EXPECT_EQ("01 80", encoded(INTEGER(-128)));
    EXPECT_EQ("02 FF 7F", encoded(INTEGER(-129)));
    EXPECT_EQ("04 80 00 00 00", encoded(INTEGER(-2147483647 - 1)));
    // A lower bound alone still goes as two's complement.
    EXPECT_EQ("02 00 FF", encoded(rec::IntFrom0(255u)));
}

TEST(PerEncoder, ConstrainedWholeNumbers)
{
    EXPECT_EQ("00 05", encoded(rec::Int1023(5u)));
    EXPECT_EQ("E0", encoded(rec::Int7(7u)));
    EXPECT_EQ("FE", written([](PEREncoder& e) { return e.encodeUnsigned(127, 0, 127); }));
    EXPECT_EQ("FE", written([](PEREncoder& e) { return e.encodeUnsigned(254, 0, 254); }));
    // 0..254 is a bit field: it does not align after a leading bit.
    EXPECT_EQ("FF 00", written([](PEREncoder& e) {
                  e.encodeSingleBit(true);
                  return e.encodeUnsigned(254, 0, 254);
              }));
    EXPECT_EQ("80 FF", written([](PEREncoder& e) {
                  e.encodeSingleBit(true);
                  return e.encodeUnsigned(255, 0, 255);
              }));
    EXPECT_EQ("FF FF", written([](PEREncoder& e) { return e.encodeUnsigned(65535, 0, 65535); }));
    EXPECT_EQ("00 00", encoded(rec::Int32u(0u)));
    EXPECT_EQ("40 01 00", encoded(rec::Int32u(256u)));
    EXPECT_EQ("C0 FF FF FF FF", encoded(rec::Int32u(0xFFFFFFFFu)));
    EXPECT_EQ("00 00", encoded(rec::IntWide(112000u)));
    EXPECT_EQ("80 04 64 E7", encoded(rec::IntWide(399975u)));
    // -128..127 goes as the offset in one octet.
    EXPECT_EQ("7F", encoded(rec::IntSigned8(0xFFFFFFFFu)));
    EXPECT_EQ("FF", encoded(rec::IntSigned8(127u)));

    EXPECT_EQ("FAIL", encoded(rec::Int1023(1024u)));
    EXPECT_EQ("FAIL", encoded(rec::IntSigned8(128u)));
    EXPECT_EQ("FAIL", encoded(rec::IntWide(111999u)));
    // Out of an extensible range: the extension bit and two's complement.
    EXPECT_EQ("80 01 10", encoded(rec::IntExt15(16u)));
    EXPECT_EQ("78", encoded(rec::IntExt15(15u)));
}

TEST(PerEncoder, LengthsAndSmallNumbers)
{
    auto length = [](unsigned n) {
        return written([n](PEREncoder& e) { return e.encodeLength(n, 0, 0x7FFFFFFF); });
    };
    EXPECT_EQ("7F", length(127));
    EXPECT_EQ("80 80", length(128));
    EXPECT_EQ("BF FF", length(16383));
    EXPECT_EQ("FAIL", length(16384));
    EXPECT_EQ("FAIL", written([](PEREncoder& e) { return e.encodeLength(3, 4, 10); }));

    EXPECT_EQ("7E", written([](PEREncoder& e) { return e.encodeSmallUnsigned(63), true; }));
    EXPECT_EQ("80 01 40", written([](PEREncoder& e) { return e.encodeSmallUnsigned(64), true; }));
}

TEST(PerEncoder, Enumerations)
{
    rec::StandbyState s;
    s.setFromInt(8);  // by value, not by position: 8 in 5 bits
    EXPECT_EQ("40", encoded(s));
    rec::Payload p;
    p.setFromInt(123);
    EXPECT_EQ("F6", encoded(p));
    p.setFromInt(124);
    EXPECT_EQ("FAIL", encoded(p));

    rec::RadioStandby r;
    r.setFromInt(-1);
    EXPECT_EQ("FAIL", encoded(r));

    rec::ErrorCause e;
    e.setFromInt(12);
    EXPECT_EQ("60", encoded(e));
    e.setFromInt(20);  // beyond the root: extension bit, n = 21, then 20 in 0..20
    EXPECT_EQ("95 A0", encoded(e));
}

TEST(PerEncoder, ChoicesAndOpenTypes)
{
    rec::Alt a;
    a.select(1);
    static_cast<INTEGER&>(*a.getSelection()) = 0x55;
    EXPECT_EQ("20 55", encoded(a));

    a.select(3);  // extension alternative: index 0, then an open type
    static_cast<IA5String&>(*a.getSelection()) = "hi";
    EXPECT_EQ("80 03 02 68 69", encoded(a));

    a.select(0);
    EXPECT_EQ("00", encoded(a));

    EXPECT_EQ("01 00", written([](PEREncoder& e) {
                  Null n;
                  return e.encodeAnyType(&n);
              }));
    EXPECT_EQ("01 00", encoded(OpenData()));
    EXPECT_EQ("01 E0", encoded(OpenData(new rec::Int7(7u), &OpenData::theInfo)));
    // Octets kept from a decode go out unchanged.
    OpenData kept;
    kept.grab(new std::vector<char>{1, 2, 3});
    EXPECT_EQ("03 01 02 03", encoded(kept));
}

TEST(PerEncoder, NothingWrittenForEmptyValues)
{
    EXPECT_EQ("", encoded(Null()));
    EXPECT_EQ("80", encoded(BOOLEAN(true)));
    EXPECT_EQ("00", encoded(rec::Opt()));

    // Extension map with entries but none set: bit 0 and no extension part.
    rec::Rec r;
    r.includeOptionalField(3, 5);
    r.removeOptionalField(3);
    EXPECT_EQ("00 00", encoded(r));
    r.includeOptionalField(3, 5);
    static_cast<OCTET_STRING&>(*r.getField(5)) = std::vector<char>{0x11};
    // 1 00 000 000 | 0000001 | 01 | open type 02 (01 11)
    EXPECT_EQ("80 01 40 02 01 11", encoded(r));
}

TEST(PerEncoder, Strings)
{
    EXPECT_EQ("00", encoded(OCTET_STRING()));
    EXPECT_EQ("01 AB", encoded(OCTET_STRING(1, char(0xAB))));
    EXPECT_EQ("03 01 02 03", encoded(OCTET_STRING(std::vector<char>{1, 2, 3})));
    // One or two octets are not aligned after a leading bit.
    rec::Rec r;
    r.includeOptionalField(3, 5);
    static_cast<OCTET_STRING&>(*r.getField(5)) = std::vector<char>{0x11, 0x22};
    EXPECT_EQ("80 01 40 03 02 11 22", encoded(r));

    EXPECT_EQ("03 61 62 63", encoded(IA5String("abc")));
    std::string bad = "a";
    bad += char(200);
    EXPECT_EQ("02 61 C8", encoded(IA5String(bad)));  // 8-bit block: no check
    // NumericString sends positions in 4 bits.
    EXPECT_EQ("03 23 00", encoded(NumericString("12 ")));
    EXPECT_EQ("FAIL", encoded(NumericString("1x")));
    // PrintableString in 8 bits goes as a block; a short fixed one per character.
    static StringInfo const twoChars = {{{&PrintableString::create, 19}, FixedConstraint, 2, 2},
                                        PrintableStringSet, 74, 7, 7, 8};
    EXPECT_EQ("4F 4B", encoded(PrintableString("OK", &twoChars)));
    EXPECT_EQ("FAIL", encoded(PrintableString("O*", &twoChars)));
    EXPECT_EQ("FAIL", encoded(PrintableString("OKK", &twoChars)));

    BIT_STRING b;
    b.assign(std::vector<char>{char(0xA0)}, 3);
    EXPECT_EQ("03 A0", encoded(b));
    b.assign(std::vector<char>{1, 2, 3}, 24);
    EXPECT_EQ("18 01 02 03", encoded(b));

    EXPECT_EQ("02 00 61 01 00", encoded(BMPString(L"a\x100")));

    OBJECT_IDENTIFIER o;
    o.append(1);
    o.append(2);
    o.append(840);
    EXPECT_EQ("03 2A 86 48", encoded(o));

    EXPECT_EQ("0F 32 30 32 34 30 33 30 35 31 34 30 37 30 39 5A",
              encoded(GeneralizedTime("20240305140709Z")));
}

TEST(PerEncoder, PeerLimits)
{
    OCTET_STRING big(16384, 'x');
    std::string image = encoded(big);
    EXPECT_EQ("FAIL", image);  // an unbounded length stops at 16383
    static ConstrainedInfo const wide = {{&OCTET_STRING::create, 4}, FixedConstraint, 0, 20000};
    OCTET_STRING sized(16384, 'x', &wide);
    EXPECT_NE("FAIL", encoded(sized));
    OCTET_STRING tooBig(16385, 'x', &wide);
    EXPECT_EQ("FAIL", encoded(tooBig));  // the peer refuses it

    rec::IntList list;
    list.resize(128);
    EXPECT_NE("FAIL", encoded(list));
    list.resize(129);
    EXPECT_EQ("FAIL", encoded(list));
}

TEST(PerEncoder, RefusesWhatThePeerCannotRead)
{
    // An extension bit beyond the known extensions has no octets to send.
    rec::Rec r;
    r.includeOptionalField(4, 5);
    EXPECT_EQ(3u, r.extensionMap().size());
    EXPECT_EQ("FAIL", encoded(r));
    // Extensions of a type without an extension marker.
    rec::Opt o;
    o.includeOptionalField(2, 0);
    EXPECT_EQ("FAIL", encoded(o));
    // A character beyond the 16 bits of a BMPString would be cut.
    EXPECT_EQ("FAIL", encoded(BMPString(std::wstring(1, wchar_t(0x10000)))));
    // A fixed single value other than the one allowed.
    typedef Constrained_INTEGER<FixedConstraint, 3, 3> Three;
    EXPECT_EQ("", encoded(Three(3u)));
    EXPECT_EQ("FAIL", encoded(Three(4u)));
    // Octets of an empty open type kept from a decode go out as they came.
    OpenData empty;
    empty.grab(new std::vector<char>);
    EXPECT_EQ("00", encoded(empty));
}

TEST(PerEncoder, FailedEncodeWritesNothing)
{
    rec::Message m = ping(true, true);
    static_cast<rec::Int1023&>(*m.getField(1)) = 2000u;
    CoderEnv env;
    env.set_encodingRule(2);
    std::vector<char> out{'k', 'e', 'e', 'p'};
    EXPECT_FALSE(encode(m, &env, std::back_inserter(out)));
    EXPECT_EQ((std::vector<char>{'k', 'e', 'e', 'p'}), out);
}
