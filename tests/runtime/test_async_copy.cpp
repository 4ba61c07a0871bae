// Asynchronous copy between real descriptors (files, pipes, loopback TCP).
// Descriptors here are ready or not in the kernel, so the loop runs on the
// process clock, bounded by a guard timer.
#include "runtime/async_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/loopback.h"

namespace {

typedef ASync::Copy::Status Status;
typedef std::vector<Status::Type> Reports;

bool guard_fired = false;
void on_guard() {
  guard_fired = true;
  multiplexer.terminate();
}

// Runs the loop until something terminates it; false when the guard ran out.
bool run_loop(unsigned int guard_ms = 20000) {
  guard_fired = false;
  Timer guard;
  guard.set(guard_ms, &on_guard);
  multiplexer.run(false, true);
  return !guard_fired;
}

// A non-blocking pipe; `size` sets its capacity.
struct Pipe {
  Fd r, w;
  explicit Pipe(int size = 0) {
    int p[2];
    if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) return;
    r = Fd(p[0]);
    w = Fd(p[1]);
    // Fd keeps a duplicate and closes the original: set the size through it.
    if (size) ::fcntl(w.lowlevel_fd(), F_SETPIPE_SZ, size);
  }
  // Fills the pipe until it takes no more; returns what was written.
  std::string fill() {
    const std::string chunk(4096, 'f');
    std::string all;
    while (::write(w.lowlevel_fd(), chunk.data(), chunk.size()) > 0) all += chunk;
    return all;
  }
};

// Reads a descriptor from the loop to its end, and stops the loop there.
struct Reader {
  Event ev;
  std::string data;

  explicit Reader(const Fd& fd) {
    ev.Bind("test::Reader", &Reader::OnRead, this);
    ev.Schedule(fd, POLLIN);
  }
  void OnRead(int fd, short revents) {
    if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) data.append(buf, size_t(n));
    if (n == 0) {
      ev.Release();
      multiplexer.terminate();
    }
  }
};

struct Owner {
  Reports reports;
  ASync::Copy* destroy = nullptr;
  bool stop_loop = false;
  void OnComplete(Status::Type s) {
    reports.push_back(s);
    delete destroy;
    if (stop_loop) multiplexer.terminate();
  }
};

Fd open_file(const std::string& name, const std::string& content) {
  const std::string path = platform::board_path("/usr/local/voice/" + name);
  std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << content;
  Fd fd;
  fd.open(path.c_str(), O_RDONLY | O_NONBLOCK);
  return fd;
}

class AsyncCopy : public ::testing::Test {
 protected:
  void SetUp() override { copy_.Bind(&Owner::OnComplete, &owner_); }

  // Starts a copy from a pipe holding `text` into a full pipe, so the write
  // waits for room; the source hangs up first when asked.
  void start_with_write_pending(const std::string& text, bool hang_up) {
    ASSERT_EQ(::write(src_.w.lowlevel_fd(), text.data(), text.size()), ssize_t(text.size()));
    if (hang_up) src_.w.close();
    prefill_ = dst_.fill();
    copy_.Start(src_.r, dst_.w);
    EXPECT_EQ(copy_.status(), Status::Copying);
  }
  // Drains the destination to its end; returns everything read.
  std::string drain_destination() {
    Reader reader(dst_.r);
    dst_.w.close();
    EXPECT_TRUE(run_loop());
    return reader.data;
  }

  Owner owner_;
  ASync::Copy copy_;
  Pipe src_;
  Pipe dst_{4096};
  std::string prefill_;
};

}  // namespace

TEST_F(AsyncCopy, OneMegabyteFromAFileToAPipe) {
  std::mt19937 gen(12345);
  std::string content(1 << 20, '\0');
  for (char& c : content) c = char(gen());
  Fd src = open_file("copy-test.bin", content);
  ASSERT_TRUE(src.is_valid());
  // The pipe is smaller than the buffer: writes are partial and must go on
  // from where they stopped.
  copy_.set_bufsize(8192);
  copy_.Start(src, dst_.w);
  src.close();  // the Copy keeps its own duplicates
  EXPECT_TRUE(drain_destination() == content);
  EXPECT_EQ(owner_.reports, Reports{Status::Done});
  EXPECT_EQ(copy_.written(), content.size());
}

TEST_F(AsyncCopy, EmptySourceCompletesAtOnceOrAfterTheFlush) {
  // Flush mask 0: done inside Start.
  copy_.set_events({POLLIN, POLLOUT, 0});
  copy_.Start(open_file("empty.bin", ""), dst_.w);
  EXPECT_EQ(owner_.reports, Reports{Status::Done});

  // With a flush mask: done when the destination reports it.
  copy_.set_events(ASync::Copy::EventsParams());
  EXPECT_EQ(owner_.reports.size(), 1u);  // an idle copy is not stopped
  Pipe p2;
  copy_.Start(open_file("empty.bin", ""), p2.w);
  EXPECT_EQ(copy_.status(), Status::FlushWait);
  owner_.stop_loop = true;
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(owner_.reports, (Reports{Status::Done, Status::Done}));
}

TEST_F(AsyncCopy, ReadErrorBeforeDataIsAnErrorAfterDataTheEnd) {
  owner_.stop_loop = true;
  copy_.set_events({POLLIN, POLLOUT, 0});
  for (const std::string sent : {"", "hello"}) {
    testsupport::LoopbackListener listener;
    testsupport::LoopbackPeer peer;
    ASSERT_TRUE(peer.connect(listener.port()));
    Fd ours(listener.accept(2000));
    ASSERT_TRUE(ours.NonBlock());
    if (!sent.empty()) peer.send(sent);
    // The peer goes away with a reset instead of an orderly end.
    linger lg{1, 0};
    ::setsockopt(peer.fd(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    peer.close();
    Pipe out;
    copy_.Start(ours, out.w);
    if (owner_.reports.empty()) {
      ASSERT_TRUE(run_loop());
    }
    EXPECT_EQ(owner_.reports, Reports{sent.empty() ? Status::Error : Status::Done});
    EXPECT_EQ(copy_.written(), sent.size());
    owner_.reports.clear();
  }
}

TEST_F(AsyncCopy, StopWhileAWriteIsPendingWritesTheRest) {
  start_with_write_pending("pending data", false);
  copy_.Stop();
  EXPECT_EQ(copy_.status(), Status::Flushing);
  EXPECT_TRUE(owner_.reports.empty());
  EXPECT_EQ(drain_destination(), prefill_ + "pending data");
  EXPECT_EQ(owner_.reports, Reports{Status::Done});
}

TEST_F(AsyncCopy, SourceHangUpWhileAWriteIsPending) {
  start_with_write_pending("last words", true);
  src_.r.close();
  // A hung-up source is no longer polled (else every pass would wake).
  EXPECT_FALSE(run_loop(100));
  for (const auto* list : {&multiplexer.active_list(), &multiplexer.pending_list()})
    for (EventHandler* h : *list) EXPECT_NE(h->event_name(), "Copy::OnSrcEvent");
  EXPECT_TRUE(owner_.reports.empty());
  EXPECT_EQ(drain_destination(), prefill_ + "last words");
  EXPECT_EQ(owner_.reports, Reports{Status::Done});
}

TEST_F(AsyncCopy, DestinationErrorAndStoppedCopies) {
  owner_.stop_loop = true;
  // The reader of the destination goes away while the copy waits to read.
  copy_.Start(src_.r, dst_.w);
  dst_.r.close();
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(owner_.reports, Reports{Status::Error});

  // New masks or a new buffer end a running copy with Stopped, once.
  Pipe src2, dst2;
  copy_.Start(src2.r, dst2.w);
  copy_.set_events(ASync::Copy::EventsParams());
  copy_.set_events(ASync::Copy::EventsParams());
  EXPECT_EQ(owner_.reports, (Reports{Status::Error, Status::Stopped}));
  copy_.Start(src2.r, dst2.w);
  copy_.set_bufsize(512);
  EXPECT_EQ(owner_.reports, (Reports{Status::Error, Status::Stopped, Status::Stopped}));
  // Stop on a finished copy neither restarts its flush nor reports again.
  copy_.Stop();
  EXPECT_EQ(copy_.status(), Status::Stopped);
  copy_.set_events(ASync::Copy::EventsParams());
  EXPECT_EQ(owner_.reports.size(), 3u);

  // A stopped copy left nothing in the loop: data written now is not read.
  ASSERT_EQ(::write(src2.w.lowlevel_fd(), "x", 1), 1);
  EXPECT_FALSE(run_loop(50));
}

TEST_F(AsyncCopy, BufferOfSizeZeroIsDroppedNotUsed) {
  // A zero-byte buffer would read nothing and end every copy at once.
  copy_.set_bufsize(0);
  copy_.set_events({POLLIN, POLLOUT, 0});
  copy_.Start(open_file("small.bin", "abc"), dst_.w);
  EXPECT_EQ(copy_.bufsize(), 1024u);
  EXPECT_EQ(copy_.written(), 3u);
  EXPECT_EQ(owner_.reports, Reports{Status::Done});
  // A read of a single byte is data too.
  copy_.Start(open_file("one.bin", "x"), dst_.w);
  EXPECT_EQ(copy_.written(), 1u);
  EXPECT_EQ(owner_.reports, (Reports{Status::Done, Status::Done}));
}

TEST(AsyncCopyOwner, HandlerMayDestroyTheCopy) {
  Owner owner;
  ASync::Copy* copy = new ASync::Copy;
  owner.destroy = copy;
  copy->Bind(&Owner::OnComplete, &owner);
  copy->set_events({POLLIN, POLLOUT, 0});
  Pipe dst;
  copy->Start(open_file("empty2.bin", ""), dst.w);
  EXPECT_EQ(owner.reports, Reports{Status::Done});

  // Also when Stop ends a copy that waits to read.
  owner.destroy = copy = new ASync::Copy;
  copy->Bind(&Owner::OnComplete, &owner);
  copy->set_events({POLLIN, POLLOUT, 0});
  Pipe src;
  copy->Start(src.r, dst.w);
  copy->Stop();
  EXPECT_EQ(owner.reports, (Reports{Status::Done, Status::Done}));
}

// Started short of descriptors, a copy runs to its end or ends with an
// error, never waits for good: each count of free descriptors meets another
// step, among them the events' copies of the two sides. The source is empty
// at the start, so the copy needs its source's event. In a child (its own
// limit), on the process clock.
TEST(AsyncCopyOutOfDescriptors, StartedShortOfDescriptorsEndsOneWayOrTheOther) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    {
      // Every type used is checked once (see descriptor_exhaustion.h).
      Pipe src, dst;
      Owner owner;
      owner.stop_loop = true;
      ASync::Copy copy;
      copy.Bind(&Owner::OnComplete, &owner);
      copy.Start(src.r, dst.w);
      src.w.close();
      run_loop(1000);
    }
    bool done = false;
    for (int free = 0; free <= 8 && !done; ++free) {
      const std::string at = " with " + std::to_string(free) + " free";
      Pipe src, dst;
      Owner owner;
      ASync::Copy copy;
      copy.Bind(&Owner::OnComplete, &owner);
      testsupport::DescriptorFill fill;
      if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
      for (int i = 0; i < free; ++i) fill.free_one();
      copy.Start(src.r, dst.w);
      fill.release();
      owner.stop_loop = true;  // not before: an end within Start has no loop to stop
      if (::write(src.w.lowlevel_fd(), "abc", 3) != 3) return failed.push_back("no write to the source");
      src.w.close();
      if (owner.reports.empty() && !run_loop(500)) failed.push_back("the copy waits for good" + at);
      if (owner.reports.size() != 1) continue;
      done = owner.reports[0] == Status::Done;
      if (!done && owner.reports[0] != Status::Error) failed.push_back("the copy ends neither done nor failed" + at);
      char buf[8];
      if (done && ::read(dst.r.lowlevel_fd(), buf, sizeof buf) != 3) failed.push_back("the copy lost its data" + at);
    }
    if (!done) failed.push_back("no copy done with 8 free descriptors");
  });
  EXPECT_EQ(failed, "");
}
