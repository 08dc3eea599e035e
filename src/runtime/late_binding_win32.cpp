#include <windows.h>

#include <string>

#include "runtime/late_binding.h"

namespace clickburst::runtime {
namespace {

std::wstring Widen(const char* ascii) {
  std::wstring wide;
  for (; *ascii != '\0'; ++ascii) {
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*ascii)));
  }
  return wide;
}

std::string WindowsError() { return "Windows error " + std::to_string(GetLastError()); }

}  // namespace

RoutineAddress BindRoutine(const char* library, const char* routine) {
  // System32 only: a DLL of the same name planted beside the program or in the current
  // directory is never loaded. The module is never freed; the routine is kept for good.
  HMODULE module = LoadLibraryExW(Widen(library).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    RaiseBindingError(library, routine, "the library cannot be loaded (" + WindowsError() + ")");
  }
  FARPROC address = GetProcAddress(module, routine);
  if (address == nullptr) {
    RaiseBindingError(library, routine, "the library has no such routine (" + WindowsError() + ")");
  }
  return reinterpret_cast<RoutineAddress>(address);
}

}  // namespace clickburst::runtime
