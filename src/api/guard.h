// The one boundary guard of the C interface. Every exported function runs its body through it:
// the library's process-wide records are built first (once), and no C++ exception ever crosses
// into the caller; a body that throws (in practice only std::bad_alloc) returns the function's
// documented failure value instead.
#pragma once

#include <type_traits>
#include <utility>

#include "library/library.h"

namespace lvx::api {

template <class Result, class Body>
Result guard(Result on_exception, Body &&body) noexcept {
  try {
    ensure_library();
    return std::forward<Body>(body)();
  } catch (...) {
    return on_exception;
  }
}

// For functions without a result.
template <class Body>
void guard_void(Body &&body) noexcept {
  try {
    ensure_library();
    std::forward<Body>(body)();
  } catch (...) {
  }
}

}  // namespace lvx::api
