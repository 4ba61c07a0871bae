// Asynchronous copy between real descriptors (files, pipes, loopback TCP).
// Descriptors here are ready or not in the kernel, so the loop runs on the
// process clock, bounded by a guard timer.
#include "runtime/async_copy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"

namespace {

typedef ASync::Copy::Status Status;

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
    if (size) ::fcntl(p[1], F_SETPIPE_SZ, size);
  }
  // Fills the pipe until it takes no more; returns the byte count.
  size_t fill(char c) {
    std::string chunk(4096, c);
    size_t total = 0;
    for (;;) {
      ssize_t n = ::write(w.lowlevel_fd(), chunk.data(), chunk.size());
      if (n <= 0) break;
      total += size_t(n);
    }
    return total;
  }
};

// Reads a descriptor from the loop until its end; may stop the loop there.
struct Reader {
  Event ev;
  std::string data;
  bool eof = false;

  explicit Reader(const Fd& fd) {
    ev.Bind("test::Reader", &Reader::OnRead, this);
    ev.Schedule(fd, POLLIN);
  }
  void OnRead(int fd, short revents) {
    if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) {
        data.append(buf, size_t(n));
        continue;
      }
      if (n == 0) {
        eof = true;
        ev.Release();
        multiplexer.terminate();
      }
      return;
    }
  }
};

struct Owner {
  std::vector<Status::Type> reports;
  ASync::Copy* destroy = nullptr;
  bool stop_loop = false;
  void OnComplete(Status::Type s) {
    reports.push_back(s);
    if (destroy) delete destroy;
    if (stop_loop) multiplexer.terminate();
  }
};

std::string random_bytes(size_t n) {
  std::mt19937 gen(12345);
  std::string s(n, '\0');
  for (char& c : s) c = char(gen());
  return s;
}

Fd open_file(const std::string& path, const std::string& content) {
  {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << content;
  }
  Fd fd;
  fd.open(path.c_str(), O_RDONLY | O_NONBLOCK);
  return fd;
}

// A connected loopback TCP pair: `ours` is accepted by a listener.
struct TcpPair {
  int ours = -1, peer = -1;
  TcpPair() {
    int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ::bind(l, reinterpret_cast<sockaddr*>(&sa), len);
    ::getsockname(l, reinterpret_cast<sockaddr*>(&sa), &len);
    ::listen(l, 1);
    peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(peer, reinterpret_cast<sockaddr*>(&sa), len);
    ours = ::accept4(l, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    ::close(l);
  }
  ~TcpPair() {
    ::close(ours);
    if (peer >= 0) ::close(peer);
  }
  // The peer goes away with a reset instead of an orderly end.
  void reset_peer() {
    linger lg{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    ::close(peer);
    peer = -1;
  }
};

}  // namespace

TEST(AsyncCopy, OneMegabyteFromAFileToAPipe) {
  const std::string content = random_bytes(1 << 20);
  Fd src = open_file(platform::board_path("/usr/local/voice/copy-test.bin"), content);
  ASSERT_TRUE(src.is_valid());
  // A pipe smaller than the buffer: writes are partial and must go on from
  // where they stopped.
  Pipe pipe(4096);
  Reader reader(pipe.r);
  Owner owner;
  ASync::Copy copy;
  copy.set_bufsize(8192);
  copy.Bind(&Owner::OnComplete, &owner);
  copy.Start(src, pipe.w);
  pipe.w.close();
  src.close();  // the Copy keeps its own duplicates

  ASSERT_TRUE(run_loop());
  EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Done});
  EXPECT_EQ(copy.written(), content.size());
  EXPECT_TRUE(reader.eof);
  EXPECT_TRUE(reader.data == content) << reader.data.size() << " bytes read";
}

TEST(AsyncCopy, EmptySourceCompletesAtOnceOrAfterTheFlush) {
  const std::string path = platform::board_path("/usr/local/voice/empty.bin");
  Owner owner;
  ASync::Copy copy;
  copy.Bind(&Owner::OnComplete, &owner);

  // Flush mask 0: done inside Start.
  copy.set_events({POLLIN, POLLOUT, 0});
  Pipe p1;
  copy.Start(open_file(path, ""), p1.w);
  EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Done});

  // With a flush mask: done when the destination reports it.
  copy.set_events(ASync::Copy::EventsParams());
  EXPECT_EQ(owner.reports.size(), 1u);  // an idle copy is not stopped
  Pipe p2;
  copy.Start(open_file(path, ""), p2.w);
  EXPECT_EQ(copy.status(), Status::FlushWait);
  owner.stop_loop = true;
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(owner.reports, (std::vector<Status::Type>{Status::Done, Status::Done}));
}

TEST(AsyncCopy, ReadErrorBeforeDataIsAnErrorAfterDataTheEnd) {
  Owner owner;
  owner.stop_loop = true;
  {
    TcpPair tcp;
    tcp.reset_peer();
    Pipe out;
    ASync::Copy copy;
    copy.Bind(&Owner::OnComplete, &owner);
    copy.Start(Fd(::dup(tcp.ours)), out.w);
    if (owner.reports.empty()) {
      ASSERT_TRUE(run_loop());
    }
    EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Error});
  }
  owner.reports.clear();
  {
    TcpPair tcp;
    ASSERT_EQ(::write(tcp.peer, "hello", 5), 5);
    tcp.reset_peer();
    Pipe out;
    Reader reader(out.r);
    ASync::Copy copy;
    copy.set_events({POLLIN, POLLOUT, 0});
    copy.Bind(&Owner::OnComplete, &owner);
    copy.Start(Fd(::dup(tcp.ours)), out.w);
    if (owner.reports.empty()) {
      ASSERT_TRUE(run_loop());
    }
    EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Done});
    EXPECT_EQ(copy.written(), 5u);
  }
}

TEST(AsyncCopy, StopWhileAWriteIsPendingWritesTheRest) {
  Pipe src;
  ASSERT_EQ(::write(src.w.lowlevel_fd(), "pending data", 12), 12);
  Pipe dst(4096);
  const size_t prefill = dst.fill('f');
  Owner owner;
  ASync::Copy copy;
  copy.Bind(&Owner::OnComplete, &owner);
  copy.Start(src.r, dst.w);
  EXPECT_EQ(copy.status(), Status::Copying);  // the write waits for room

  copy.Stop();
  EXPECT_EQ(copy.status(), Status::Flushing);
  EXPECT_TRUE(owner.reports.empty());

  Reader reader(dst.r);
  dst.w.close();
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Done});
  EXPECT_EQ(reader.data, std::string(prefill, 'f') + "pending data");
}

TEST(AsyncCopy, SourceHangUpWhileAWriteIsPending) {
  Pipe src;
  ASSERT_EQ(::write(src.w.lowlevel_fd(), "last words", 10), 10);
  src.w.close();  // the source hangs up
  Pipe dst(4096);
  const size_t prefill = dst.fill('f');
  Owner owner;
  ASync::Copy copy;
  copy.Bind(&Owner::OnComplete, &owner);
  copy.Start(src.r, dst.w);
  src.r.close();

  // A hung-up source is no longer polled (else every pass would wake).
  EXPECT_FALSE(run_loop(100));
  for (EventHandler* h : multiplexer.active_list()) EXPECT_NE(h->event_name(), "Copy::OnSrcEvent");
  for (EventHandler* h : multiplexer.pending_list()) EXPECT_NE(h->event_name(), "Copy::OnSrcEvent");
  EXPECT_TRUE(owner.reports.empty());

  Reader reader(dst.r);
  dst.w.close();
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Done});
  EXPECT_EQ(reader.data, std::string(prefill, 'f') + "last words");
}

TEST(AsyncCopy, DestinationErrorAndStoppedCopies) {
  Owner owner;
  owner.stop_loop = true;
  ASync::Copy copy;
  copy.Bind(&Owner::OnComplete, &owner);

  // The reader of the destination goes away while the copy waits to read.
  Pipe src, dst;
  copy.Start(src.r, dst.w);
  dst.r.close();
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Error});

  // New masks or a new buffer end a running copy with Stopped, once.
  Pipe src2, dst2;
  copy.Start(src2.r, dst2.w);
  copy.set_events(ASync::Copy::EventsParams());
  copy.set_events(ASync::Copy::EventsParams());
  EXPECT_EQ(owner.reports, (std::vector<Status::Type>{Status::Error, Status::Stopped}));
  copy.Start(src2.r, dst2.w);
  copy.set_bufsize(512);
  EXPECT_EQ(copy.bufsize(), 512u);
  EXPECT_EQ(owner.reports.back(), Status::Stopped);
  EXPECT_EQ(owner.reports.size(), 3u);

  // A stopped copy left nothing in the loop: data written now is not read.
  ASSERT_EQ(::write(src2.w.lowlevel_fd(), "x", 1), 1);
  EXPECT_FALSE(run_loop(50));
}

TEST(AsyncCopy, HandlerMayDestroyTheCopy) {
  Owner owner;
  ASync::Copy* copy = new ASync::Copy;
  owner.destroy = copy;
  copy->Bind(&Owner::OnComplete, &owner);
  copy->set_events({POLLIN, POLLOUT, 0});
  Pipe dst;
  copy->Start(open_file(platform::board_path("/usr/local/voice/empty2.bin"), ""), dst.w);
  EXPECT_EQ(owner.reports, std::vector<Status::Type>{Status::Done});
}
