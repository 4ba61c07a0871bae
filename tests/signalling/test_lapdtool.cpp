// lapdtool as a program: the trace decoder on the command line, and the
// pair run whose capture tshark must read field for field.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
  int status;
  std::string out;
};

ToolRun run(const std::string& args) {
  std::string cmd = std::string(GW_LAPDTOOL) + " " + args + " 2>/dev/null";
  ToolRun r{-1, ""};
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(LapdTool, DecodePrintsTheTraceTextOnly) {
  ToolRun a = run("decode --network \"02 FF 03 08 01 05 05\"");
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.out, " 02 FF 03 08 01 05 05\nframe network->user broadcast\ncallref 5 caller size 4 message type SETUP\n");
  ToolRun b = run("decode 0081 0105");
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(b.out, " 00 81 01 05\nframe user->network SFrame tei = 64 (01 05 )\n");
  ToolRun c = run("decode 0001");  // too short for any text
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out, "");
  EXPECT_EQ(run("decode 0G").status, 2);
  EXPECT_EQ(run("decode 012").status, 2);
  EXPECT_EQ(run("decode").status, 2);
  EXPECT_EQ(run("pair --messages x").status, 2);
}

struct Captured {
  bool from_network;
  std::vector<unsigned char> frame;
};

// Reads the capture back, checking the file and record headers on the way.
std::vector<Captured> read_pcap(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto be32 = [&](std::size_t at) {
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) | (std::uint32_t(b[at + 2]) << 8) | b[at + 3];
  };
  std::vector<Captured> v;
  EXPECT_GE(b.size(), 24u);
  if (b.size() < 24) return v;
  EXPECT_EQ(be32(0), 0xA1B2C3D4u);
  EXPECT_EQ(be32(20), 177u);
  std::size_t at = 24;
  while (at + 16 <= b.size()) {
    std::uint32_t len = be32(at + 8);
    EXPECT_EQ(len, be32(at + 12));
    at += 16;
    if (len < 16 || at + len > b.size()) {
      ADD_FAILURE() << "truncated record";
      break;
    }
    const std::vector<unsigned char> head(b.begin() + long(at), b.begin() + long(at) + 16);
    EXPECT_TRUE(head[0] == 0 && (head[1] == 0 || head[1] == 4));
    EXPECT_EQ(std::vector<unsigned char>(head.begin() + 2, head.end()),
              std::vector<unsigned char>({0x20, 0xFD, 0x00, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x30}));
    v.push_back(Captured{head[1] == 4, std::vector<unsigned char>(b.begin() + long(at) + 16, b.begin() + long(at) + len)});
    at += len;
  }
  EXPECT_EQ(at, b.size());
  return v;
}

// The fields tshark should show for a frame, in its own spelling.
std::string expected_fields(const Captured& c) {
  const std::vector<unsigned char>& f = c.frame;
  int sapi = f[0] >> 2, cr = (f[0] >> 1) & 1, tei = f[1] >> 1;
  bool command = c.from_network ? cr == 1 : cr == 0;
  std::string ns, nr;
  int pf;
  if ((f[2] & 1) == 0) {
    ns = std::to_string(f[2] >> 1);
    nr = std::to_string(f[3] >> 1);
    pf = f[3] & 1;
  } else if ((f[2] & 3) == 1) {
    nr = std::to_string(f[3] >> 1);
    pf = f[3] & 1;
  } else {
    pf = (f[2] >> 4) & 1;
  }
  std::ostringstream s;
  s << (c.from_network ? 1 : 0) << ',' << sapi << ',' << tei << ',' << cr << ',' << ns << ',' << nr << ','
    << (command && pf ? "1" : "") << ',' << (!command && pf ? "1" : "");
  return s.str();
}

// tshark reads every frame of the capture with the fields it holds.
void check_with_tshark(const char* path, const std::vector<Captured>& frames) {
  if (std::system("command -v tshark >/dev/null 2>&1") != 0) {
    std::printf("tshark is not installed: capture not checked\n");
    return;
  }
  std::string cmd = std::string("tshark -n -r ") + path +
                    " -T fields -E separator=, -e lapd.direction -e lapd.sapi -e lapd.tei -e lapd.cr"
                    " -e lapd.control.n_s -e lapd.control.n_r -e lapd.control.p -e lapd.control.f 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::vector<std::string> lines;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) {
    std::string l(buf);
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    lines.push_back(l);
  }
  ::pclose(p);
  ASSERT_EQ(lines.size(), frames.size());
  int mismatches = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    std::string want = expected_fields(frames[i]);
    std::string got = lines[i];
    // False booleans are printed as "0" by some versions, as nothing by others.
    std::vector<std::string> fields;
    std::stringstream split(got);
    for (std::string f; std::getline(split, f, ',');) fields.push_back(f);
    while (fields.size() < 8) fields.push_back("");
    for (int k : {6, 7})
      if (fields[k] == "0" || fields[k] == "False") fields[k] = "";
    if (fields[6] == "True") fields[6] = "1";
    if (fields[7] == "True") fields[7] = "1";
    got.clear();
    for (std::size_t k = 0; k < fields.size(); ++k) got += (k ? "," : "") + fields[k];
    if (got != want && ++mismatches <= 5) ADD_FAILURE() << "frame " << i + 1 << ": tshark " << lines[i] << ", want " << want;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(LapdTool, PairOverALossyLineAndItsCapture) {
  char path[] = "/tmp/lapdtool-XXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ToolRun r = run(std::string("pair --pcap ") + path);  // defaults: 1000 messages, every 7th frame lost
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("user received 1000, network received 1000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pair: ok"), std::string::npos) << r.out;

  std::vector<Captured> frames = read_pcap(path);
  ASSERT_GT(frames.size(), 2000u);
  EXPECT_EQ(frames.front().frame, std::vector<unsigned char>({0x00, 0x01, 0x7F}));  // SABME from the user

  check_with_tshark(path, frames);
  ::unlink(path);
}

TEST(LapdTool, BusOfThreeTerminals) {
  char path[] = "/tmp/lapdtool-XXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ToolRun r = run(std::string("bus --pcap ") + path);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("bus: ok"), std::string::npos) << r.out;
  std::vector<Captured> frames = read_pcap(path);
  ASSERT_GT(frames.size(), 100u);
  // The first frames are the three identity requests, from the terminals.
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(frames[i].from_network);
    ASSERT_EQ(frames[i].frame.size(), 8u);
    EXPECT_EQ(frames[i].frame[6], 0x01);
  }
  check_with_tshark(path, frames);
  ::unlink(path);
}

TEST(LapdTool, PairOtherLossPatterns) {
  for (const char* args : {"pair --messages 300 --drop 5", "pair --messages 300 --drop 11 --capacity 16",
                           "pair --messages 200 --drop 0 --latency 0"}) {
    ToolRun r = run(args);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.out;
  }
}

}  // namespace
