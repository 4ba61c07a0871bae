#pragma once
// What the black-box suites of the signalling slots share: one running
// server for every case of a suite (it sleeps a second whenever its
// controller leaves), the controller's frames read as short text until an
// awaited one, and the simulator's answers split into lines.
#include "tests/support/lgcp_text.h"
#include "tests/support/per_image.h"
#include "tests/support/server_process.h"

#include "schema/lgcp/LGCP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace sigtest {

// The octets of hex text, as user data.
inline std::string data(const std::string& hex_octets) {
  std::vector<char> b = testsupport::bytes(hex_octets);
  return std::string(b.begin(), b.end());
}

// A received frame as short text: a slot's userData with its octets in hex,
// a slot's ioctl answer as `ioctl` tells it (after the "slot N " head), the
// rest as the support tells.
inline std::string tell_frame(
    const std::string& frame,
    const std::function<std::string(const std::string& head, const LGCP::IoctlResponse&)>& ioctl) {
  LGCP::Message m;
  if (!testsupport::decode(frame, m)) return "undecodable " + frame;
  const LGCP::PDU& pdu = m.get_pdu();
  if (!pdu.signal_isSelected() || !m.slot_isPresent()) return testsupport::describe(frame);
  const std::string slot = "slot " + std::to_string(m.get_slot().getValue()) + " ";
  const LGCP::Signal& sig = pdu.get_signal();
  if (sig.userData_isSelected()) {
    const std::vector<char>& d = sig.get_userData();
    return slot + "userData " + testsupport::hex_word(d.data(), d.size());
  }
  if (!sig.ioctl_isSelected()) return testsupport::describe(frame);
  return ioctl(slot, sig.get_ioctl());
}

// Tell: how the suite writes a received frame as text.
template <std::string (*Tell)(const std::string&)>
class SlotsServerSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { srv = new testsupport::RunningServer; }
  static void TearDownTestSuite() {
    delete srv;
    srv = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(srv->ready()) << srv->log();
    seen.clear();
  }

  // Frames (told) until one equals `wanted`; all of them are kept in `seen`.
  static std::vector<std::string> until(const std::string& wanted) {
    std::vector<std::string> got;
    for (;;) {
      std::string f = srv->ctl.next(testsupport::patience_ms);
      if (f.empty()) {
        ADD_FAILURE() << "no \"" << wanted << "\"; came:\n" << join(got) << srv->log();
        return got;
      }
      got.push_back(Tell(f));
      seen.push_back(got.back());
      if (got.back() == wanted) return got;
    }
  }
  // Sends a command; the frames up to its answer.
  static std::vector<std::string> exchange(const std::string& image, const std::string& answer) {
    srv->ctl.send(image);
    return until(answer);
  }
  static std::string join(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& l : v) s += "  " + l + "\n";
    return s;
  }
  // The next `n` frames (told), those `skip` names left out; fewer when the
  // server falls silent.
  static std::vector<std::string> next_told(std::size_t n, bool (*skip)(const std::string&) = nullptr) {
    std::vector<std::string> out;
    while (out.size() < n) {
      const std::string f = srv->ctl.next(testsupport::patience_ms);
      if (f.empty()) break;
      std::string t = Tell(f);
      if (!skip || !skip(t)) out.push_back(std::move(t));
    }
    return out;
  }
  static std::string ask(const std::string& line) { return srv->sim.ask(line); }
  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) out.push_back(l);
    return out;
  }

  // The frames on a channel (`read` is the simulator's read request) once
  // `want` of them came, or 2 s passed. After a step that waits for a link's
  // timer: the link armed it when its loop got to the step before, so a
  // loaded machine fires it late, never early.
  static std::vector<std::string> frames_written(const std::string& read, std::size_t want) {
    std::vector<std::string> got = lines(ask(read));
    for (const std::int64_t until = testsupport::real_ms() + 2000; got.size() < want && testsupport::real_ms() < until;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      for (std::string& l : lines(ask(read))) got.push_back(std::move(l));
    }
    return got;
  }

  static inline testsupport::RunningServer* srv = nullptr;
  static inline std::vector<std::string> seen;
};

}  // namespace sigtest
