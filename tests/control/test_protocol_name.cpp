#include "control/protocol.h"

#include <gtest/gtest.h>

namespace {

TEST(ProtocolName, NullAndTextNamesCompareOnlyWithTheirOwnKind) {
  Protocol_name_null n1, n2;
  Protocol_name_str tpkt("TPKT"), tpkt2("TPKT"), lapd("LAPD"), from_null(nullptr), no_name("(no name)");
  EXPECT_TRUE(n1.compare(n2));
  EXPECT_FALSE(n1.compare(no_name));
  EXPECT_FALSE(no_name.compare(n1));
  EXPECT_TRUE(tpkt.compare(tpkt2));
  EXPECT_FALSE(tpkt.compare(lapd));
  EXPECT_STREQ(from_null.name(), "(no name)");
  EXPECT_EQ(from_null.kind(), 1);
  EXPECT_FALSE(from_null.compare(n1));
  EXPECT_TRUE(from_null.compare(no_name));
}

}  // namespace
