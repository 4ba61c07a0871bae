#include "runtime/ini_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "runtime/ini_file.h"

namespace {

// A stand-in for the agent kinds that the monitoring service reads.
enum AgentKind : int { NoKind = 0, Zarn = 1, Dovr = 2, ZarnTvr = 4 };
const IniFile::Symbol<AgentKind> agentKinds[] = {
    {"zarngw", Zarn}, {"zarngw.tvr", ZarnTvr}, {"dovr", Dovr}, {nullptr, NoKind}};

class IniReader : public ::testing::Test {
 protected:
  // Parses the text and returns the first block of section "s".
  IniFile::SubSection& block(const std::string& text) {
    std::istringstream in(text);
    in >> file_;
    return **file_["s"].begin();
  }
  // The messages written since the last call.
  std::string messages() {
    const std::string s = log_.str();
    log_.str("");
    return s;
  }

  IniFile::File file_;
  std::ostringstream log_;
};

}  // namespace

TEST_F(IniReader, BindsRequiredAndOptionalKeys) {
  IniFile::Reader r("snmpagent: ", log_);
  std::string host, name;
  AgentKind kind = NoKind;
  bool flag = false, absent = true;
  r.required.add(&host, "host");
  r.required.add(&name, "name");
  r.required.add(&kind, "name", agentKinds);
  bool& flag_given = r.optional.add(&flag, "flag");
  bool& absent_given = r.optional.add(&absent, "absent");

  EXPECT_TRUE(r(block("[s]\nhost = 127.0.0.1:1161\nname = zarngw.tvr\nflag = enable\n")));
  EXPECT_EQ(messages(), "");
  EXPECT_EQ(host, "127.0.0.1:1161");
  EXPECT_EQ(name, "zarngw.tvr");
  EXPECT_EQ(kind, ZarnTvr);
  EXPECT_TRUE(flag && flag_given);
  // An absent optional key leaves its variable; its flag reads false.
  EXPECT_TRUE(absent);
  EXPECT_FALSE(absent_given);
  // The reader added the absent key to the block as an empty key.
  std::ostringstream dump;
  file_.Dump(dump);
  EXPECT_NE(dump.str().find("mName=\"absent\"\nmSubKeyCount=0\n"), std::string::npos);

  // Applied again, the flags tell about the last block only.
  EXPECT_TRUE(r(block("[s]\nhost=h\nname=2\n")));
  EXPECT_FALSE(flag_given);
  EXPECT_EQ(kind, Dovr);
}

TEST_F(IniReader, Conversions) {
  bool b = true;
  AgentKind e = NoKind;
  IniFile::Private::TKeyValue<bool> as_bool(&b, "b", nullptr);
  IniFile::Private::TKeyValue<AgentKind> as_enum(&e, "e", agentKinds);
  IniFile::Private::TKeyValue<AgentKind> no_table(&e, "e", nullptr);
  // Booleans: exact words; a bad one leaves the variable.
  EXPECT_TRUE(as_bool.parse("disabled") && !b);
  EXPECT_TRUE(as_bool.parse("enable") && b);
  for (const char* bad : {"Yes", "on", "off", ""}) {
    EXPECT_FALSE(as_bool.parse(bad)) << bad;
    EXPECT_FALSE(as_bool.parsed);
    EXPECT_TRUE(b) << bad;
  }
  // Enumerations: the table first, then a whole number in any base; a bad
  // text leaves what was read from its beginning.
  const struct {
    IniFile::Private::KeyValue& kv;
    const char* text;
    bool valid;
    int value;
  } cases[] = {{as_enum, "dovr", true, Dovr},   {as_enum, "0x4", true, 4},
               {as_enum, "010", true, 8},       {as_enum, "4abc", false, 4},
               {as_enum, "", false, 0},         {as_enum, "ZARNGW", false, 0},
               {no_table, "zarngw", false, 0},  {no_table, "2", true, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.kv.parse(c.text), c.valid) << c.text;
    EXPECT_EQ(int(e), c.value) << c.text;
  }
}

TEST_F(IniReader, RequiredKeyFaultsEndTheBlock) {
  std::string a, b;
  bool opt = false;
  IniFile::Reader r("snmpagent: ", log_);
  r.required.add(&a, "host");
  r.required.add(&b, "name");
  r.optional.add(&opt, "o");

  // Missing: the line of the block's header.
  EXPECT_FALSE(r(block("\n\n[s]\nhost=h\no=yes\n")));
  EXPECT_EQ(messages(), "snmpagent: required key \"name\" not present, line 3\n");
  EXPECT_EQ(a, "h");  // the earlier required key is set
  EXPECT_FALSE(opt);  // optional keys are not looked at after a fault

  EXPECT_FALSE(r(block("[s]\nhost=h\nname=x\n\nname=y\n")));
  EXPECT_EQ(messages(),
            "snmpagent: required key \"name\" is duplicated!\n"
            "snmpagent:  first occurence at 3 line.\n"
            "snmpagent:  second occurence at 5 line.\n");

  EXPECT_FALSE(r(block("[s]\nhost=h\nname=1\n\nname=2\n\n\n\nname=3\n")));
  EXPECT_EQ(messages(), "snmpagent: required key \"name\" specified more than once: 3 5 9 lines\n");

  bool must = false;
  IniFile::Reader rb("traces: ", log_);
  rb.required.add(&must, "b");
  EXPECT_FALSE(rb(block("[s]\n\nb = Yes\n")));
  EXPECT_EQ(messages(), "traces: required key \"b\" has invalid value=\"Yes\", line 3\n");
}

TEST_F(IniReader, OptionalKeyFaultsLeaveTheVariable) {
  bool x = true;
  IniFile::Reader r("traces: ", log_);
  bool& given = r.optional.add(&x, "signalling.hdlc");
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[s]\nsignalling.hdlc = on\n",
       "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be "
       "ignored.\n"},
      {"[s]\nsignalling.hdlc=no\nsignalling.hdlc=no\n",
       "traces: optional key \"signalling.hdlc\" is duplicated!\n"
       "traces:  first occurence at 2 line.\n"
       "traces:  second occurence at 3 line. Both keys will be ignored.\n"},
      {"[s]\nsignalling.hdlc=no\nsignalling.hdlc=no\nsignalling.hdlc=no\n",
       "traces: optional key \"signalling.hdlc\" specified more than once: 2 3 4 lines. All "
       "keys will be ignored.\n"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(r(block(c.text)));
    EXPECT_EQ(messages(), c.message);
    EXPECT_TRUE(x);
    EXPECT_FALSE(given);
  }
}
