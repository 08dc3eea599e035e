#include "runtime/end_program.h"

#include <cstdio>
#include <cstdlib>

#include "runtime/platform.h"

namespace clickburst::runtime {
namespace {

testing::ProcessExit g_process_exit = nullptr;

}  // namespace

void ExitProcessWith(int status) {
  FlushDisplayOutput();
  std::fflush(stdout);
  std::fflush(stderr);
  if (g_process_exit != nullptr) {
    g_process_exit(status);
  }
  // _Exit, not exit: no destructor or atexit handler may run a handler or touch a timer now.
  std::_Exit(status);
}

void EndProgram() { ExitProcessWith(kExitEnded); }

void testing::ReplaceProcessExit(ProcessExit exit) { g_process_exit = exit; }

}  // namespace clickburst::runtime
