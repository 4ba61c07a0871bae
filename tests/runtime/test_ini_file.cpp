#include "runtime/ini_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/paths.h"

namespace {

// "section@line: key=value@line; ..." for every sub-section, in file order.
std::string shape(const IniFile::File& f) {
  std::string out;
  for (IniFile::Section* s : f) {
    for (IniFile::SubSection* ss : *s) {
      out += "[" + s->GetName() + "]@" + std::to_string(ss->GetLineNo()) + ":";
      for (IniFile::Key* k : *ss)
        for (IniFile::SubKey* sk : *k)
          out += " " + k->GetName() + "=" + sk->GetStr() + "@" + std::to_string(sk->GetLineNo());
      out += ";";
    }
  }
  return out;
}

std::string parse(const std::string& text) {
  IniFile::File f;
  std::istringstream in(text);
  in >> f;
  EXPECT_TRUE(f.IsOpen());
  return shape(f);
}

}  // namespace

TEST(IniFile, KeepsEveryOccurrenceInFileOrderWithLines) {
  IniFile::File f;
  std::istringstream in(
      "# server settings\n"      // 1
      "[traces]\n"               // 2
      "signalling.hdlc = yes\n"  // 3
      "\n"                       // 4
      "[snmpagent]\n"            // 5
      "host = 127.0.0.1:161\n"   // 6
      "name = zarngw\n"          // 7
      "name = dovr\n"            // 8
      "[snmpagent]\n"            // 9
      "host=10.0.0.2:161\n");    // 10
  in >> f;

  EXPECT_EQ(f.GetSectionCount(), 2);
  IniFile::Section& agents = f["snmpagent"];
  ASSERT_EQ(agents.GetSubSectionCount(), 2);
  IniFile::SubSection* first = *agents.begin();
  IniFile::SubSection* second = first->next();
  EXPECT_EQ(first->GetLineNo(), 5);
  EXPECT_EQ(second->GetLineNo(), 9);

  // A key repeated in one block is one Key with two SubKeys, first first.
  IniFile::Key& name = (*first)["name"];
  EXPECT_EQ(name.GetCount(), 2);
  EXPECT_EQ(name.GetFirstSubKey()->GetStr(), "zarngw");
  EXPECT_EQ(name.GetFirstSubKey()->GetLineNo(), 7);
  EXPECT_EQ(name.GetLastSubKey()->GetLineNo(), 8);

  // The same key in two blocks is two Keys.
  EXPECT_EQ((*first)["host"].GetCount(), 1);
  EXPECT_EQ((*second)["host"].GetStr(), "10.0.0.2:161");
  EXPECT_EQ((*second)["host"].GetFirstSubKey()->GetLineNo(), 10);

  EXPECT_EQ(shape(f),
            "[traces]@2: signalling.hdlc=yes@3;"
            "[snmpagent]@5: host=127.0.0.1:161@6 name=zarngw@7 name=dovr@8;"
            "[snmpagent]@9: host=10.0.0.2:161@10;");
}

TEST(IniFile, KeyAndValueText) {
  // Inner blanks stay, outer blanks go; "#" is a comment only after a blank.
  EXPECT_EQ(parse("[s]\na b  =  c d  \n"), "[s]@1: a b=c d@2;");
  EXPECT_EQ(parse("[s]\nx=a#b\ny=a #b\n"), "[s]@1: x=a#b@2 y=a@3;");
  EXPECT_EQ(parse("[s]\nx=a=b\n"), "[s]@1: x=a=b@2;");
  // Empty values.
  EXPECT_EQ(parse("[s]\nkey=\nk2 = # note\n"), "[s]@1: key=@2 k2=@3;");
  // A tab is skipped at a line start only.
  EXPECT_EQ(parse("[s]\n\tkey = v\n"), "[s]@1: key=v@2;");
  EXPECT_EQ(parse("[s]\nkey\t= v\n"), "[s]@1: key\t=v@2;");
  // Comment lines and a comment after the header.
  EXPECT_EQ(parse("[s] # the block\n# x=1\n  # y=2\nz=3\n"), "[s]@1: z=3@4;");
}

TEST(IniFile, LastLineWithoutLineFeed) {
  EXPECT_EQ(parse("[s]\na=1\nkey=value"), "[s]@1: a=1@2 key=value@3;");
  EXPECT_EQ(parse("[s]\na=1\nkey="), "[s]@1: a=1@2 key=@3;");
  EXPECT_EQ(parse("[s]\na=1\nkey"), "[s]@1: a=1@2;");
}

TEST(IniFile, HeadersAsWritten) {
  // Blanks inside brackets belong to the name; text after "]" is ignored.
  EXPECT_EQ(parse("[ a b ] trailing\nk=v\n"), "[ a b ]@1: k=v@2;");
  EXPECT_EQ(parse("[a]#c\nk=v\n"), "[a]@1: k=v@2;");
  // Names are case-sensitive.
  EXPECT_EQ(parse("[A]\n[a]\n"), "[A]@1:;[a]@2:;");
  // A line without "=" followed by a header.
  EXPECT_EQ(parse("[s]\nnoequals\n[next]\nk=v\n"), "[s]@1:;[next]@3: k=v@4;");
}

TEST(IniFile, UnterminatedHeaderSkipsKeysUntilNextHeader) {
  EXPECT_EQ(parse("[s]\nk=1\n[abc\nlost=1\n[t]\nkept=1\n"), "[s]@1: k=1@2;[t]@5: kept=1@6;");
  EXPECT_EQ(parse("[a\n"), "");
  // Text before the first header is ignored, but a "[" on it opens one.
  EXPECT_EQ(parse("x=1\nnoise [early]\ny=2\n"), "[early]@2: y=2@3;");
}

TEST(IniFile, CarriageReturnsVanish) {
  EXPECT_EQ(parse("[s]\r\na=1\r\nb=x\ry\r\n"), "[s]@1: a=1@2 b=xy@3;");
  EXPECT_EQ(parse("[s]\na=1\nb=x\ry\n"), "[s]@1: a=1@2 b=xy@3;");
}

TEST(IniFile, EmptyInputAndInputWithoutHeader) {
  EXPECT_EQ(parse(""), "");
  EXPECT_EQ(parse("a=1\nb=2\n"), "");
}

TEST(IniFile, OpenReportsWhetherTheFileOpened) {
  const std::string path = platform::board_path("/usr/local/etc/ini-file-test.conf");
  {
    std::ofstream out(path.c_str());
    out << "[traces]\nsignalling.events=true\n";
  }
  IniFile::File f(path);
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.GetFileName(), path);
  EXPECT_EQ(shape(f), "[traces]@1: signalling.events=true@2;");

  { std::ofstream out(path.c_str(), std::ios::trunc); }
  EXPECT_TRUE(f.Open(path));
  EXPECT_EQ(f.GetSectionCount(), 0);
  std::remove(path.c_str());

  // A missing file leaves an empty tree, whatever was there before.
  ASSERT_TRUE(f.Open(path) == false);
  EXPECT_EQ(f.GetSectionCount(), 0);
  EXPECT_FALSE(f.IsOpen());
}

TEST(IniFile, LookupsNeverFailAndAddEmptyElements) {
  IniFile::File f;
  IniFile::Section& s = f["absent"];
  EXPECT_TRUE(s.begin() == s.end());
  EXPECT_EQ(&f["absent"], &s);  // indexed: the same section again
  EXPECT_EQ(f.GetSectionCount(), 1);

  s.CheckEmpty();
  ASSERT_EQ(s.GetSubSectionCount(), 1);
  IniFile::SubSection* block = *s.begin();
  EXPECT_EQ(block->GetLineNo(), -1);
  s.CheckEmpty();  // only when empty
  EXPECT_EQ(s.GetSubSectionCount(), 1);

  IniFile::Key& k = (*block)["k"];
  EXPECT_EQ(k.GetCount(), 0);
  EXPECT_EQ(k.GetStr(), "");
  EXPECT_EQ(k.GetCount(), 1);
  EXPECT_EQ(k.GetFirstSubKey()->GetLineNo(), -1);
  EXPECT_EQ(k.GetFirstSubKey(), k.GetLastSubKey());

  // Closing a file that never opened still drops what lookups added.
  f.Close();
  EXPECT_EQ(f.GetSectionCount(), 0);
  f["again"];
}

TEST(IniFile, TypedAccess) {
  IniFile::SubKey v("", 1);
  // Exact words only, and "on"/"off" count here (unlike the reader).
  v.GetStr() = "on";
  EXPECT_TRUE(v.GetBool(false));
  v.GetStr() = "off";
  EXPECT_FALSE(v.GetBool(true));
  v.GetStr() = "TRUE";
  EXPECT_FALSE(v.GetBool(false));
  EXPECT_TRUE(v.GetBool(true));

  v.GetStr() = "12ab";
  EXPECT_EQ(v.GetInt(-1), 12);
  v.GetStr() = "0x10";
  EXPECT_EQ(v.GetInt(-1), 0);
  v.GetStr() = "-7";
  EXPECT_EQ(v.GetInt(-1), -7);
  v.GetStr() = "abc";
  EXPECT_EQ(v.GetInt(-1), -1);
  EXPECT_FLOAT_EQ(v.GetFloat(2.5f), 2.5f);
  v.GetStr() = "1.25x";
  EXPECT_FLOAT_EQ(v.GetFloat(0), 1.25f);

  v.SetBool(true);
  EXPECT_EQ(v.GetStr(), "yes");
  v.SetBool(false);
  EXPECT_EQ(v.GetStr(), "no");
  v.SetInt(-42);
  EXPECT_EQ(v.GetStr(), "-42");
  v.SetFloat(1.0f / 3.0f);
  EXPECT_EQ(v.GetStr(), "0.333333");
  v.SetFloat(1234567.0f);
  EXPECT_EQ(v.GetStr(), "1.23457e+06");
}

TEST(IniFile, DumpText) {
  IniFile::File f;
  std::istringstream in("[s]\nk = v\n");
  in >> f;
  std::ostringstream out;
  f.Dump(out);
  EXPECT_EQ(out.str(),
            "dumping IniFile::File\n"
            "mFileName=\"\"\n"
            "\n"
            "mSectionCount=1\n"
            "dumping IniFile::Section\n"
            "mName=\"s\"\n"
            "mSubSectionCount=1\n"
            "dumping IniFile::SubSection\n"
            "mLineNo=\"1\"\n"
            "mKeyCount=1\n"
            "dumping IniFile::Key\n"
            "mName=\"k\"\n"
            "mSubKeyCount=1\n"
            "dumping IniFile::SubKey\n"
            "mValue=\"v\"\n"
            "mLineNo=2\n");
}
