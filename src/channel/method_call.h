#pragma once

#include <string>

#include "channel/value.h"

namespace nimbra {

// A method invocation as the method codec carries it: a name and one arguments value.
struct MethodCall {
  std::string method;
  Value arguments;
  friend bool operator==(const MethodCall&, const MethodCall&) = default;
};

}  // namespace nimbra
