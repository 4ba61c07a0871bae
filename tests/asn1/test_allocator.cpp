// The value pool, the inline presence maps and the word-at-a-time bit
// reader and writer.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/perdecoder.h"
#include "asn1/perencoder.h"
#include "per_support.h"
#include "random_values.h"
#include "records.h"

#if GW_POOL_CHECKED
#include <sanitizer/asan_interface.h>
#endif

using namespace ASN1;
using detail::ValuePool;

namespace {

std::vector<char> encodeOk(AbstractData const& v)
{
    CoderEnv env;
    env.set_encodingRule(CoderEnv::per);
    std::vector<char> out;
    EXPECT_TRUE(encode(v, &env, std::back_inserter(out))) << v.asValueNotation();
    return out;
}

std::string bitsOf(SEQUENCE::BitMap const& m)
{
    std::string s;
    for (unsigned i = 0; i < m.size(); ++i)
        s += m[i] ? '1' : '0';
    return s;
}

} // namespace

TEST(ValuePool, DecodedValuesAreFreedAndTheirBlocksReused)
{
    // Rich random messages decoded into fresh values: after the first rounds
    // every block comes from the free lists, and every block is given back.
    std::mt19937 rng(99);
    std::vector<std::vector<char> > images;
    for (int i = 0; i < 20; ++i) {
        rec::All value;
        randomAll(rng, value, 4);
        images.push_back(encodeOk(value));
    }
    unsigned long const inUse = ValuePool::inUse();
    unsigned long reserved = 0;
    for (int round = 0; round < 3; ++round) {
        if (round == 1)
            reserved = ValuePool::reserved();
        for (std::vector<char> const& octets : images) {
            rec::All back;
            ASSERT_TRUE(per::decoded(octets, back));
            AbstractData* copy = back.clone();
            ASSERT_EQ(octets, encodeOk(*copy));
            delete copy;
        }
        EXPECT_EQ(inUse, ValuePool::inUse()) << "round " << round;
    }
#if GW_POOL_ALLOC
    EXPECT_EQ(reserved, ValuePool::reserved()) << "the later rounds took blocks from the heap";
    EXPECT_GT(reserved, 0u);
#endif
}

TEST(ValuePool, BlocksOfEverySizeClassAndBeyond)
{
    // Pool blocks do not overlap whatever their size, and blocks above the
    // largest class go to the heap and back.
    unsigned long const inUse = ValuePool::inUse();
    unsigned long pooled = 0;
    std::vector<std::pair<unsigned char*, std::size_t> > blocks;
    for (std::size_t n = 0; n <= ValuePool::Largest + 40; n += 3) {
        unsigned char* p = static_cast<unsigned char*>(ValuePool::allocate(n));
        std::fill(p, p + n, static_cast<unsigned char>(n));
        blocks.push_back(std::make_pair(p, n));
        if (n <= ValuePool::Largest)
            ++pooled;
    }
    for (auto const& b : blocks) {
        for (std::size_t i = 0; i < b.second; ++i)
            ASSERT_EQ(static_cast<unsigned char>(b.second), b.first[i]) << "block of " << b.second;
    }
    EXPECT_EQ(inUse + pooled, ValuePool::inUse()) << "only pooled blocks are counted";
    unsigned long const reserved = ValuePool::reserved();
    void* big = ValuePool::allocate(ValuePool::Largest + 1);
    EXPECT_EQ(reserved, ValuePool::reserved()) << "a block above the largest class is no pool block";
    EXPECT_EQ(inUse + pooled, ValuePool::inUse());
    ValuePool::deallocate(big, ValuePool::Largest + 1);
    for (auto const& b : blocks)
        ValuePool::deallocate(b.first, b.second);
    EXPECT_EQ(inUse, ValuePool::inUse());
}

#if GW_POOL_CHECKED
TEST(ValuePool, SanitizerSeesFreedBlocks)
{
    // A freed value stays poisoned until the pool hands its block out again.
    void* p = ValuePool::allocate(40);
    EXPECT_FALSE(__asan_address_is_poisoned(p));
    ValuePool::deallocate(p, 40);
    EXPECT_TRUE(__asan_address_is_poisoned(p));
    EXPECT_TRUE(__asan_address_is_poisoned(static_cast<char*>(p) + 39));
    EXPECT_DEATH(ValuePool::deallocate(p, 40), "freed twice");
}
#endif

TEST(SequenceBitMap, InlineAndLongMaps)
{
    SEQUENCE::BitMap m;
    m.resize(9);
    EXPECT_EQ(2u, m.byteCount());
    m.set(0);
    m.set(8);
    m.set(9);  // beyond the map: ignored
    EXPECT_EQ("100000001", bitsOf(m));
    EXPECT_EQ(0x80, m.data()[0]);
    EXPECT_EQ(0x80, m.data()[1]);
    EXPECT_EQ(0, m[9]);

    // Beyond the inline octets: the bits move along.
    m.resize(130);
    m.set(129);
    EXPECT_EQ(17u, m.byteCount());
    EXPECT_TRUE(m[0] && m[8] && m[129]);
    SEQUENCE::BitMap copy(m);
    m.clear(129);
    EXPECT_EQ(1, copy[129]);
    EXPECT_EQ(0, m[129]);

    // Cut octets are gone: growing again brings zeros.
    m.resize(3);
    EXPECT_EQ("100", bitsOf(m));
    m.resize(16);
    EXPECT_EQ("1000000000000000", bitsOf(m));

    // Swapping and assigning between a long and an inline map.
    SEQUENCE::BitMap small;
    small.resize(2);
    small.set(1);
    small.swap(copy);
    EXPECT_EQ(130u, small.size());
    EXPECT_EQ(1, small[129]);
    EXPECT_EQ("01", bitsOf(copy));
    copy = small;
    small.resize(0);
    EXPECT_EQ(130u, copy.size());
    EXPECT_EQ(1, copy[129]);
    copy = small;
    EXPECT_EQ(0u, copy.size());
}

TEST(SequenceBitMap, AnyLooksOnlyInsideTheMap)
{
    SEQUENCE::BitMap m;
    EXPECT_FALSE(m.any());
    m.resize(12);
    m.set(11);
    EXPECT_TRUE(m.any());
    m.resize(11);  // bit 11 stays in the last octet but is outside the map
    EXPECT_FALSE(m.any());
    m.resize(70);
    m.set(69);
    EXPECT_TRUE(m.any());
    m.resize(0);
    m.resize(16);  // whole octets only: a bit in the first one
    m.set(2);
    EXPECT_TRUE(m.any());
}

TEST(PerBits, MultiBitWritesAndReadsAtEveryAlignment)
{
    // Fields of every width at every bit offset, against a bit-by-bit
    // reference image.
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::pair<unsigned, unsigned> > fields;
        std::vector<int> reference;
        std::vector<char> out;
        PEREncoder e(out);
        for (int k = 0; k < 12; ++k) {
            unsigned const n = rng() % 33;
            unsigned const v = static_cast<unsigned>(rng());
            if (rng() % 5 == 0) {
                e.encodeSingleBit(v & 1);
                reference.push_back(v & 1);
                fields.push_back(std::make_pair(v & 1, 101u));
                continue;
            }
            e.encodeMultiBit(v, n);
            for (unsigned b = n; b-- > 0;)
                reference.push_back((v >> b) & 1);
            fields.push_back(std::make_pair(n == 32 ? v : v & ((1u << n) - 1), n));
        }
        ASSERT_EQ((reference.size() + 7) / 8, out.size());
        for (std::size_t i = 0; i < reference.size(); ++i)
            ASSERT_EQ(reference[i], (static_cast<unsigned char>(out[i / 8]) >> (7 - i % 8)) & 1)
                << "round " << round << " bit " << i;
        for (std::size_t i = reference.size(); i < out.size() * 8; ++i)
            ASSERT_EQ(0, (static_cast<unsigned char>(out[i / 8]) >> (7 - i % 8)) & 1);

        PERDecoder d(out.data(), out.data() + out.size());
        for (auto const& f : fields) {
            unsigned got = 12345;
            if (f.second == 101u) {
                ASSERT_EQ(f.first, d.decodeSingleBit());
                continue;
            }
            ASSERT_TRUE(d.decodeMultiBit(f.second, got));
            ASSERT_EQ(f.first, got) << "round " << round << " width " << f.second;
        }
        unsigned const rest = static_cast<unsigned>(out.size() * 8 - reference.size());
        unsigned tail = 0;
        EXPECT_EQ(rest, d.getBitsLeft());
        EXPECT_FALSE(d.decodeMultiBit(rest + 1, tail));
    }
}

TEST(PerBits, BitMapsOfAnyLengthAtAnyOffset)
{
    for (unsigned offset = 0; offset < 8; ++offset) {
        for (unsigned n = 1; n <= 70; n += 3) {
            SEQUENCE::BitMap m;
            m.resize(n);
            for (unsigned i = 0; i < n; i += 1 + i % 3)
                m.set(i);
            std::vector<char> out;
            PEREncoder e(out);
            e.encodeMultiBit(0, offset);
            e.encodeBitMap(m.data(), m.byteCount(), n);
            e.encodeSingleBit(true);

            SEQUENCE::BitMap back;
            back.resize(n);
            PERDecoder d(out.data(), out.data() + out.size());
            unsigned skip = 0;
            ASSERT_TRUE(d.decodeMultiBit(offset, skip));
            ASSERT_TRUE(d.decodeBitMap(back.data(), back.byteCount(), n));
            EXPECT_EQ(bitsOf(m), bitsOf(back)) << "offset " << offset << " bits " << n;
            EXPECT_EQ(1u, d.decodeSingleBit());
        }
    }
}

TEST(PerCoder, EncodingAppendsToTheCallersOctetsOrLeavesThemAlone)
{
    CoderEnv env;
    env.set_encodingRule(CoderEnv::per);
    std::vector<char> out = {'A', 'B'};
    rec::Inner inner;
    static_cast<rec::Int7&>(*inner.getField(0)) = 5u;
    ASSERT_TRUE(encode(inner, &env, std::back_inserter(out)));
    EXPECT_EQ("41 42 A0", per::hex(out));

    rec::Inner bad;
    static_cast<rec::Int7&>(*bad.getField(0)) = 8u;  // outside 0..7
    EXPECT_FALSE(encode(bad, &env, std::back_inserter(out)));
    EXPECT_EQ("41 42 A0", per::hex(out));
}

TEST(PerCoder, LongOpenTypesGetTheirLengthInFront)
{
    // A known extension of 202 octets: written in place, then its two
    // length octets put in front of it.
    rec::Rec r;
    std::vector<char> const payload(200, '\x5A');
    static_cast<OCTET_STRING&>(*r.includeOptionalField(3, 5)) = payload;
    std::vector<char> const octets = encodeOk(r);
    std::string const text = per::hex(octets);
    EXPECT_NE(std::string::npos, text.find("80 CA 80 C8 5A 5A")) << text;
    rec::Rec back;
    ASSERT_TRUE(per::decoded(octets, back));
    EXPECT_EQ(0, back.compare(r));
    EXPECT_EQ(payload, static_cast<OCTET_STRING const&>(*back.getField(5)));
}
