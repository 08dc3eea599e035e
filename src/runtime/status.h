// StatusCode of a property set on a control: zero or positive is success, negative is failure,
// in the manner of an HRESULT so that codes read the same on every platform.
// Callers pass every status to CheckPropertySet (fatal_error.h); nothing else inspects it.
#pragma once

#include <cstdint>

namespace clickburst::runtime {

using StatusCode = std::int32_t;

inline constexpr StatusCode kStatusOk = 0;
// E_INVALIDARG: a property value out of its range (a negative Interval).
inline constexpr StatusCode kStatusInvalidArgument = static_cast<StatusCode>(0x80070057u);
// E_FAIL: a property set that failed for no more specific reason (a refusal that
// TimerQueue's fault injector decides).
inline constexpr StatusCode kStatusFailed = static_cast<StatusCode>(0x80004005u);

constexpr bool Failed(StatusCode status) { return status < 0; }

}  // namespace clickburst::runtime
