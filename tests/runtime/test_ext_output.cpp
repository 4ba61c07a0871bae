#include "runtime/ext_output.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct Link {
  int number = 7;
  std::ostream& PutHeader(std::ostream& os) const { return os << "LAPD[" << number << "] "; }
  std::ostream& PutShortInfo(std::ostream& os) const { return os << "link " << number; }
  std::ostream& PutAddr(std::ostream& os) const { return os << "10.0.0.1:" << 2000 + number; }
};

// A derived class overriding a virtual header is reached through the base.
struct Base {
  virtual ~Base() = default;
  virtual std::ostream& PutHeader(std::ostream& os) const { return os << "base: "; }
};
struct Derived : Base {
  std::ostream& PutHeader(std::ostream& os) const override { return os << "derived: "; }
};

TEST(ExtOutput, ObjectManipulatorsCallTheObjectsOwnMembersAndQuote) {
  Link link;
  Derived d;
  const Base* b = &d;
  const char* s = "abc";
  std::ostringstream os;
  os << ext::header(&link) << "up|" << ext::shortinfo(&link) << "|" << host(&link) << "|"
     << ext::header(b) << ext::quoted(s) << ext::quoted(42);
  EXPECT_EQ("LAPD[7] up|link 7|10.0.0.1:2007|derived: \"abc\"\"42\"", os.str());
}

TEST(ExtOutput, HexFormsWriteUpperCaseAndRestoreTheStream) {
  const unsigned char bytes[] = {0x00, 0x1F, 0xA0};
  std::ostringstream os;
  os << ext::hex(bytes, bytes + 3) << "|" << ext::hex(bytes, bytes) << "|"
     << ext::hex(reinterpret_cast<const char*>(bytes) + 1, 2) << 255 << "|" << ext::hex(26u, 0u) << " "
     << ext::hex(26u, 4u) << " " << ext::hex(0xDEADBEEFu, 0u) << " " << 255;
  os.width(4);
  os << 7;
  EXPECT_EQ("00 1F A0 ||1F A0 255|0x1A 0x001A 0xDEADBEEF 255   7", os.str());
  EXPECT_EQ(' ', os.fill());
}

}  // namespace
