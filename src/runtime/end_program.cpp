#include "runtime/end_program.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "runtime/platform.h"

namespace clickburst::runtime {
namespace {

testing::ProcessExit g_process_exit = nullptr;
void (*g_click_input_end)() = nullptr;
bool g_click_input_ended = false;

}  // namespace

void ExitProcessWith(int status) {
  EndClickInput();
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

void SetClickInputEnd(void (*end)()) { g_click_input_end = end; }

void EndClickInput() {
  g_click_input_ended = true;
  // Taken before it runs: a failure reported from inside it must not run it again.
  if (void (*end)() = std::exchange(g_click_input_end, nullptr)) {
    end();
  }
}

bool ClickInputEnded() { return g_click_input_ended; }

void testing::ReplaceProcessExit(ProcessExit exit) { g_process_exit = exit; }

}  // namespace clickburst::runtime
