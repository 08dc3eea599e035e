#include "runtime/end_program.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "runtime/platform.h"

namespace clickburst::runtime {
namespace {

testing::ProcessExit g_process_exit = nullptr;
void (*g_click_flush)() = nullptr;

}  // namespace

void ExitProcessWith(int status) {
  // Taken before it runs: a failure reported from inside it must not flush again.
  if (void (*flush)() = std::exchange(g_click_flush, nullptr)) {
    flush();
  }
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

void SetClickFlushAtExit(void (*flush)()) { g_click_flush = flush; }

void testing::ReplaceProcessExit(ProcessExit exit) { g_process_exit = exit; }

}  // namespace clickburst::runtime
