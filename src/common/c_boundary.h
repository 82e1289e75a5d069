// Keeps C++ exceptions from crossing the C interface: an exported function whose body can throw
// (in practice only std::bad_alloc) runs it through at_c_boundary and returns a documented code.
#pragma once

#include <utility>

namespace lvx {

template <class Result, class Body>
Result at_c_boundary(Result on_exception, Body &&body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return on_exception;
  }
}

}  // namespace lvx
