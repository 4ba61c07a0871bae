// Black-box: the running server with its resources used to the full at
// once. Slots that keep what the controller sends until their line can take
// it each hold up to 120 (package slots), 128 (LAPD links) or 200 (SS7
// links) packet buffers; many of them together must not take the buffers
// the control link itself needs. One server serves every case (it sleeps a
// second whenever its controller leaves). Real time, every wait bounded.
#include "tests/support/lgcp_text.h"
#include "tests/support/per_image.h"
#include "tests/support/server_process.h"
#include "tests/support/shared_server.h"

#include "schema/lgcp/LGCP.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;

class Capacity : public SharedServerTest<Capacity> {
 protected:
  static int seq() {
    static int s = 0;
    return ++s % 30000;
  }
};

std::string hdlc_create(int seq, int slot) {
  return command_image(seq, slot, [](LGCP::Command& c) {
    LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
    h.set_trunk(1);
    h.set_log(0);
    h.set_address(3);
  });
}

std::string packages(int seq, int slot, int count) {
  return command_image(seq, slot, [&](LGCP::Command& c) {
    auto& list = c.select_ioctl().select_hdlcPackages();
    for (int i = 0; i < count; ++i) {
      LGCP::HdlcPackage p;
      p.set_body(bytes("01 02 03"));
      list.push_back(p);
    }
  });
}

std::string isdn_create(int seq, int slot, bool pstn) {
  return create_image(seq, slot, [&](LGCP::CreateParams& p) {
    fill_isdn(pstn ? p.select_pstn().select_isdn() : p.select_isdn(), false, false);
  });
}

// Slots whose lines are not up yet keep what the controller sends them, one
// packet buffer per frame: a package slot 120 frames, a LAPD link 128
// messages. Sixteen of a kind filled so must leave the controller heard: the
// last commands are answered, a ping too, and every slot can be destroyed.
TEST_F(Capacity, FullSlotQueuesLeaveTheControlLinkItsBuffers) {
  struct Kind {
    const char* name;
    std::function<std::string(int, int)> create;
    int commands;  // per slot
    std::function<std::string(int, int)> fill;
    const char* answer;
  };
  const std::vector<Kind> kinds = {
      {"package slot", hdlc_create, 1, [](int q, int s) { return packages(q, s, 120); }, "error unsupported"},
      {"ISDN link", [](int q, int s) { return isdn_create(q, s, false); }, 129,
       [](int q, int s) { return user_data_image(q, s, std::string("\x08\x01\x01\x05", 4)); }, "success"},
      {"PSTN ISDN link", [](int q, int s) { return isdn_create(q, s, true); }, 129,
       [](int q, int s) { return user_data_image(q, s, std::string("\x08\x01\x01\x05", 4)); }, "success"},
  };
  const int slots = 16;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    for (int s = 0; s < slots; ++s) {
      const int q = seq();
      ASSERT_EQ(answer(k.create(q, 100 + s)), "seq " + std::to_string(q) + " slot " + std::to_string(100 + s) + " success");
    }
    for (int s = 0; s < slots; ++s) {
      // One burst per slot; its last command's answer is awaited.
      Strings burst;
      for (int i = 0; i + 1 < k.commands; ++i) burst.push_back(k.fill(seq(), 100 + s));
      srv().ctl.send_all(burst);
      const int q = seq();
      EXPECT_EQ(answer(k.fill(q, 100 + s), 3000),
                "seq " + std::to_string(q) + " slot " + std::to_string(100 + s) + " " + k.answer)
          << "slot " << s;
    }
    const int p = seq();
    EXPECT_EQ(answer(null_command_image(p, -1, "ping"), 3000), "seq " + std::to_string(p) + " success");
    for (int s = 0; s < slots; ++s) {
      const int q = seq();
      EXPECT_EQ(answer(null_command_image(q, 100 + s, "destroy"), 3000),
                "seq " + std::to_string(q) + " slot " + std::to_string(100 + s) + " success");
    }
  }
}

}  // namespace
