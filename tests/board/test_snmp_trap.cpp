// The SNMPv2c trap builder: BER images of each builder, a whole trap byte
// for byte, and traps holding every value kind read back by two independent
// decoders, tshark's snmp dissector and Debian's snmptrapd.
#include "board/snmp/snmp_trap.h"
#include "tests/support/free_port.h"
#include "tests/support/per_image.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hex(const std::uint8_t* from, const std::uint8_t* to) {
  return testsupport::hex(std::vector<char>(from, to));
}

// One builder call on a fresh buffer: its bytes, or "refused".
template <class F>
std::string built(F build, std::uint32_t room = 64) {
  std::uint8_t buf[1024] = {};
  const std::uint32_t before = room;
  std::uint8_t* end = build(buf, &room);
  if (!end) return "refused";
  EXPECT_EQ(before - room, static_cast<std::uint32_t>(end - buf)) << "room counts what was written";
  return hex(buf, end);
}

std::string int_image(std::int32_t v) {
  return built([&](std::uint8_t* p, std::uint32_t* r) { return asn_build_int(p, r, ASN_INTEGER, &v, 4); });
}
std::string uint_image(std::uint8_t tag, std::uint32_t v) {
  return built([&](std::uint8_t* p, std::uint32_t* r) { return asn_build_unsigned_int(p, r, tag, &v, 4); });
}
std::string oid_image(const std::vector<std::uint32_t>& oid) {
  return built([&](std::uint8_t* p, std::uint32_t* r) {
    return asn_build_objid(p, r, ASN_OBJECT_ID, oid.data(), static_cast<std::uint32_t>(oid.size()));
  });
}

TEST(SnmpTrapBuilders, IntegersLengthsAndIdentifiers) {
  EXPECT_EQ(int_image(0), "02 01 00");
  EXPECT_EQ(int_image(127), "02 01 7F");
  EXPECT_EQ(int_image(128), "02 02 00 80");
  EXPECT_EQ(int_image(-1), "02 01 FF");
  EXPECT_EQ(int_image(-129), "02 02 FF 7F");
  EXPECT_EQ(int_image(0x7FFFFFFF), "02 04 7F FF FF FF");
  EXPECT_EQ(int_image(INT32_MIN), "02 04 80 00 00 00");
  EXPECT_EQ(uint_image(ASN_COUNTER, 0x80000000u), "41 05 00 80 00 00 00");
  EXPECT_EQ(uint_image(ASN_GAUGE, 0xFFFFFFFFu), "42 05 00 FF FF FF FF");
  EXPECT_EQ(uint_image(ASN_TIMETICKS, 100), "43 01 64");
  EXPECT_EQ(uint_image(ASN_UINTEGER, 0x8000), "47 03 00 80 00");
  std::int32_t v = 1;
  EXPECT_EQ(built([&](std::uint8_t* p, std::uint32_t* r) { return asn_build_int(p, r, ASN_INTEGER, &v, 2); }),
            "refused");

  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_length(p, r, 127); }), "7F");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_length(p, r, 200); }), "81 C8");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_length(p, r, 300); }), "82 01 2C");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_length(p, r, 300); }, 2), "refused");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_sequence(p, r, 0x30, 5); }),
            "30 82 00 05");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_sequence(p, r, 0x30, 5); }, 3),
            "refused");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_null(p, r, ASN_NULL); }), "05 00");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_string(p, r, ASN_OCTET_STR, nullptr, 2); }),
            "04 02 00 00");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_string(p, r, ASN_OCTET_STR, "ab", 2); }, 3),
            "refused");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_bitstring(p, r, ASN_BIT_STR, "", 0); }),
            "refused");
  EXPECT_EQ(built([](std::uint8_t* p, std::uint32_t* r) { return asn_build_bitstring(p, r, ASN_BIT_STR, nullptr, 1); }),
            "refused");

  EXPECT_EQ(oid_image({1, 3, 6, 1}), "06 03 2B 06 01");
  EXPECT_EQ(oid_image({1, 3, 6, 300}), "06 04 2B 06 82 2C");
  EXPECT_EQ(oid_image({}), "06 01 00");
  EXPECT_EQ(oid_image({2}), "06 01 50");
  EXPECT_EQ(oid_image({2, 100}), "06 02 81 34");
  EXPECT_EQ(oid_image({1, 39}), "06 01 4F");
  // Numbers are 32 bits: the largest takes five groups, even added to 80.
  EXPECT_EQ(oid_image({1, 3, 0xFFFFFFFFu}), "06 06 2B 8F FF FF FF 7F");
  EXPECT_EQ(oid_image({2, 0xFFFFFFFFu}), "06 05 90 80 80 80 4F");
  // Refused: a first number above 2, a second of 40 or more under 0 and 1
  // (it would read back as another identifier), more than 128 numbers.
  EXPECT_EQ(oid_image({3, 1}), "refused");
  EXPECT_EQ(oid_image({0, 40}), "refused");
  EXPECT_EQ(oid_image({1, 41}), "refused");
  std::vector<std::uint32_t> longest(128, 1), too_long(129, 1);
  EXPECT_NE(built([&](std::uint8_t* p, std::uint32_t* r) { return asn_build_objid(p, r, ASN_OBJECT_ID, longest.data(), 128); },
                  1024),
            "refused");
  EXPECT_EQ(oid_image(too_long), "refused");
  // A binding fits to the byte; under the 4 bytes of its header the room
  // left must not wrap into room for everything.
  const std::uint32_t iso[2] = {1, 3};
  const auto binding = [&](std::uint8_t* p, std::uint32_t* r) { return snmp_build_var_op(p, iso, 2, ASN_NULL, 0, nullptr, r); };
  EXPECT_EQ(built(binding, 9), "30 82 00 05 06 01 2B 05 00");
  EXPECT_EQ(built(binding, 8), "refused");
  EXPECT_EQ(built(binding, 3), "refused");

  std::uint32_t oid[3] = {9, 9, 9};
  EXPECT_EQ(parse_oid(oid, 3, "1.3.6.1"), 3);
  EXPECT_EQ(oid[2], 6u);
  EXPECT_EQ(parse_oid(oid, 0, "1.3"), 0);
  EXPECT_EQ(parse_oid(nullptr, 3, "1.3"), 0);
  EXPECT_EQ(parse_oid(oid, 3, nullptr), 0);
  EXPECT_EQ(parse_oid(oid, 3, "4294967295"), 1);
  EXPECT_EQ(oid[0], 4294967295u);
}

const std::vector<std::uint32_t> sys_up_time = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const std::vector<std::uint32_t> trap_oid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};

std::string trap_image(const trap_context& t) { return hex(t.buffer, t.buffer + t.length); }

TEST(SnmpTrap, AWholeTrapByteForByte) {
  trap_context t;
  EXPECT_EQ(snmp_session_seed(&t, 1), 0);
  EXPECT_EQ(trap_init(&t, "public"), 0);
  EXPECT_EQ(t.request_id, 0x1C1ADB);
  ASSERT_EQ(trap_pack_begin(&t), 0);
  EXPECT_EQ(trap_pack_begin(&t), -1) << "a second begin needs a new trap_init";
  std::uint32_t ticks = 100;
  ASSERT_EQ(trap_pack_add(&t, sys_up_time.data(), 9, ASN_TIMETICKS, &ticks, 4), 0);
  ASSERT_EQ(trap_pack_end(&t), 0);
  EXPECT_EQ(t.length, 51u);
  EXPECT_EQ(trap_image(t),
            "30 82 00 2F 02 01 01 04 06 70 75 62 6C 69 63 A7 82 00 20 02 03 1C 1A DB 02 01 00 02 01 00 "
            "30 82 00 11 30 82 00 0D 06 08 2B 06 01 02 01 01 03 00 43 01 64");
  EXPECT_EQ(trap_pack_add(&t, sys_up_time.data(), 9, ASN_TIMETICKS, &ticks, 4), -1) << "finished";
  EXPECT_EQ(trap_pack_end(&t), -1);

  // The next request id follows from this one in unsigned arithmetic, and
  // stays odd and positive whatever the seed.
  for (std::int32_t seed : {0x7FFFFFFF, -1, INT32_MIN, 0}) {
    snmp_session_seed(&t, seed);
    trap_init(&t, nullptr);
    const std::uint32_t expect = ((static_cast<std::uint32_t>(seed) * 850009u + 991873u) & 0x7FFFFFFFu) | 1u;
    EXPECT_EQ(static_cast<std::uint32_t>(t.request_id), expect) << seed;
    EXPECT_STREQ(t.community, "kobalt");
  }
  trap_init(&t, "a-community-name-longer-than-thirty-one");
  EXPECT_EQ(std::string(t.community), std::string("a-community-name-longer-than-thirty-one").substr(0, 31));

  // Right after begin: a valid trap with no variables.
  snmp_session_seed(&t, 1);
  trap_init(&t, "public");
  ASSERT_EQ(trap_pack_begin(&t), 0);
  ASSERT_EQ(trap_pack_end(&t), 0);
  EXPECT_EQ(trap_image(t),
            "30 82 00 1E 02 01 01 04 06 70 75 62 6C 69 63 A7 82 00 0F 02 03 1C 1A DB 02 01 00 02 01 00 30 82 00 00");

  EXPECT_EQ(trap_pack_begin(nullptr), -1);
  EXPECT_EQ(trap_pack_add(nullptr, sys_up_time.data(), 9, ASN_NULL, nullptr, 0), -1);
  EXPECT_EQ(trap_pack_end(nullptr), -1);
  EXPECT_EQ(trap_init(nullptr, "x"), 0);
  EXPECT_EQ(snmp_session_seed(nullptr, 1), 0);
}

TEST(SnmpTrap, AFullBufferRefusesTheVariableAndKeepsTheTrapWhole) {
  trap_context t;
  snmp_session_seed(&t, 5);
  trap_init(&t, "public");
  ASSERT_EQ(trap_pack_add(&t, sys_up_time.data(), 9, ASN_NULL, nullptr, 0), -1) << "before begin";
  ASSERT_EQ(trap_pack_begin(&t), 0);
  const std::string chunk(500, 'x');
  int added = 0;
  while (trap_pack_add(&t, sys_up_time.data(), 9, ASN_OCTET_STR, chunk.data(), 500) == 0) ++added;
  EXPECT_EQ(added, 3);
  std::uint8_t tag_bad = 0x46;
  EXPECT_EQ(trap_pack_add(&t, sys_up_time.data(), 9, tag_bad, chunk.data(), 4), -1);
  std::int32_t v = 7;
  ASSERT_EQ(trap_pack_add(&t, sys_up_time.data(), 9, ASN_INTEGER, &v, 4), 0) << "a small one still fits";
  ASSERT_EQ(trap_pack_end(&t), 0);
  EXPECT_LE(t.length, trap_buffer_size);
  EXPECT_EQ(t.length + t.room, trap_buffer_size);
  // The outer length covers everything after its own header.
  EXPECT_EQ((t.buffer[2] << 8 | t.buffer[3]) + 4u, t.length);
}

// A trap with one variable of every value kind, after the two that every
// SNMPv2 trap starts with.
trap_context every_kind_trap() {
  trap_context t;
  snmp_session_seed(&t, 42);
  trap_init(&t, "public");
  EXPECT_EQ(trap_pack_begin(&t), 0);
  std::uint32_t ticks = 12345;
  const std::vector<std::uint32_t> enterprise = {1, 3, 6, 1, 4, 1, 99999, 0, 1};
  EXPECT_EQ(trap_pack_add(&t, sys_up_time.data(), 9, ASN_TIMETICKS, &ticks, 4), 0);
  EXPECT_EQ(trap_pack_add(&t, trap_oid.data(), 11, ASN_OBJECT_ID, enterprise.data(), 9 * 4), 0);
  auto var = [](std::uint32_t n) { return std::vector<std::uint32_t>{1, 3, 6, 1, 4, 1, 99999, 1, n}; };
  std::int32_t i = -5;
  std::uint32_t big = 0x80000001u, gauge = 7, ui = 300;
  const std::uint8_t ip[4] = {192, 168, 1, 2};
  const char text[] = "hello";
  const std::uint8_t bits[2] = {0x00, 0xA0};
  const std::uint8_t opaque[3] = {0x01, 0x02, 0x03};
  const std::uint8_t nsap[4] = {0x47, 0x00, 0x05, 0x80};
  struct Var {
    std::uint8_t tag;
    const void* value;
    std::uint32_t len;
  } vars[] = {
      {ASN_INTEGER, &i, 4},     {ASN_BIT_STR, bits, 2},    {ASN_OCTET_STR, text, 5}, {ASN_NULL, nullptr, 0},
      {ASN_IPADDRESS, ip, 4},   {ASN_COUNTER, &big, 4},    {ASN_GAUGE, &gauge, 4},   {ASN_TIMETICKS, &ticks, 4},
      {ASN_OPAQUE, opaque, 3},  {ASN_NSAP, nsap, 4},       {ASN_UINTEGER, &ui, 4},
  };
  std::uint32_t n = 1;
  for (const Var& v : vars) {
    const auto oid = var(n++);
    EXPECT_EQ(trap_pack_add(&t, oid.data(), 9, v.tag, v.value, v.len), 0) << int(v.tag);
  }
  EXPECT_EQ(trap_pack_end(&t), 0);
  return t;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

bool have(const char* program) { return run(std::string("command -v ") + program + " 2>/dev/null").size() > 0; }

void put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void put32le(Bytes& b, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

// A capture file (raw IPv4 link type) of the trap in one UDP datagram to
// port 162.
void write_capture(const std::string& path, const trap_context& t) {
  Bytes udp;
  put16(udp, 40000);
  put16(udp, 162);
  put16(udp, 8 + t.length);
  put16(udp, 0);
  udp.insert(udp.end(), t.buffer, t.buffer + t.length);
  Bytes ip = {0x45, 0x00};
  put16(ip, static_cast<unsigned>(20 + udp.size()));
  ip.insert(ip.end(), {0, 1, 0x40, 0, 64, 17, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1});
  std::uint32_t sum = 0;
  for (size_t k = 0; k < 20; k += 2) sum += (ip[k] << 8) | ip[k + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<std::uint8_t>(~sum >> 8);
  ip[11] = static_cast<std::uint8_t>(~sum);
  ip.insert(ip.end(), udp.begin(), udp.end());
  Bytes out;
  put32le(out, 0xA1B2C3D4);
  out.insert(out.end(), {2, 0, 4, 0});
  put32le(out, 0);
  put32le(out, 0);
  put32le(out, 65535);
  put32le(out, 101);  // raw IP
  put32le(out, 1);
  put32le(out, 0);
  put32le(out, static_cast<std::uint32_t>(ip.size()));
  put32le(out, static_cast<std::uint32_t>(ip.size()));
  out.insert(out.end(), ip.begin(), ip.end());
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

TEST(SnmpTrapDecoders, TsharkReadsEveryValueKind) {
  if (!have("tshark")) GTEST_SKIP() << "tshark is not installed (tools/setup.sh installs it)";
  const trap_context t = every_kind_trap();
  // A name of its own: test runs of other build trees share the directory,
  // and those in a pid namespace of their own have the same process ids.
  std::string path = ::testing::TempDir() + "snmp_trap_kinds.XXXXXX.pcap";
  const int fd = ::mkstemps(&path[0], 5);
  ASSERT_GE(fd, 0) << path;
  ::close(fd);
  write_capture(path, t);
  const std::string text = run("tshark -r " + path + " -V -o snmp.display_oid:FALSE 2>&1");
  EXPECT_EQ(text.find("Malformed"), std::string::npos) << text;
  EXPECT_NE(text.find("snmpV2-trap"), std::string::npos) << text;
  EXPECT_NE(text.find("request-id: 36692251"), std::string::npos) << text;
  // SNMPv2 has no BIT STRING value: the dissector shows its bytes as such.
  for (const char* kind : {"Value (Integer32): -5", "99999.1.2: 00a0", "Value (OctetString): \"hello\"",
                           "Value (Null)", "Value (IpAddress): 192.168.1.2", "Value (Counter32): 2147483649",
                           "Value (Gauge32): 7", "Value (Timeticks): 12345", "Value (Opaque): 010203",
                           "Value (NSAP): 1191183744", "Value (Unsigned32): 300",
                           "Value (OID): 1.3.6.1.4.1.99999.0.1", "variable-bindings: 13 items"})
    EXPECT_NE(text.find(kind), std::string::npos) << kind << "\n" << text;
  std::remove(path.c_str());
}

TEST(SnmpTrapDecoders, SnmptrapdReadsEveryValueKindOverLoopback) {
  if (!have("snmptrapd")) GTEST_SKIP() << "snmptrapd is not installed (tools/setup.sh installs it)";
  std::string dir = ::testing::TempDir() + "snmptrapd.XXXXXX";
  ASSERT_NE(::mkdtemp(&dir[0]), nullptr) << dir;
  { std::ofstream(dir + "/snmptrapd.conf") << "disableAuthorization yes\n"; }
  const std::uint16_t port = testsupport::free_port();
  const std::string out = dir + "/out.txt";
  const std::string cmd = "SNMP_PERSISTENT_DIR=" + dir + " timeout 10 snmptrapd -f -Lf " + out + " -C -c " + dir +
                          "/snmptrapd.conf -On -M /dev/null -m '' udp:127.0.0.1:" + std::to_string(port) +
                          " >/dev/null 2>&1 & echo $!";
  const std::string pid = run(cmd);
  ASSERT_FALSE(pid.empty());
  const trap_context t = every_kind_trap();
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Sent until the daemon has logged it (it needs a moment to listen).
  std::string text;
  for (int tries = 0; tries < 100 && text.find(".1.11 = ") == std::string::npos; ++tries) {
    ::sendto(s, t.buffer, t.length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::usleep(100000);
    std::ifstream in(out);
    std::stringstream ss;
    ss << in.rdbuf();
    text = ss.str();
  }
  ::close(s);
  std::system(("kill " + pid + " 2>/dev/null").c_str());
  std::system(("rm -rf '" + dir + "'").c_str());
  // The daemon reads the NSAP address but has no way to print one; the
  // binding after it still decodes.
  for (const char* kind : {".1.1 = INTEGER: -5", ".1.2 = BITS: 00 A0", ".1.3 = STRING: \"hello\"", ".1.4 = NULL",
                           ".1.5 = IpAddress: 192.168.1.2", ".1.6 = Counter32: 2147483649", ".1.7 = Gauge32: 7",
                           ".1.8 = Timeticks: (12345)", ".1.9 = OPAQUE: 01 02 03", ".1.10 = ", ".1.11 = 300",
                           "= OID: .1.3.6.1.4.1.99999.0.1"})
    EXPECT_NE(text.find(kind), std::string::npos) << kind << "\n" << text;
}

}  // namespace
