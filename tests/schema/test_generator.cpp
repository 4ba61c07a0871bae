// What the generator derives from the module texts beyond the plain tables:
// names tables with explicit numbers, optional-field and extension numbering,
// inline type names, and values made from records being of the generated
// class (so the accessors' casts hold, also under the sanitizers).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "schema/lgcp/LGCP.h"
#include "schema/mon/MON.h"
#include "schema/term/TERM.h"
#include "schema/zarngw/ZARNGW.h"

namespace {

std::vector<std::string> names(ASN1::EnumeratedInfo const& info)
{
    return std::vector<std::string>(info.names, info.names + info.numNames);
}

} // namespace

TEST(GeneratedRecords, EnumerationNamesCarryNumbersOnlyWhereTheNumberingJumps)
{
    EXPECT_EQ((std::vector<std::string>{"not-use=-1", "active", "standby"}),
              names(TERM::RadioStandby::theInfo));
    EXPECT_EQ(1, TERM::RadioStandby::theInfo.maximum);

    // A value below its predecessor, and the largest value not last.
    std::vector<std::string> dscp = names(TERM::IpQoSDSCP::theInfo);
    ASSERT_EQ(24u, dscp.size());
    EXPECT_EQ("le", dscp[1]);
    EXPECT_EQ("cs1=8", dscp[2]);
    EXPECT_EQ("count=23", dscp.back());
    EXPECT_EQ(56, TERM::IpQoSDSCP::theInfo.maximum);

    // Two names with one number: the second is written with its number, and
    // the name after it follows on from it.
    std::vector<std::string> gain = names(ZARNGW::ProtoZarnAnalogGainIDV1::theInfo);
    ASSERT_EQ(16u, gain.size());
    EXPECT_EQ("fake=255", gain[11]);
    EXPECT_EQ("min=0", gain[12]);
    EXPECT_EQ("max=10", gain[13]);
    EXPECT_EQ("mux", gain[14]);
    EXPECT_EQ(255, ZARNGW::ProtoZarnAnalogGainIDV1::theInfo.maximum);

}

TEST(GeneratedRecords, ExtensionAdditionsFollowTheRootAndNumberAfterTheOptionalBits)
{
    ASN1::SequenceInfo const& r = TERM::ISDN_NumberType::theInfo;
    EXPECT_EQ(2u, r.numFields);
    EXPECT_EQ(1u, r.knownExtensions);
    EXPECT_EQ(0u, r.numOptional);
    EXPECT_STREQ("screeningInd", r.fieldNames[2]);

    TERM::ISDN_NumberType n;
    EXPECT_FALSE(n.screeningInd_isPresent());
    n.set_screeningInd(TERM::ISDN_NumberType_screeningInd::network);
    EXPECT_TRUE(n.screeningInd_isPresent());
    EXPECT_EQ(1u, n.extensionMap().size());
    EXPECT_EQ(0u, n.optionalMap().size());
    n.omit_screeningInd();
    EXPECT_FALSE(n.screeningInd_isPresent());

    // Thirteen additions after six optional root fields: the last one is bit 18.
    TERM::TermParams p;
    p.set_radio_command();
    EXPECT_EQ(13u, p.extensionMap().size());
    EXPECT_TRUE(p.hasOptionalField(18));
    EXPECT_FALSE(p.hasOptionalField(6));
}

TEST(GeneratedRecords, InlineTypesAreNamedAfterTheirPlace)
{
    LGCP::PlayerParams p;
    LGCP::PlayerParams_network& n = p.select_network();
    n.set_id(4);
    n.set_host().set_iaddr("10.0.0.1");
    EXPECT_EQ(&LGCP::PlayerParams_network::theInfo, p.get_network().infoPtr());

    LGCP::DTMFParams d;
    d.set_threshold().set_noise(65535u);
    EXPECT_EQ(65535u, d.get_threshold().get_noise().getValue());
    EXPECT_EQ(&LGCP::DTMFParams_level::theInfo, d.get_level().infoPtr());
}

TEST(GeneratedValues, ValuesMadeFromRecordsAreOfTheGeneratedClass)
{
    std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(&LGCP::Message::theInfo));
    LGCP::Message* m = dynamic_cast<LGCP::Message*>(v.get());
    ASSERT_NE(nullptr, m);
    EXPECT_NE(nullptr, dynamic_cast<LGCP::PDU const*>(&m->get_pdu()));

    LGCP::Resources r;
    LGCP::MixerResources_subtype unit;
    unit.set_unit(3);
    r.set_mixer().push_back(unit);
    r.set_mixer().push_back(unit);
    std::unique_ptr<LGCP::Resources> copy(r.clone());
    ASSERT_EQ(2u, copy->get_mixer().size());
    EXPECT_NE(nullptr, dynamic_cast<LGCP::MixerResources_subtype const*>(&copy->get_mixer()[1]));
    EXPECT_EQ(3, copy->get_mixer()[1].get_unit().getValue());

    // Copies own their elements: erasing from the copy leaves the original.
    auto& list = copy->set_mixer();
    list.erase(list.begin());
    EXPECT_EQ(1u, copy->get_mixer().size());
    EXPECT_EQ(2u, r.get_mixer().size());
}

TEST(GeneratedValues, ListRecordsCreateTypedLists)
{
    typedef ASN1::SEQUENCE_OF<MON::SnmpSetCommand, ASN1::EmptyConstraint> Commands;
    std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(&Commands::theInfo));
    EXPECT_NE(nullptr, dynamic_cast<Commands*>(v.get()));
    typedef ASN1::SET_OF<LGCP::TonecMask, ASN1::EmptyConstraint> Masks;
    EXPECT_EQ(17u, Masks::theInfo.tag);
    EXPECT_EQ(&LGCP::TonecMask::theInfo, Masks::theInfo.elementInfo);
}
