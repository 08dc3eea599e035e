// rusage: runs a program and writes what it cost to a file: "cpu_us <user+system µs>",
// "maxrss_kb <peak resident set>" and "status <exit status or -signal>". The same rusage
// /usr/bin/time -v reports, but CPU to the microsecond rather than the centisecond, and from a
// process small enough that what the child inherits before exec does not show in its peak.
// Exits with the program's status.
//
// Usage: rusage OUT-FILE PROGRAM [ARGS...]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUT-FILE PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  pid_t child = 0;
  if (posix_spawnp(&child, argv[2], nullptr, nullptr, argv + 2, environ) != 0) {
    std::perror("rusage: posix_spawnp");
    return 127;
  }
  int wait_status = 0;
  rusage usage{};
  if (wait4(child, &wait_status, 0, &usage) != child) {
    std::perror("rusage: wait4");
    return 1;
  }
  const long long cpu_us =
      (static_cast<long long>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1'000'000 +
      usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -WTERMSIG(wait_status);
  if (std::FILE* out = std::fopen(argv[1], "w")) {
    std::fprintf(out, "cpu_us %lld\nmaxrss_kb %ld\nstatus %d\n", cpu_us, usage.ru_maxrss, status);
    std::fclose(out);
  }
  return status >= 0 ? status : 128 - status;
}
