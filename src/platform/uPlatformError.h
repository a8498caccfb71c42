#pragma once

#include <stdexcept>

namespace halvora {

// A facility of the windowing system that the subsystems share could not be reached, such
// as the display server; what() is Portuguese.
class EPlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace halvora
