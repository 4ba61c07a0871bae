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
    IniFile::Section& s = file_["s"];
    s.CheckEmpty();
    return **s.begin();
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
  EXPECT_EQ(log_.str(), "");
  EXPECT_EQ(host, "127.0.0.1:1161");
  EXPECT_EQ(name, "zarngw.tvr");
  EXPECT_EQ(kind, ZarnTvr);
  EXPECT_TRUE(flag);
  EXPECT_TRUE(flag_given);
  // An absent optional key leaves its variable; its flag reads false.
  EXPECT_TRUE(absent);
  EXPECT_FALSE(absent_given);
  // The reader added the absent key to the block as an empty key.
  std::ostringstream dump;
  file_.Dump(dump);
  EXPECT_NE(dump.str().find("mName=\"absent\"\nmSubKeyCount=0\n"), std::string::npos);
}

TEST_F(IniReader, BooleanWordsAreExact) {
  bool v = false;
  IniFile::Private::TKeyValue<bool> kv(&v, "k", nullptr);
  EXPECT_TRUE(kv.parse("enable"));
  EXPECT_TRUE(v);
  EXPECT_TRUE(kv.parse("disabled"));
  EXPECT_FALSE(v);
  v = true;
  for (const char* bad : {"Yes", "on", "off", ""}) {
    EXPECT_FALSE(kv.parse(bad)) << bad;
    EXPECT_FALSE(kv.parsed);
    EXPECT_TRUE(v);  // unchanged
  }
}

TEST_F(IniReader, EnumerationFallsBackToWholeNumbers) {
  AgentKind v = NoKind;
  IniFile::Private::TKeyValue<AgentKind> kv(&v, "name", agentKinds);
  EXPECT_TRUE(kv.parse("dovr"));
  EXPECT_EQ(v, Dovr);
  EXPECT_TRUE(kv.parse("0x4"));
  EXPECT_EQ(v, ZarnTvr);
  EXPECT_TRUE(kv.parse("010"));  // octal
  EXPECT_EQ(int(v), 8);
  EXPECT_FALSE(kv.parse("4abc"));
  EXPECT_EQ(int(v), 4);  // the number read from the beginning
  EXPECT_FALSE(kv.parse(""));
  EXPECT_EQ(int(v), 0);
  EXPECT_FALSE(kv.parse("ZARNGW"));  // table rows match exactly
  EXPECT_EQ(int(v), 0);

  IniFile::Private::TKeyValue<AgentKind> no_table(&v, "name", nullptr);
  EXPECT_FALSE(no_table.parse("zarngw"));
  EXPECT_TRUE(no_table.parse("2"));
  EXPECT_EQ(v, Dovr);
}

TEST_F(IniReader, RequiredKeyMessages) {
  std::string a, b;
  bool opt = false;
  IniFile::Reader r("snmpagent: ", log_);
  r.required.add(&a, "host");
  r.required.add(&b, "name");
  r.optional.add(&opt, "o");

  // Missing: the block's header line.
  EXPECT_FALSE(r(block("\n\n[s]\nhost=h\no=yes\n")));
  EXPECT_EQ(log_.str(), "snmpagent: required key \"name\" not present, line 3\n");
  EXPECT_EQ(a, "h");     // the earlier required key is set
  EXPECT_FALSE(opt);     // optional keys are not looked at after a fault
  log_.str("");

  // Twice.
  EXPECT_FALSE(r(block("[s]\nhost=h\nname=x\n\nname=y\n")));
  EXPECT_EQ(log_.str(),
            "snmpagent: required key \"name\" is duplicated!\n"
            "snmpagent:  first occurence at 3 line.\n"
            "snmpagent:  second occurence at 5 line.\n");
  log_.str("");

  // Three times, on lines 3, 5 and 9.
  EXPECT_FALSE(r(block("[s]\nhost=h\nname=1\n\nname=2\n\n\n\nname=3\n")));
  EXPECT_EQ(log_.str(), "snmpagent: required key \"name\" specified more than once: 3 5 9 lines\n");
  log_.str("");

  // Invalid value.
  bool must = false;
  IniFile::Reader rb("traces: ", log_);
  rb.required.add(&must, "b");
  EXPECT_FALSE(rb(block("[s]\n\nb = Yes\n")));
  EXPECT_EQ(log_.str(), "traces: required key \"b\" has invalid value=\"Yes\", line 3\n");
}

TEST_F(IniReader, OptionalKeyMessagesLeaveTheVariable) {
  bool x = true;
  IniFile::Reader r("traces: ", log_);
  bool& given = r.optional.add(&x, "signalling.hdlc");

  EXPECT_TRUE(r(block("[s]\nsignalling.hdlc = on\n")));
  EXPECT_EQ(log_.str(),
            "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be "
            "ignored.\n");
  EXPECT_TRUE(x);
  EXPECT_FALSE(given);
  log_.str("");

  EXPECT_TRUE(r(block("[s]\nsignalling.hdlc=no\nsignalling.hdlc=no\n")));
  EXPECT_EQ(log_.str(),
            "traces: optional key \"signalling.hdlc\" is duplicated!\n"
            "traces:  first occurence at 2 line.\n"
            "traces:  second occurence at 3 line. Both keys will be ignored.\n");
  EXPECT_TRUE(x);
  EXPECT_FALSE(given);
  log_.str("");

  EXPECT_TRUE(r(block("[s]\nsignalling.hdlc=no\nsignalling.hdlc=no\nsignalling.hdlc=no\n")));
  EXPECT_EQ(log_.str(),
            "traces: optional key \"signalling.hdlc\" specified more than once: 2 3 4 lines. All "
            "keys will be ignored.\n");
  EXPECT_TRUE(x);
  log_.str("");

  // A reader applied again reports on the last block only.
  EXPECT_TRUE(r(block("[s]\nsignalling.hdlc=no\n")));
  EXPECT_FALSE(x);
  EXPECT_TRUE(given);
  EXPECT_TRUE(r(block("[s]\n")));
  EXPECT_FALSE(given);
  EXPECT_EQ(log_.str(), "");
}
