#pragma once
// The stand-in programs' "crash" behaviour: an abort that dumps core in
// `dir` where the system writes one.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// Returns only when `dir` cannot be entered.
inline void crash_with_core(const std::string& dir) {
  rlimit core;
  if (::getrlimit(RLIMIT_CORE, &core) == 0) {
    // Bounded: a sanitized build maps much memory.
    core.rlim_cur = core.rlim_max < (64u << 20) ? core.rlim_max : (64u << 20);
    ::setrlimit(RLIMIT_CORE, &core);
  }
  if (::chdir(dir.c_str()) != 0) return;
  std::abort();
}
