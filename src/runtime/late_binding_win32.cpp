#include <windows.h>

#include <string>

#include "runtime/late_binding.h"
#include "runtime/win32_window.h"

namespace clickburst::runtime {
namespace {

std::string WindowsError() { return "Windows error " + std::to_string(GetLastError()); }

}  // namespace

RoutineAddress BindRoutine(const char* library, const char* routine) {
  // System32 only: a DLL of the same name planted beside the program or in the current
  // directory is never loaded. The module is never freed; the routine is kept for good.
  HMODULE module = LoadLibraryExW(Widen(library).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    RaiseBindingError(library, routine, "the library cannot be loaded (" + WindowsError() + ")");
  }
  RoutineAddress address = nullptr;
  if (!FindRoutine(module, routine, address)) {
    RaiseBindingError(library, routine, "the library has no such routine (" + WindowsError() + ")");
  }
  return address;
}

}  // namespace clickburst::runtime
