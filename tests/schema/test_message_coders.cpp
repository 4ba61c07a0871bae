// Every LGCP and MON message the tests build, through the coders beside
// aligned PER: printed and parsed back, and in BER (checked by openssl).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "lgcp_samples.h"
#include "mon_samples.h"
#include "schema/lgcp/LGCP.h"
#include "schema/mon/MON.h"
#include "tests/support/per_image.h"

using namespace lgcp_samples;
using testsupport::bytes;
using testsupport::hex;
using testsupport::per;

namespace {

// One message of every command, create kind, signal and answer.
std::vector<LGCP::Message> lgcpMessages()
{
    std::vector<LGCP::Message> v;
    int seq = 0;
    for (LGCP::Command const& c : oneCommandOfEachKind()) {
        LGCP::Message m = command(c);
        m.set_seq(++seq * 1000);
        m.set_slot(1023u);
        v.push_back(m);
    }
    LGCP::CreateParams spi;
    spi.select_spi_tdm().set_channel(3);
    LGCP::CreateParams mixer;
    mixer.select_rtpOnMixer().set_params().set_dhost().set_iaddr("1.2.3.4");
    LGCP::CreateParams trunk;
    trunk.select_trunk_bri().set_trunk(1u);
    LGCP::CreateParams qsig;
    qsig.select_ats_qsig_b().set_subslot(3u);
    for (LGCP::CreateParams const& c : {spi, mixer, trunk, qsig}) {
        LGCP::Message m = command(LGCP::Command(LGCP::Command::create::index, c));
        m.set_slot(7u);
        v.push_back(m);
    }
    for (LGCP::Signal const& s : oneSignalOfEachKind()) {
        LGCP::Message m;
        m.set_slot(5u);
        m.set_pdu().select_signal(s);
        v.push_back(m);
    }
    LGCP::Message ok = ping(1, 5);
    ok.set_pdu().select_response().select_success();
    v.push_back(ok);
    for (auto cause : {LGCP::ErrorCause::unexpectedMsgType, LGCP::ErrorCause::destroyInProgress}) {
        LGCP::Message error;
        error.set_pdu().select_response().select_error(cause);
        v.push_back(error);
    }
    v.push_back(ping());
    v.push_back(ping(1, 5));
    return v;
}

// The images of the LGCP and MON tests, decoded rather than built.
char const* const lgcpImages[] = {"06 00", "40 00 05 18", "C0 01 01 00 05 18",
                                  "C0 01 01 00 05 40", "C0 01 01 00 05 64", "1B 00",
                                  "20 40 01 00 80 01 00"};
char const* const monImages[] = {"18", "08 01 00 01 68", "00 00"};

// PER decode, print, parse: an equal value with the same PER image.
template <class T>
::testing::AssertionResult printedAndParsedBack(std::string const& image)
{
    T decoded;
    if (!testsupport::decode(image, decoded))
        return ::testing::AssertionFailure() << "no PER decode of " << image;
    std::string const text = decoded.asValueNotation();
    T parsed;
    if (!parsed.setFromValueNotation(text))
        return ::testing::AssertionFailure() << "does not parse:\n" << text;
    if (parsed != decoded)
        return ::testing::AssertionFailure() << text << "\nparses as\n" << parsed.asValueNotation();
    if (per(parsed) != image)
        return ::testing::AssertionFailure() << "encodes to " << per(parsed) << " not " << image;
    return ::testing::AssertionSuccess();
}

std::vector<char> berOf(ASN1::AbstractData const& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    std::vector<char> out;
    EXPECT_TRUE(ASN1::encode(value, &env, std::back_inserter(out))) << value.asValueNotation();
    return out;
}

bool berDecode(std::vector<char> const& octets, ASN1::AbstractData& value)
{
    std::unique_ptr<char[]> copy(new char[octets.size() + 1]);
    std::copy(octets.begin(), octets.end(), copy.get());
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    return ASN1::decode(copy.get(), copy.get() + octets.size(), &env, value, true);
}

// Whether openssl, an independent reader, takes the octets for DER/BER.
bool opensslParses(std::vector<char> const& octets)
{
    // A name of its own: test runs of other build trees share the directory,
    // and those in a pid namespace of their own have the same process ids.
    std::string path = ::testing::TempDir() + "ber_message.XXXXXX.der";
    int const fd = ::mkstemps(&path[0], 4);
    if (fd < 0)
        return false;
    ::close(fd);
    {
        std::ofstream f(path, std::ios::binary);
        f.write(octets.data(), static_cast<std::streamsize>(octets.size()));
    }
    std::string const cmd = "openssl asn1parse -inform DER -in '" + path + "' >/dev/null 2>&1";
    int const rc = std::system(cmd.c_str());
    std::remove(path.c_str());
    return rc == 0;
}

// BER encode, decode back equal, openssl reads it, no strict prefix decodes.
template <class T>
::testing::AssertionResult berRoundTrip(T const& value)
{
    std::vector<char> const octets = berOf(value);
    T back;
    if (!berDecode(octets, back))
        return ::testing::AssertionFailure() << "no BER decode of " << hex(octets);
    if (back != value)
        return ::testing::AssertionFailure() << "decodes to " << back.asValueNotation();
    if (!opensslParses(octets))
        return ::testing::AssertionFailure() << "openssl refuses " << hex(octets);
    for (std::size_t n = 0; n < octets.size(); ++n) {
        T partial;
        if (berDecode(std::vector<char>(octets.begin(), octets.begin() + n), partial))
            return ::testing::AssertionFailure() << "a prefix of " << n << " decodes";
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(MessageNotation, EveryMessagePrintsAndParsesBack)
{
    for (LGCP::Message const& m : lgcpMessages())
        EXPECT_TRUE(printedAndParsedBack<LGCP::Message>(per(m)));
    for (MON::Message const& m : mon_samples::oneMessageOfEachKind())
        EXPECT_TRUE(printedAndParsedBack<MON::Message>(per(m)));
    for (char const* image : lgcpImages)
        EXPECT_TRUE(printedAndParsedBack<LGCP::Message>(image));
    for (char const* image : monImages)
        EXPECT_TRUE(printedAndParsedBack<MON::Message>(image));
}

TEST(MessageNotation, ItemNamesBeforeCommaAndBrace)
{
    LGCP::ClockCfg clock;
    clock.set_clkSel0(LGCP::ClkSel0::internal);
    std::string const text = clock.asValueNotation();
    ASSERT_NE(std::string::npos, text.find("clkSel0 internal,")) << text;
    LGCP::ClockCfg back;
    ASSERT_TRUE(back.setFromValueNotation(text));
    EXPECT_EQ(clock, back);
}

TEST(MessageBer, EveryMessageRoundTripsAndOpensslReadsIt)
{
    for (LGCP::Message const& m : lgcpMessages())
        EXPECT_TRUE(berRoundTrip(m)) << m.asValueNotation();
    for (MON::Message const& m : mon_samples::oneMessageOfEachKind())
        EXPECT_TRUE(berRoundTrip(m)) << m.asValueNotation();
}

TEST(MessageBer, PingImage)
{
    EXPECT_EQ("30 0C 80 01 01 81 01 05 A2 04 A0 02 8C 00", hex(berOf(ping(1, 5))));
}

TEST(MessageValidity, TracedPaths)
{
    LGCP::Message m = ping(1, 5);
    std::ostringstream os;
    EXPECT_TRUE(ASN1::trace_invalid(os, "msg", m));
    EXPECT_EQ("", os.str());
    m.set_slot(2000u);
    EXPECT_FALSE(ASN1::trace_invalid(os, "msg", m));
    EXPECT_EQ("msg.slot The INTEGER value 2000 is greater than upper bound 1023\n", os.str());
    LGCP::Message none;
    EXPECT_FALSE(none.isValid());
    os.str("");
    ASN1::trace_invalid(os, "msg", none);
    EXPECT_EQ("msg.pdu This CHOICE is not selected\n", os.str());

    // An unconstrained INTEGER counts as starting at 0, so the samples with
    // a negative seed, amplitude, cause or slip count are not valid; the
    // tracer names exactly those.
    int invalid = 0;
    for (LGCP::Message const& sample : lgcpMessages()) {
        std::ostringstream why;
        bool const valid = ASN1::trace_invalid(why, "", sample);
        EXPECT_EQ(sample.isValid(), valid);
        if (!valid) {
            ++invalid;
            EXPECT_NE(std::string::npos, why.str().find("is smaller than lower bound 0")) << why.str();
        }
    }
    EXPECT_EQ(4, invalid);
}
