#include "runtime/ini_file.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/paths.h"

namespace {

// "[section]@line: key=value@line ...;" for every block, in file order.
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

void parse(IniFile::File& f, const std::string& text) {
  std::istringstream in(text);
  in >> f;
}

}  // namespace

TEST(IniFile, KeepsEveryOccurrenceInFileOrderWithLines) {
  IniFile::File f;
  parse(f,
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
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(shape(f),
            "[traces]@2: signalling.hdlc=yes@3;"
            "[snmpagent]@5: host=127.0.0.1:161@6 name=zarngw@7 name=dovr@8;"
            "[snmpagent]@9: host=10.0.0.2:161@10;");
  // Two headers make one Section; a key repeated in a block is one Key.
  EXPECT_EQ(f.GetSectionCount(), 2);
  IniFile::SubSection& first = **f["snmpagent"].begin();
  EXPECT_EQ(first["name"].GetCount(), 2);
  EXPECT_EQ(first["name"].GetLastSubKey()->GetStr(), "dovr");
}

TEST(IniFile, ParsesEachLineByTheTable) {
  const struct {
    const char* text;
    const char* shape;
  } cases[] = {
      // Inner blanks stay, outer blanks go; "#" is a comment only after a blank.
      {"[s]\na b  =  c d  \n", "[s]@1: a b=c d@2;"},
      {"[s]\nx=a#b\ny=a #b\nz=a=b\n", "[s]@1: x=a#b@2 y=a@3 z=a=b@4;"},
      {"[s]\nkey=\nk2 = # note\n", "[s]@1: key=@2 k2=@3;"},
      // A tab is skipped at a line start only.
      {"[s]\n\tkey = v\nkey2\t= v\n", "[s]@1: key=v@2 key2\t=v@3;"},
      {"[s] # the block\n# x=1\n  # y=2\nz=3\n", "[s]@1: z=3@4;"},
      // The last line without a line feed: kept with "=", dropped without.
      {"[s]\na=1\nkey=value", "[s]@1: a=1@2 key=value@3;"},
      {"[s]\na=1\nkey=", "[s]@1: a=1@2 key=@3;"},
      {"[s]\na=1\nkey", "[s]@1: a=1@2;"},
      // Headers as written, case-sensitive; text after "]" is ignored.
      {"[ a b ] trailing\nk=v\n", "[ a b ]@1: k=v@2;"},
      {"[a]#c\n[A]\n", "[a]@1:;[A]@2:;"},
      {"[s]\nnoequals\n[next]\nk=v\n", "[s]@1:;[next]@3: k=v@4;"},
      // An unterminated header skips the keys up to the next header.
      {"[s]\nk=1\n[abc\nlost=1\n[t]\nkept=1\n", "[s]@1: k=1@2;[t]@5: kept=1@6;"},
      {"[a\n", ""},
      // Text before the first header is ignored, but a "[" on it opens one.
      {"x=1\nnoise [early]\ny=2\n", "[early]@2: y=2@3;"},
      {"", ""},
      // Carriage returns vanish wherever they stand.
      {"[s]\r\na=1\r\nb=x\ry\r\n", "[s]@1: a=1@2 b=xy@3;"},
  };
  for (const auto& c : cases) {
    IniFile::File f;
    parse(f, c.text);
    EXPECT_EQ(shape(f), c.shape) << c.text;
  }
  // The text is read in blocks of 4096 bytes: a value may straddle two,
  // and a last block of one byte still counts.
  IniFile::File f;
  parse(f, "[s]\n#" + std::string(4087, '-') + "\nk=12");
  EXPECT_EQ(shape(f), "[s]@1: k=12@3;");
}

TEST(IniFile, OpenReportsWhetherTheFileOpened) {
  const std::string path = platform::board_path("/usr/local/etc/ini-file-test.conf");
  { std::ofstream(path.c_str()) << "[traces]\nsignalling.events=true\n"; }
  IniFile::File f(path);
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(shape(f), "[traces]@1: signalling.events=true@2;");

  { std::ofstream(path.c_str(), std::ios::trunc); }
  EXPECT_TRUE(f.Open(path));  // an empty file opens
  EXPECT_EQ(f.GetSectionCount(), 0);

  // A file that is there but cannot be opened (no descriptor left; for a
  // user without rights, no permission) is not read as an empty one.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit none = saved;
  none.rlim_cur = 0;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  const bool opened = f.Open(path);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_FALSE(opened);
  EXPECT_FALSE(f.IsOpen());
  std::remove(path.c_str());

  // A missing file leaves an empty tree, whatever was there before.
  EXPECT_FALSE(f.Open(path));
  EXPECT_EQ(f.GetSectionCount(), 0);
  EXPECT_FALSE(f.IsOpen());
}

// What is not a readable regular file is no configuration: an empty tree
// and false, never an exception out of the start-up or a wait for a writer.
TEST(IniFile, OpenReadsOnlyARegularFileToItsEnd) {
  const std::string dir = platform::board_path("/usr/local/etc/ini-file-test.d");
  const std::string fifo = platform::board_path("/usr/local/etc/ini-file-test.fifo");
  const std::string link = platform::board_path("/usr/local/etc/ini-file-test.link");
  const std::string conf = platform::board_path("/usr/local/etc/ini-file-link-test.conf");
  ::rmdir(dir.c_str());
  std::remove(fifo.c_str());
  std::remove(link.c_str());
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  IniFile::File f;
  // "/proc/self/mem" is a regular file whose read fails (nothing is mapped
  // at address 0): opened, but not read to its end.
  for (const std::string& path : {dir, fifo, std::string("/dev/zero"), std::string("/proc/self/mem")}) {
    EXPECT_FALSE(f.Open(path)) << path;
    EXPECT_FALSE(f.IsOpen()) << path;
    EXPECT_EQ(f.GetSectionCount(), 0) << path;
  }
  // A symbolic link to a regular file is that file.
  { std::ofstream(conf.c_str()) << "[traces]\nsignalling.hdlc=yes\n"; }
  ASSERT_EQ(::symlink(conf.c_str(), link.c_str()), 0);
  EXPECT_TRUE(f.Open(link));
  EXPECT_EQ(shape(f), "[traces]@1: signalling.hdlc=yes@2;");
  ::rmdir(dir.c_str());
  std::remove(fifo.c_str());
  std::remove(link.c_str());
  std::remove(conf.c_str());

  // A stream that fails while being read ends the parse with the stream bad.
  struct FailingBuf : std::streambuf {
    int_type underflow() override { throw std::ios_base::failure("read error"); }
  } failing;
  std::istream in(&failing);
  EXPECT_NO_THROW(in >> f);
  EXPECT_TRUE(in.bad());
  EXPECT_EQ(f.GetSectionCount(), 0);
}

TEST(IniFile, LookupsNeverFailAndAddEmptyElements) {
  IniFile::File f;
  IniFile::Section& s = f["absent"];
  EXPECT_TRUE(s.begin() == s.end());
  EXPECT_EQ(&f["absent"], &s);  // indexed: the same section again

  s.CheckEmpty();
  s.CheckEmpty();  // only when empty
  ASSERT_EQ(s.GetSubSectionCount(), 1);
  IniFile::SubSection& block = **s.begin();
  EXPECT_EQ(block.GetLineNo(), -1);

  IniFile::Key& k = block["k"];
  EXPECT_EQ(k.GetCount(), 0);
  EXPECT_EQ(k.GetStr(), "");
  EXPECT_EQ(k.GetCount(), 1);
  EXPECT_EQ(k.GetLastSubKey()->GetLineNo(), -1);

  // Closing a file that never opened still drops what lookups added.
  f.Close();
  EXPECT_EQ(f.GetSectionCount(), 0);
}

TEST(IniFile, TypedAccess) {
  IniFile::SubKey v("", 1);
  // Exact words only; "on" and "off" count here (unlike the reader).
  const struct {
    const char* text;
    int as_bool;  // -1: the default
    int as_int;   // -1: the default
  } cases[] = {{"on", 1, -1}, {"off", 0, -1}, {"TRUE", -1, -1}, {"1", 1, 1},
               {"12ab", -1, 12}, {"0x10", -1, 0}, {"-7", -1, -7},
               // Beyond int: the default, on 32 and 64 bits alike.
               {"2147483647", -1, 2147483647}, {"2147483648", -1, -1}, {"4294967297", -1, -1},
               {"-2147483648", -1, INT_MIN}, {"-2147483649", -1, -1}, {"99999999999999999999", -1, -1}};
  for (const auto& c : cases) {
    v.GetStr() = c.text;
    EXPECT_EQ(v.GetBool(false), c.as_bool == 1) << c.text;
    EXPECT_EQ(v.GetBool(true), c.as_bool != 0) << c.text;
    EXPECT_EQ(v.GetInt(-1), c.as_int) << c.text;
  }
  v.GetStr() = "abc";
  EXPECT_FLOAT_EQ(v.GetFloat(2.5f), 2.5f);
  v.GetStr() = "1.25x";
  EXPECT_FLOAT_EQ(v.GetFloat(0), 1.25f);

  v.SetBool(true);
  EXPECT_EQ(v.GetStr(), "yes");
  v.SetBool(false);
  EXPECT_EQ(v.GetStr(), "no");
  v.SetFloat(1234567.0f);
  EXPECT_EQ(v.GetStr(), "1.23457e+06");
}

TEST(IniFile, DumpText) {
  IniFile::File f;
  parse(f, "[s]\nk = v\n");
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
