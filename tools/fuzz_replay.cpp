// Replays fuzz inputs through a fuzz target built without libFuzzer, so that
// a corpus grown natively runs on the board's processor too (under qemu).
//   <target>_replay [-o dir] file...
// Each file is one input. With -o, what the target writes during an input
// (standard streams, descriptors 1 and 2) goes to dir/<file name>.log:
// comparing the logs of two builds shows where the processors differ. The
// first call is an empty input, so a target's one-time set-up (which may
// silence the streams) is done before the streams are taken over; a target
// that sends its logs to a string of its own has that string's text logged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::string out_dir;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "-o") == 0) {
    out_dir = argv[2];
    first = 3;
  }
  static const std::uint8_t none[1] = {0};
  LLVMFuzzerTestOneInput(none, 0);
  int replayed = 0;
  for (int i = first; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
      return 2;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A heap block of the input's own size: a read past it is the fault.
    std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
    std::ostringstream captured;
    std::streambuf* saved[3] = {std::cout.rdbuf(), std::cerr.rdbuf(), std::clog.rdbuf()};
    int saved_fd[2] = {-1, -1};
    std::string log_name;
    if (!out_dir.empty()) {
      const char* base = std::strrchr(argv[i], '/');
      log_name = out_dir + "/" + (base ? base + 1 : argv[i]) + ".log";
      const int fd = ::open(log_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) {
        std::fprintf(stderr, "replay: cannot write %s\n", log_name.c_str());
        return 2;
      }
      std::fflush(nullptr);
      saved_fd[0] = ::dup(1);
      saved_fd[1] = ::dup(2);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::close(fd);
      std::cout.rdbuf(captured.rdbuf());
      std::cerr.rdbuf(captured.rdbuf());
      std::clog.rdbuf(captured.rdbuf());
    }
    LLVMFuzzerTestOneInput(data.get(), bytes.size());
    if (!out_dir.empty()) {
      // A target that keeps its logs in a string of its own (emptied at
      // each input) has them read from there.
      std::streambuf* seen[3] = {std::cout.rdbuf(), std::cerr.rdbuf(), std::clog.rdbuf()};
      for (int s = 0; s < 3; ++s) {
        auto* own = dynamic_cast<std::stringbuf*>(seen[s]);
        if (own && own != captured.rdbuf() && (s == 0 || seen[s] != seen[0]) && (s < 2 || seen[s] != seen[1]))
          captured << own->str();
      }
      std::cout.rdbuf(saved[0]);
      std::cerr.rdbuf(saved[1]);
      std::clog.rdbuf(saved[2]);
      std::fflush(nullptr);
      ::dup2(saved_fd[0], 1);
      ::dup2(saved_fd[1], 2);
      ::close(saved_fd[0]);
      ::close(saved_fd[1]);
      std::ofstream log(log_name, std::ios::binary | std::ios::app);
      log << captured.str();
    }
    ++replayed;
  }
  std::fprintf(stderr, "replay: %d inputs\n", replayed);
  return 0;
}
