#include "control/protocols_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> trace;

// A layer that records every step under its tag and, like real layers,
// puts its tag on packets going down and takes it off coming up.
class Layer : public Protocol {
 public:
  explicit Layer(std::string tag, bool deferred_activation = false) : tag(tag), deferred(deferred_activation) {}
  ~Layer() override { trace.push_back(tag + " deleted"); }
  void local_prepare_head(Packet& p) override { p.reserve_head(static_cast<std::uint32_t>(tag.size())); }
  void local_activate() override {
    trace.push_back(tag + " start");
    if (!deferred) on_activate();
  }
  void local_deactivate() override {
    trace.push_back(tag + " stop");
    Protocol::local_deactivate();
  }
  int message(Packet& p) override {
    std::memcpy(p.push(static_cast<std::uint32_t>(tag.size())), tag.data(), tag.size());
    return transmit(p);
  }
  int receive(Packet& p) override {
    p.pull(static_cast<std::uint32_t>(tag.size()));
    return on_message(p);
  }
  void on_deactivate(Smart_pointer<Internal_protocol_status> s) override {
    trace.push_back(tag + " down: " + s->message());
    Protocol::on_deactivate(s);
  }
  std::string tag;
  bool deferred;
};

// The outermost stack: what leaves the family at the bottom is written to a
// wire; what leaves the top is a received message.
class Outer : public ProtocolsList {
 public:
  int on_message(Packet& p) override {
    received.assign(reinterpret_cast<const char*>(p.data()), p.length());
    return 1;
  }
  void on_activated(Protocol*) override { trace.push_back("outer: top active"); }
  void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> s) override {
    trace.push_back("outer: down " + s->message());
  }
  void on_status(Smart_pointer<Internal_protocol_status> s) override { trace.push_back("outer: status " + s->message()); }
  std::string received;
};

class Wire : public Layer {
 public:
  Wire() : Layer("W") {}
  int message(Packet& p) override {
    sent.assign(reinterpret_cast<const char*>(p.data()), p.length());
    return 7;
  }
  std::string sent;
};

// Outer = [Wire, F], F = [A (bottom), B (top)].
struct Stacks {
  Outer outer;
  Wire* wire = static_cast<Wire*>(outer.add_protocol_tail(new Wire));
  ProtocolsFamily* f = static_cast<ProtocolsFamily*>(outer.add_protocol_tail(new ProtocolsFamily));
  Layer* a = static_cast<Layer*>(f->add_protocol_tail(new Layer("A")));
  Layer* b = static_cast<Layer*>(f->add_protocol_tail(new Layer("B")));
  Stacks() { trace.clear(); }
};

TEST(ProtocolsList, PacketsCrossEveryLayerOfANestedFamilyBothWays) {
  Stacks s;
  Packet p;
  s.f->prepare_head(p);
  EXPECT_EQ(p._headroom(), 3u);  // room for W below the family, then A and B
  std::memcpy(p.put(3), "msg", 3);
  EXPECT_EQ(s.f->message(p), 7);
  EXPECT_EQ(s.wire->sent, "ABmsg");

  Packet in;
  in.reserve_head(0);
  std::memcpy(in.put(6), "WABmsg", 6);
  EXPECT_EQ(s.outer.bottom()->receive(in), 1);
  EXPECT_EQ(s.outer.received, "msg");
}

TEST(ProtocolsList, ActivationRunsBottomUpAndWaitsForDeferredLayers) {
  Stacks s;
  s.f->activate();
  EXPECT_EQ(trace, (std::vector<std::string>{"W start", "A start", "B start", "outer: top active"}));

  trace.clear();
  s.a->deferred = true;
  s.f->activate();
  EXPECT_EQ(trace, (std::vector<std::string>{"W start", "A start"}));
  s.a->on_activate();
  EXPECT_EQ(trace.back(), "outer: top active");
}

TEST(ProtocolsList, OrderlyStopRunsDownwardFailureClimbsToTheTop) {
  Stacks s;
  s.outer.top()->deactivate();
  EXPECT_EQ(trace, (std::vector<std::string>{"B stop", "B down: success", "A stop", "A down: success", "W stop",
                                             "W down: success", "outer: down success"}));

  trace.clear();
  s.a->on_deactivate(Smart_pointer<Internal_protocol_status>(new Protocol_status_error(s.a, "link lost")));
  EXPECT_EQ(trace, (std::vector<std::string>{"A down: link lost", "B down: link lost", "outer: down link lost"}));

  // A status report climbs the same way, leaves the family and reaches the outer stack.
  trace.clear();
  s.a->on_status(Smart_pointer<Internal_protocol_status>(new Protocol_status_error(s.a, "TEI removed")));
  EXPECT_EQ(trace, (std::vector<std::string>{"outer: status TEI removed"}));
}

TEST(ProtocolsList, EmptyFamilyIgnoresEverythingAndFailsInitialisation) {
  trace.clear();
  ProtocolsFamily f;
  Packet p;
  p.reserve_head(0);
  EXPECT_EQ(f.message(p), 0);
  EXPECT_EQ(f.receive(p), 0);
  f.activate();
  f.deactivate();
  EXPECT_TRUE(trace.empty());
  Smart_pointer<Internal_protocol_status> st = f.initialize();
  EXPECT_FALSE(st->success());
  EXPECT_EQ(st->message(), "error");
  EXPECT_EQ(st->reporter(), &f);

  Stacks s;
  EXPECT_TRUE(s.f->initialize()->success());
  EXPECT_EQ(s.f->search(Protocol_name_str("A")), nullptr);  // layers match no name by default
}

TEST(ProtocolsList, StackDeletesItsLayersTopFirstAndALayerCanLeaveAlone) {
  {
    Stacks s;
    delete s.a;
    EXPECT_EQ(s.f->layers(), 1u);
    EXPECT_EQ(s.f->bottom(), s.b);
    EXPECT_EQ(s.b->get_prev(), nullptr);
    trace.clear();
  }
  EXPECT_EQ(trace, (std::vector<std::string>{"B deleted", "W deleted"}));
}

}  // namespace
