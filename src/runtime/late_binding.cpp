#include "runtime/late_binding.h"

#include <string>

#include "runtime/fatal_error.h"

namespace clickburst::runtime {

void RaiseBindingError(const char* library, const char* routine, std::string_view reason) {
  std::string text = "cannot bind routine \"";
  text.append(routine).append("\" of library \"").append(library).append("\": ").append(reason);
  RaiseRunTimeError(text);
}

}  // namespace clickburst::runtime
