#pragma once
// The message of what a call raises, for tests that pin messages.
#include <exception>
#include <functional>
#include <string>

namespace quorvel {

// e.what() of the exception AFunc raises, or "(nothing raised)".
inline std::string MessageOf(const std::function<void()>& AFunc) {
  try {
    AFunc();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}

}  // namespace quorvel
