#include <dlfcn.h>

#include <string>

#include "runtime/late_binding.h"

namespace clickburst::runtime {

bool LoadOptionalLibrary(const char* library, std::string& why) {
  // Kept loaded, as BindRoutine's dlopen of it then finds it.
  if (dlopen(library, RTLD_NOW | RTLD_LOCAL) == nullptr) {
    why = dlerror();
    return false;
  }
  return true;
}

RoutineAddress BindRoutine(const char* library, const char* routine) {
  // The handle is never closed: a bound routine is kept for the life of the process.
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    RaiseBindingError(library, routine,
                      std::string("the library cannot be loaded (") + dlerror() + ")");
  }
  dlerror();
  void* address = dlsym(handle, routine);
  if (address == nullptr) {
    const char* why = dlerror();
    RaiseBindingError(
        library, routine,
        std::string("the library has no such routine (") + (why ? why : "null") + ")");
  }
  return reinterpret_cast<RoutineAddress>(address);
}

}  // namespace clickburst::runtime
