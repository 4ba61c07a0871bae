#pragma once
// Black-box runs of the real server program on the simulated board: a
// private board root, a free port, a controller speaking TPKT and PER over
// TCP, and a client of the simulator's control socket that reads and steers
// the board behind the running server. Every wait is in real time, bounded,
// and ends as soon as the awaited thing has happened.
//
//   testsupport::RunningServer srv;            // started, controller and
//   ASSERT_TRUE(srv.ready()) << srv.log();     // control socket connected
//   srv.ctl.send("C0 01 01 00 05 18");
//   EXPECT_EQ(srv.ctl.next(), "C0 01 01 00 05 40");
//   EXPECT_EQ(srv.sim.ask("hal get 69"), "none");
//
// The server sleeps one second whenever its controller leaves: keep one
// RunningServer for a group of cases (for example in SetUpTestSuite).
#include "tests/support/controller_client.h"
#include "tests/support/free_port.h"
#include "tests/support/log_sink.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// Generous for a loaded machine running sanitized builds.
constexpr int patience_ms = 15000;

std::int64_t real_ms();
// Polls the condition until it holds or the time is up.
bool eventually(const std::function<bool()>& cond, int timeout_ms = patience_ms);
std::string file_text(const std::string& path);
// The parent of a process, from /proc; -1 when it is gone.
int parent_pid(int pid);
// Where the simulated board moves its authentication port 52000 from. A
// server started without it in the environment gets a free port of its own.
constexpr const char* auth_port_variable = "GW_PORT_52000";
// The built server program.
const char* server_program();

// One run of the server program with the given arguments; its standard
// output and error go to files beside the board root's directories. The
// board root is the process's GW_BOARD_ROOT (see ScratchBoardRoot). A run
// still alive at destruction is killed.
class ServerProcess {
 public:
  // With `relative_root`, the program starts in the root's parent directory
  // and is given the root by its relative name. `starter`, when given, runs
  // in the new process right before the program: what a starter leaves it
  // (a signal mask, dispositions, descriptors).
  ServerProcess(const std::string& root, const std::vector<std::string>& args, bool relative_root = false,
                const std::function<void()>& starter = nullptr);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int sig);
  // The exit status, -1 when the program has not ended in time (or ended
  // by a signal).
  int wait(int timeout_ms = patience_ms);
  bool running();
  std::string out() const;
  std::string err() const;

 private:
  std::string out_path_, err_path_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// The answer to one control-socket request.
struct SimAnswer {
  std::vector<std::string> lines;  // the data lines
  std::string status;              // "ok", "error <reason>", or "" when none came
  bool ok() const { return status == "ok"; }
};

// A client of the simulator's control socket.
class SimClient {
 public:
  SimClient() = default;
  ~SimClient();
  SimClient(const SimClient&) = delete;
  SimClient& operator=(const SimClient&) = delete;

  // Connects to the socket at `path`, trying again until it is there.
  bool connect(const std::string& path, int timeout_ms = patience_ms);
  void close();
  // Sends one request line and collects the data lines up to ok/error.
  SimAnswer request(const std::string& line, int timeout_ms = patience_ms);
  // Sends one request line and leaves its answer to read_answer(): lines
  // posted back to back reach the board with no round trip between them.
  bool post(const std::string& line);
  // The next answer (for several requests sent in one line batch).
  SimAnswer read_answer(int timeout_ms = patience_ms);
  // The data lines of a request joined by "\n" when it answered ok, else
  // its status line.
  std::string ask(const std::string& line, int timeout_ms = patience_ms);

 private:
  bool read_line(std::string& line, std::int64_t deadline);
  int fd_ = -1;
  std::string buf_;
};

// The server on a fresh private board root and a free port, with a
// controller and a control-socket client connected. Stopped with SIGTERM
// when destroyed, and then it must end with status 0 (unless the test
// stopped it itself).
class RunningServer {
 public:
  explicit RunningServer(const std::vector<std::string>& extra_args = {});
  // `prepare` gets the board root before the server starts (configuration,
  // version files, driver texts).
  RunningServer(const std::vector<std::string>& extra_args, const std::function<void(const std::string&)>& prepare);
  ~RunningServer();

  // Whether the controller and the control-socket client got connected.
  bool ready() const { return ready_; }
  // Stops the server with SIGTERM; its exit status (-1: not in time).
  int stop();
  // Everything the server wrote so far (standard output, then error).
  std::string log() const;
  // Waits until the server's output holds the text; false when it did not
  // come in time.
  bool wait_log(const std::string& text, int timeout_ms = patience_ms) const;
  // Connects the controller anew (after a test closed it).
  bool reconnect();
  std::string board(const std::string& path) const { return root.path() + path; }

  ScratchBoardRoot root;
  std::uint16_t port;
  std::unique_ptr<ServerProcess> process;
  ControllerClient ctl;
  SimClient sim;

 private:
  bool ready_ = false;
  int status_ = -2;
};

}  // namespace testsupport
