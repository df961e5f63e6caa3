// A value together with the failure that kept it from being computed.
#pragma once

#include "failure.hpp"

namespace tandemo {

template <class T>
struct Checked {
  T value{};
  Failure failure = Failure::None;

  constexpr Checked(T v) : value(v) {}  // implicit on purpose: "return value;" reads naturally
  constexpr Checked(Failure f) : failure(f) {}

  constexpr bool ok() const { return failure == Failure::None; }
  constexpr explicit operator bool() const { return ok(); }
};

}  // namespace tandemo
